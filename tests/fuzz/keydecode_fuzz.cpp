// The terminal key decoder on any bytes: whatever the chunks the bytes
// arrive in, the same keys come out, each as a press and its release, and
// a time-out leaves nothing held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/posix/keydecode.h"

namespace {

using crt::term::InputEvent;
using crt::term::KeyDecoder;

bool Same(const InputEvent& a, const InputEvent& b) {
  return a.EventType == b.EventType && a.KeyDown == b.KeyDown && a.VirtualKeyCode == b.VirtualKeyCode &&
         a.VirtualScanCode == b.VirtualScanCode && a.AsciiChar == b.AsciiChar &&
         a.ControlKeyState == b.ControlKeyState;
}

struct Outcome {
  std::vector<InputEvent> events;
  bool holding = false;
  bool report = false;
  int32_t row = 0, column = 0;
};

// Feeds the bytes in chunks whose lengths come from `cuts` (0: all at once).
Outcome Decode(bool lineFeedIsEnter, int reports, const uint8_t* bytes, size_t n, const uint8_t* cuts,
               size_t cutCount) {
  KeyDecoder d(lineFeedIsEnter);
  for (int i = 0; i < reports; ++i) d.ExpectCursorReport();
  size_t at = 0, c = 0;
  while (at < n) {
    size_t len = cutCount ? (cuts[c++ % cutCount] % 8) + 1 : n;
    if (len > n - at) len = n - at;
    d.Feed(bytes + at, len);
    at += len;
  }
  Outcome o;
  o.holding = d.Holding();
  InputEvent ev;
  while (d.Pop(ev)) o.events.push_back(ev);
  o.report = d.TakeCursorReport(o.row, o.column);
  if (d.TakeCursorReport(o.row, o.column)) std::abort();  // taken once
  return o;
}

void CheckPairs(const std::vector<InputEvent>& events) {
  if (events.size() % 2) std::abort();
  for (size_t i = 0; i < events.size(); i += 2) {
    InputEvent up = events[i];
    up.KeyDown = false;
    if (events[i].EventType != crt::device::KEY_EVENT || !events[i].KeyDown || !Same(up, events[i + 1]))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // First byte: the mode and how many cursor reports are expected; the
  // second: how many of the following bytes are chunk lengths.
  const bool lineFeedIsEnter = data[0] & 1;
  const int reports = (data[0] >> 1) & 3;
  const size_t cutCount = std::min<size_t>(data[1] % 16, size - 2);
  const uint8_t* cuts = data + 2;
  const uint8_t* bytes = cuts + cutCount;
  const size_t n = size - 2 - cutCount;

  const Outcome whole = Decode(lineFeedIsEnter, reports, bytes, n, nullptr, 0);
  const Outcome bytewise = Decode(lineFeedIsEnter, reports, bytes, n, reinterpret_cast<const uint8_t*>("\0"), 1);
  const Outcome chunked = Decode(lineFeedIsEnter, reports, bytes, n, cuts, cutCount);
  for (const Outcome* o : {&whole, &bytewise, &chunked}) {
    CheckPairs(o->events);
    // Every byte makes at most one key.
    if (o->events.size() > 2 * n) std::abort();
    if (o->events.size() != whole.events.size() || o->holding != whole.holding || o->report != whole.report ||
        o->row != whole.row || o->column != whole.column)
      std::abort();
    for (size_t i = 0; i < o->events.size(); ++i)
      if (!Same(o->events[i], whole.events[i])) std::abort();
  }
  if (reports == 0 && whole.report) std::abort();

  // The time-out: what was held becomes at most one key, and nothing is
  // held after it.
  KeyDecoder d(lineFeedIsEnter);
  d.Feed(bytes, n);
  const size_t before = d.Queued();
  d.Expire();
  if (d.Holding() || d.Queued() - before > 2 || (!whole.holding && d.Queued() != before)) std::abort();
  std::vector<InputEvent> all;
  InputEvent ev;
  while (d.Pop(ev)) all.push_back(ev);
  CheckPairs(all);
  return 0;
}

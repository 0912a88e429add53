// Terminal input as console key events: the bytes an xterm-compatible
// terminal sends for a key become the key-down and key-up events a Windows
// console delivers for the same key on a US keyboard, so the portable key
// filter sees no difference.  Also the code page 437 glyph table that both
// directions share.  Pure code without platform headers: the terminal
// device feeds it and keeps its clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "runtime/console_device.h"

namespace crt::term {

using device::InputEvent;

// How long a held Esc waits for the rest of a sequence before it counts as
// the Esc key (or Alt with the key after it).
inline constexpr uint32_t kEscTimeoutMs = 50;

// Code page 437 as the console shows it: 0 is a blank, the control codes are
// their glyphs.  Writes the character's UTF-8 form to out and returns its
// length (1 to 3).
size_t GlyphUtf8(uint8_t ch, char out[4]);
// The code page 437 character in 0x80..0xFF for a Unicode code point, or -1.
// Only that half is taken from typed text: the glyphs of the control codes
// are for showing, not characters to type.
int Cp437FromUnicode(uint32_t cp);

class KeyDecoder {
 public:
  // With lineFeedIsEnter, byte 10 is Enter (text from a pipe or file);
  // otherwise it is Ctrl-J, as a terminal sends it.
  KeyDecoder() = default;
  explicit KeyDecoder(bool lineFeedIsEnter) : lineFeedIsEnter_(lineFeedIsEnter) {}

  // Consumes every byte: completed keys are queued, the start of a sequence
  // is held until it completes, and what makes no key is dropped.
  void Feed(const uint8_t* bytes, size_t n);
  void Feed(uint8_t byte) { Feed(&byte, 1); }
  // True while bytes are held for the rest of a sequence.
  bool Holding() const { return state_ != State::Ground; }
  // The time-out ran out with bytes held: a lone Esc is the Esc key, Esc
  // with '[' or 'O' is Alt with that key, and any other partial sequence is
  // dropped.
  void Expire();

  // A cursor position report is expected: the next reports are taken as
  // such instead of as keys (xterm's Ctrl/Shift-F3 has the same form).
  // Counted, so that a late answer to an earlier question is still eaten.
  void ExpectCursorReport() { ++reportsExpected_; }
  // The newest report that arrived, 1-based, and forgets it.
  bool TakeCursorReport(int32_t& row, int32_t& column);

  size_t Queued() const { return events_.size(); }
  bool Pop(InputEvent& ev);

 private:
  enum class State : uint8_t { Ground, Escape, Csi, Ss3, LinuxFn, Utf8 };

  void Ground(uint8_t b);
  void Sequence(uint8_t b);
  void Utf8Byte(uint8_t b);
  void FinishCsi(uint8_t final);
  void FinishSs3(uint8_t final);
  void Reset();
  // Queues a key as pressed and released.
  void Key(uint16_t vk, uint16_t scan, uint8_t ch, uint32_t state);
  void CharKey(uint8_t ch, uint32_t extra);
  // Parameters of the sequence held; false when it has any that are not
  // plain decimal numbers.
  bool Params(int32_t (&out)[4], int& count) const;

  bool lineFeedIsEnter_ = false;
  State state_ = State::Ground;
  bool alt_ = false;           // the sequence or character came after Esc
  char params_[16] = {};
  uint8_t paramLen_ = 0;
  bool paramsBad_ = false;     // too long, or intermediate bytes: never a key
  uint32_t codePoint_ = 0;
  uint8_t utf8Left_ = 0;
  uint8_t utf8Len_ = 0;
  uint32_t reportsExpected_ = 0;
  bool haveReport_ = false;
  int32_t reportRow_ = 0, reportColumn_ = 0;
  std::deque<InputEvent> events_;
};

}  // namespace crt::term

#include "runtime/headless/scripted_console.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

namespace crt::scripted {
namespace {

struct Console {
  int32_t Width = 80;
  int32_t Height = 25;
  int32_t CursorX = 0;
  int32_t CursorY = 0;
  uint8_t Attr = 0x07;
  std::vector<ScreenCell> Cells = std::vector<ScreenCell>(80 * 25, ScreenCell{' ', 0x07});
  std::deque<InputEvent> Events;
  bool PolledEmpty = false;   // a poll found no events, nothing arrived since
  bool QueryFails = false;
  bool OpenFails = false;
  bool StdOutConsole = true;
  std::function<void()> Exhausted;
};

Console con;

bool IsScreen(Handle h) {
  return h == ConsoleOutputHandle ||
         (con.StdOutConsole && h == sys::os::GetStdHandle(sys::os::StdOutputHandle));
}

bool IsKeyboard(Handle h) { return h == sys::os::GetStdHandle(sys::os::StdInputHandle); }

bool Inside(int32_t x, int32_t y) { return x >= 0 && x < con.Width && y >= 0 && y < con.Height; }

ScreenCell& At(int32_t x, int32_t y) { return con.Cells[static_cast<size_t>(y * con.Width + x)]; }

}  // namespace

void Reset(int32_t width, int32_t height, int32_t cursorX, int32_t cursorY, uint8_t attr) {
  con = Console{};
  con.Width = width;
  con.Height = height;
  con.CursorX = cursorX;
  con.CursorY = cursorY;
  con.Attr = attr;
  con.Cells.assign(static_cast<size_t>(width * height), ScreenCell{' ', attr});
}

void FailScreenQuery(bool fail) { con.QueryFails = fail; }
void FailConsoleOpen(bool fail) { con.OpenFails = fail; }
void StdOutIsConsole(bool yes) { con.StdOutConsole = yes; }
void SetInputExhaustedHandler(std::function<void()> handler) { con.Exhausted = std::move(handler); }

void PushEvent(const InputEvent& ev) {
  con.Events.push_back(ev);
  con.PolledEmpty = false;
}

void PushKey(uint16_t vk, uint16_t scan, uint8_t ch, uint32_t state, bool down) {
  PushEvent(device::KeyEvent(vk, scan, ch, state, down));
}

void PushChar(uint8_t ch) {
  uint16_t vk = 0;
  uint16_t scan = 0;
  uint32_t state = 0;
  switch (ch) {
    case 8: vk = 0x08; scan = 14; break;
    case 9: vk = 0x09; scan = 15; break;
    case 13: vk = 0x0D; scan = 28; break;
    case 27: vk = 0x1B; scan = 1; break;
    case ' ': vk = 0x20; scan = 57; break;
    default:
      if (ch >= 'a' && ch <= 'z') {
        vk = static_cast<uint16_t>(ch - 'a' + 'A');
      } else if ((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')) {
        vk = ch;
        if (ch >= 'A') state = device::SHIFT_PRESSED;
      } else if (ch >= 1 && ch <= 26) {
        vk = static_cast<uint16_t>('A' + ch - 1);
        state = device::LEFT_CTRL_PRESSED;
      }
  }
  PushKey(vk, scan, ch, state, true);
  PushKey(vk, scan, ch, state, false);
}

void PushText(const std::string& text) {
  for (char c : text) PushChar(static_cast<uint8_t>(c));
}

void PushExtended(uint16_t vk, uint16_t scan, uint32_t state) {
  PushKey(vk, scan, 0, state, true);
  PushKey(vk, scan, 0, state, false);
}

int32_t QueuedEvents() { return static_cast<int32_t>(con.Events.size()); }

ScreenCell Cell(int32_t x, int32_t y) { return Inside(x, y) ? At(x, y) : ScreenCell{}; }

std::string RowText(int32_t y) {
  std::string row;
  for (int32_t x = 0; x < con.Width && Inside(x, y); ++x) row += static_cast<char>(At(x, y).Ch);
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}

int32_t CursorX() { return con.CursorX; }
int32_t CursorY() { return con.CursorY; }

}  // namespace crt::scripted

namespace crt::device {

using scripted::con;
using scripted::ScreenCell;

bool QueryScreen(Handle out, ScreenInfo& info) {
  if (con.QueryFails || !scripted::IsScreen(out)) return false;
  info = ScreenInfo{con.Width, con.Height, con.CursorX, con.CursorY, con.Attr};
  return true;
}

Handle OpenConsoleOutput() { return con.OpenFails ? sys::os::InvalidHandle : scripted::ConsoleOutputHandle; }

int32_t PendingEvents(Handle in) {
  if (!scripted::IsKeyboard(in)) return 0;
  if (con.Events.empty()) con.PolledEmpty = true;
  return static_cast<int32_t>(con.Events.size());
}

bool ReadEvent(Handle in, InputEvent& ev) {
  if (!scripted::IsKeyboard(in) || con.Events.empty()) return false;
  ev = con.Events.front();
  con.Events.pop_front();
  con.PolledEmpty = false;
  return true;
}

void WaitForInput(Handle, uint32_t) {
  if (!con.Events.empty()) return;
  if (!std::exchange(con.PolledEmpty, false)) return;
  if (!con.Exhausted) throw scripted::InputExhausted();
  con.Exhausted();
}

void WriteCell(Handle out, int32_t x, int32_t y, uint8_t ch, uint8_t attr) {
  if (scripted::IsScreen(out) && scripted::Inside(x, y)) scripted::At(x, y) = ScreenCell{ch, attr};
}

void SetCursor(Handle out, int32_t x, int32_t y) {
  if (!scripted::IsScreen(out) || !scripted::Inside(x, y)) return;
  con.CursorX = x;
  con.CursorY = y;
}

void ScrollUp(Handle out, int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t attr) {
  if (!scripted::IsScreen(out)) return;
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, con.Width - 1);
  bottom = std::min(bottom, con.Height - 1);
  for (int32_t y = top; y <= bottom; ++y)
    for (int32_t x = left; x <= right; ++x)
      scripted::At(x, y) = y < bottom ? scripted::At(x, y + 1) : ScreenCell{' ', attr};
}

}  // namespace crt::device

// The console device on the Windows console (kernel32).  The console's
// input and output modes are never changed: the key events arrive as the
// console delivers them, and the console module does its own editing, echo
// and scrolling through single cells, the cursor and block scrolls.
//
// Standard input that is no console (a file or a pipe) is read as typed
// text: each byte waiting is a key going down, CR or LF is Enter (CR LF is
// one Enter), and once the input has ended every read gives Enter, so a
// line input at the end of the input ends instead of waiting forever.
// The device's names are Windows' own console macros: its header comes
// first, before they are defined.
#include "runtime/console_device.h"
#include "runtime/vkeys.h"

#include <windows.h>

namespace crt::device {

namespace {

HANDLE AsHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }

bool IsConsoleInput(HANDLE h) {
  DWORD mode;
  return ::GetConsoleMode(h, &mode) != 0;
}

// ------------------------------------------------------------ text input

struct TextInput {
  bool Ended = false;    // nothing more to read: every key is Enter
  bool AfterCr = false;  // the LF of a CR LF is not a second Enter
};
TextInput text;

// Bytes that can be read without blocking; a file always has one more, or
// its end.
int32_t TextWaiting(HANDLE h) {
  if (text.Ended) return 1;
  if (::GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD avail = 0;
    if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr)) return 1;  // broken: its end
    return static_cast<int32_t>(avail);
  }
  return 1;
}

InputEvent TypedKey(uint8_t ch) {
  if (ch == 13) return KeyEvent(vk::Return, 28, 13, 0, true);
  return KeyEvent(0, 0, ch, 0, true);
}

bool ReadTextKey(HANDLE h, InputEvent& ev) {
  for (;;) {
    if (text.Ended) {
      ev = TypedKey(13);
      return true;
    }
    char c;
    DWORD got = 0;
    if (!::ReadFile(h, &c, 1, &got, nullptr) || got == 0) {
      text.Ended = true;
      continue;
    }
    const uint8_t ch = static_cast<uint8_t>(c);
    const bool afterCr = text.AfterCr;
    text.AfterCr = ch == 13;
    if (ch == 10 && afterCr) continue;
    ev = TypedKey(ch == 10 ? 13 : ch);
    return true;
  }
}

}  // namespace

bool QueryScreen(Handle out, ScreenInfo& info) {
  CONSOLE_SCREEN_BUFFER_INFO csbi;
  if (!::GetConsoleScreenBufferInfo(AsHandle(out), &csbi)) return false;
  info.Width = csbi.dwSize.X;
  info.Height = csbi.dwSize.Y;
  info.CursorX = csbi.dwCursorPosition.X;
  info.CursorY = csbi.dwCursorPosition.Y;
  info.Attributes = csbi.wAttributes;
  return true;
}

Handle OpenConsoleOutput() {
  HANDLE h = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  return reinterpret_cast<Handle>(h);
}

int32_t PendingEvents(Handle in) {
  HANDLE h = AsHandle(in);
  DWORD n = 0;
  if (::GetNumberOfConsoleInputEvents(h, &n)) return static_cast<int32_t>(n);
  return IsConsoleInput(h) ? 0 : TextWaiting(h);
}

bool ReadEvent(Handle in, InputEvent& ev) {
  HANDLE h = AsHandle(in);
  INPUT_RECORD rec;
  DWORD got = 0;
  if (!::ReadConsoleInputA(h, &rec, 1, &got)) return !IsConsoleInput(h) && ReadTextKey(h, ev);
  if (got != 1) return false;
  ev = InputEvent{};
  ev.EventType = rec.EventType;
  if (rec.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& k = rec.Event.KeyEvent;
    ev.KeyDown = k.bKeyDown != 0;
    ev.VirtualKeyCode = k.wVirtualKeyCode;
    ev.VirtualScanCode = k.wVirtualScanCode;
    ev.AsciiChar = static_cast<uint8_t>(k.uChar.AsciiChar);
    ev.ControlKeyState = k.dwControlKeyState;
  }
  return true;
}

void WaitForInput(Handle in, uint32_t ms) {
  HANDLE h = AsHandle(in);
  if (IsConsoleInput(h)) {
    ::WaitForSingleObject(h, ms);
    return;
  }
  // A file or pipe handle is always signalled: wait by polling what can be
  // read, a little at a time.
  for (uint32_t waited = 0; TextWaiting(h) == 0 && waited < ms; waited += 10) ::Sleep(10);
}

void WriteCell(Handle out, int32_t x, int32_t y, uint8_t ch, uint8_t attr) {
  CHAR_INFO cell;
  cell.Char.AsciiChar = static_cast<CHAR>(ch);
  cell.Attributes = attr;
  SMALL_RECT region{static_cast<SHORT>(x), static_cast<SHORT>(y), static_cast<SHORT>(x), static_cast<SHORT>(y)};
  ::WriteConsoleOutputA(AsHandle(out), &cell, COORD{1, 1}, COORD{0, 0}, &region);
}

void SetCursor(Handle out, int32_t x, int32_t y) {
  ::SetConsoleCursorPosition(AsHandle(out), COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
}

void ScrollUp(Handle out, int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t attr) {
  const SMALL_RECT block{static_cast<SHORT>(left), static_cast<SHORT>(top), static_cast<SHORT>(right),
                         static_cast<SHORT>(bottom)};
  CHAR_INFO fill;
  fill.Char.AsciiChar = ' ';
  fill.Attributes = attr;
  // The block moves to one row higher; its top row leaves the clip
  // rectangle and the bottom row is filled.
  ::ScrollConsoleScreenBufferA(AsHandle(out), &block, &block,
                               COORD{static_cast<SHORT>(left), static_cast<SHORT>(top - 1)}, &fill);
}

}  // namespace crt::device

// The console device: what the console module needs of a console.  One
// implementation per platform (the Windows console, a POSIX terminal) and a
// scripted one for tests and the headless runner, chosen at link time.
// Coordinates are 0-based cells; handles are the process's own.
#pragma once

#include <cstdint>

#include "runtime/procsvc.h"

namespace crt::device {

using sys::os::Handle;

inline constexpr uint16_t KEY_EVENT = 1;
inline constexpr uint16_t MOUSE_EVENT = 2;
inline constexpr uint16_t WINDOW_BUFFER_SIZE_EVENT = 4;
inline constexpr uint16_t MENU_EVENT = 8;
inline constexpr uint16_t FOCUS_EVENT = 16;

// Control-key state bits, as a Windows console reports them.
inline constexpr uint32_t RIGHT_ALT_PRESSED = 0x0001;
inline constexpr uint32_t LEFT_ALT_PRESSED = 0x0002;
inline constexpr uint32_t RIGHT_CTRL_PRESSED = 0x0004;
inline constexpr uint32_t LEFT_CTRL_PRESSED = 0x0008;
inline constexpr uint32_t SHIFT_PRESSED = 0x0010;
inline constexpr uint32_t NUMLOCK_ON = 0x0020;
inline constexpr uint32_t SCROLLLOCK_ON = 0x0040;
inline constexpr uint32_t CAPSLOCK_ON = 0x0080;
inline constexpr uint32_t ENHANCED_KEY = 0x0100;

struct InputEvent {
  uint16_t EventType = 0;
  // Meaningful for KEY_EVENT only.
  bool KeyDown = false;
  uint16_t VirtualKeyCode = 0;
  uint16_t VirtualScanCode = 0;
  uint8_t AsciiChar = 0;
  uint32_t ControlKeyState = 0;
};

inline InputEvent KeyEvent(uint16_t vk, uint16_t scan, uint8_t ch, uint32_t state, bool down) {
  InputEvent ev;
  ev.EventType = KEY_EVENT;
  ev.KeyDown = down;
  ev.VirtualKeyCode = vk;
  ev.VirtualScanCode = scan;
  ev.AsciiChar = ch;
  ev.ControlKeyState = state;
  return ev;
}

struct ScreenInfo {
  int32_t Width = 0;      // columns of the whole screen buffer
  int32_t Height = 0;     // rows of the whole screen buffer
  int32_t CursorX = 0;
  int32_t CursorY = 0;
  uint16_t Attributes = 0;
};

// Screen-buffer query of an output handle; false when it is no console.
bool QueryScreen(Handle out, ScreenInfo& info);
// The console's active screen buffer opened by name, for when standard
// output is not a console; InvalidHandle when there is none.
Handle OpenConsoleOutput();
// Input events waiting on an input handle; 0 when there are none or the
// handle is no console.
int32_t PendingEvents(Handle in);
// Removes and returns the oldest event; false when none could be read.
bool ReadEvent(Handle in, InputEvent& ev);
// Returns when an event is waiting or after ms milliseconds.
void WaitForInput(Handle in, uint32_t ms);
// One cell, without moving the cursor.
void WriteCell(Handle out, int32_t x, int32_t y, uint8_t ch, uint8_t attr);
void SetCursor(Handle out, int32_t x, int32_t y);
// Moves the block of columns left..right and rows top..bottom (inclusive)
// up by one row, clipped to the same block, and fills the freed bottom row
// with spaces in attr.
void ScrollUp(Handle out, int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t attr);

}  // namespace crt::device

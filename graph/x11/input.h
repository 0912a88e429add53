// Keys and mouse buttons of the graph window as the Windows messages that
// the window's handlers expect.
#pragma once

#include <X11/X.h>

#include <cstdint>

namespace graph::x11 {

inline constexpr uint32_t WM_KEYDOWN = 256;
inline constexpr uint32_t WM_KEYUP = 257;
inline constexpr uint32_t WM_CHAR = 258;
inline constexpr uint32_t WM_SYSKEYDOWN = 260;
inline constexpr uint32_t WM_SYSKEYUP = 261;
inline constexpr uint32_t WM_SYSCHAR = 262;
inline constexpr uint32_t WM_LBUTTONDOWN = 513;
inline constexpr uint32_t WM_LBUTTONUP = 514;
inline constexpr uint32_t WM_RBUTTONDOWN = 516;
inline constexpr uint32_t WM_RBUTTONUP = 517;
inline constexpr uint32_t WM_MBUTTONDOWN = 519;
inline constexpr uint32_t WM_MBUTTONUP = 520;

inline constexpr uint32_t MK_LBUTTON = 0x01;
inline constexpr uint32_t MK_RBUTTON = 0x02;
inline constexpr uint32_t MK_SHIFT = 0x04;
inline constexpr uint32_t MK_CONTROL = 0x08;
inline constexpr uint32_t MK_MBUTTON = 0x10;

struct Message {
  uint32_t Msg = 0;
  uint32_t WParam = 0;
  int32_t LParam = 0;
};

// One key event of the window.
struct KeyInput {
  bool Press = false;
  uint32_t KeyCode = 0;  // the X key code
  KeySym Sym = 0;        // the key's unshifted symbol; a keypad key's as NumLock makes it
  uint32_t State = 0;    // modifier state before the event
  bool Repeat = false;   // a press of a key already down
  int32_t Char = -1;     // the character typed (Latin-1), or -1
};

// The Windows virtual-key code of a key symbol; 0 for none.
uint32_t VirtualKey(KeySym sym);
// The PC scan code of an X key code (evdev numbering), with bit 8 set for
// the extended keys; 0 for none.
uint32_t ScanCode(uint32_t keyCode);
// The messages a key event gives, in order (a key-down and its character);
// returns how many, 0 for a key Windows has no code for.
int KeyMessages(const KeyInput& key, Message out[2]);
// The message of a mouse button event; false for buttons other than the
// left, middle and right ones (the wheel among them).
bool ButtonMessage(bool press, uint32_t button, uint32_t state, int32_t x, int32_t y, Message& out);

}  // namespace graph::x11

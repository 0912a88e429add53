// The Windows virtual-key codes that the console module and the window
// backends speak: what a key event carries as its key, whatever produced
// it (a Windows console, a terminal's bytes, an X key symbol).  A letter's
// code is its capital ('A' to 'Z'), a digit's its character ('0' to '9').
#pragma once

#include <cstdint>

namespace crt::vk {

inline constexpr uint16_t Cancel = 0x03;  // Ctrl-Break
inline constexpr uint16_t Back = 0x08;
inline constexpr uint16_t Tab = 0x09;
inline constexpr uint16_t Clear = 0x0C;  // the keypad's 5 without NumLock
inline constexpr uint16_t Return = 0x0D;
inline constexpr uint16_t Shift = 0x10;
inline constexpr uint16_t Control = 0x11;
inline constexpr uint16_t Menu = 0x12;  // Alt
inline constexpr uint16_t Pause = 0x13;
inline constexpr uint16_t Capital = 0x14;  // Caps Lock
inline constexpr uint16_t Escape = 0x1B;
inline constexpr uint16_t Space = 0x20;
inline constexpr uint16_t Prior = 0x21;  // Page Up
inline constexpr uint16_t Next = 0x22;   // Page Down
inline constexpr uint16_t End = 0x23;
inline constexpr uint16_t Home = 0x24;
inline constexpr uint16_t Left = 0x25;
inline constexpr uint16_t Up = 0x26;
inline constexpr uint16_t Right = 0x27;
inline constexpr uint16_t Down = 0x28;
inline constexpr uint16_t Snapshot = 0x2C;  // Print Screen
inline constexpr uint16_t Insert = 0x2D;
inline constexpr uint16_t Delete = 0x2E;
inline constexpr uint16_t LWin = 0x5B;
inline constexpr uint16_t RWin = 0x5C;
inline constexpr uint16_t Apps = 0x5D;
inline constexpr uint16_t Numpad0 = 0x60;  // to Numpad9 = 0x69
inline constexpr uint16_t Numpad9 = 0x69;
inline constexpr uint16_t Multiply = 0x6A;  // the keypad's operators
inline constexpr uint16_t Add = 0x6B;
inline constexpr uint16_t Separator = 0x6C;
inline constexpr uint16_t Subtract = 0x6D;
inline constexpr uint16_t Decimal = 0x6E;
inline constexpr uint16_t Divide = 0x6F;
inline constexpr uint16_t F1 = 0x70;  // to F24 = 0x87
inline constexpr uint16_t F10 = 0x79;
inline constexpr uint16_t NumLock = 0x90;
inline constexpr uint16_t Scroll = 0x91;  // Scroll Lock
// The US layout's punctuation keys.
inline constexpr uint16_t Semicolon = 0xBA;  // ; :
inline constexpr uint16_t Plus = 0xBB;       // = +
inline constexpr uint16_t Comma = 0xBC;      // , <
inline constexpr uint16_t Minus = 0xBD;      // - _
inline constexpr uint16_t Period = 0xBE;     // . >
inline constexpr uint16_t Slash = 0xBF;      // / ?
inline constexpr uint16_t Grave = 0xC0;      // ` ~
inline constexpr uint16_t LBracket = 0xDB;   // [ {
inline constexpr uint16_t Backslash = 0xDC;  // \ |
inline constexpr uint16_t RBracket = 0xDD;   // ] }
inline constexpr uint16_t Quote = 0xDE;      // ' "
inline constexpr uint16_t Oem8 = 0xDF;       // a key of another layout
inline constexpr uint16_t Oem102 = 0xE2;     // the key left of Z on ISO keyboards

}  // namespace crt::vk

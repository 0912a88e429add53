#include "graph/x11/input.h"

#include <X11/keysym.h>

namespace graph::x11 {
namespace {

constexpr uint32_t VK_CANCEL = 0x03, VK_BACK = 0x08, VK_TAB = 0x09, VK_CLEAR = 0x0C, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                   VK_CONTROL = 0x11, VK_MENU = 0x12, VK_PAUSE = 0x13, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B,
                   VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25,
                   VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D,
                   VK_DELETE = 0x2E, VK_LWIN = 0x5B, VK_RWIN = 0x5C, VK_APPS = 0x5D, VK_NUMPAD0 = 0x60, VK_F1 = 0x70,
                   VK_F10 = 0x79, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91, VK_OEM_8 = 0xDF;

// Keys of the main block whose code depends on the layout's symbol.
struct SymKey {
  KeySym Sym;
  uint32_t Vk;
};
constexpr SymKey kSymKeys[] = {
    {XK_BackSpace, VK_BACK},
    {XK_Tab, VK_TAB},
    {XK_ISO_Left_Tab, VK_TAB},
    {XK_Return, VK_RETURN},
    {XK_KP_Enter, VK_RETURN},
    {XK_Pause, VK_PAUSE},
    {XK_Break, VK_CANCEL},
    {XK_Scroll_Lock, VK_SCROLL},
    {XK_Escape, VK_ESCAPE},
    {XK_Delete, VK_DELETE},
    {XK_Home, VK_HOME},
    {XK_Left, VK_LEFT},
    {XK_Up, VK_UP},
    {XK_Right, VK_RIGHT},
    {XK_Down, VK_DOWN},
    {XK_Prior, VK_PRIOR},
    {XK_Next, VK_NEXT},
    {XK_End, VK_END},
    {XK_Print, VK_SNAPSHOT},
    {XK_Insert, VK_INSERT},
    {XK_Menu, VK_APPS},
    {XK_Num_Lock, VK_NUMLOCK},
    {XK_KP_Home, VK_HOME},
    {XK_KP_Left, VK_LEFT},
    {XK_KP_Up, VK_UP},
    {XK_KP_Right, VK_RIGHT},
    {XK_KP_Down, VK_DOWN},
    {XK_KP_Prior, VK_PRIOR},
    {XK_KP_Next, VK_NEXT},
    {XK_KP_End, VK_END},
    {XK_KP_Begin, VK_CLEAR},
    {XK_KP_Insert, VK_INSERT},
    {XK_KP_Delete, VK_DELETE},
    {XK_KP_Multiply, 0x6A},
    {XK_KP_Add, 0x6B},
    {XK_KP_Separator, 0x6C},
    {XK_KP_Subtract, 0x6D},
    {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F},
    {XK_Shift_L, VK_SHIFT},
    {XK_Shift_R, VK_SHIFT},
    {XK_Control_L, VK_CONTROL},
    {XK_Control_R, VK_CONTROL},
    {XK_Caps_Lock, VK_CAPITAL},
    {XK_Alt_L, VK_MENU},
    {XK_Alt_R, VK_MENU},
    {XK_Meta_L, VK_MENU},
    {XK_Meta_R, VK_MENU},
    {XK_ISO_Level3_Shift, VK_MENU},
    {XK_Super_L, VK_LWIN},
    {XK_Super_R, VK_RWIN},
    {XK_space, VK_SPACE},
    {XK_semicolon, 0xBA},
    {XK_equal, 0xBB},
    {XK_comma, 0xBC},
    {XK_minus, 0xBD},
    {XK_period, 0xBE},
    {XK_slash, 0xBF},
    {XK_grave, 0xC0},
    {XK_bracketleft, 0xDB},
    {XK_backslash, 0xDC},
    {XK_bracketright, 0xDD},
    {XK_apostrophe, 0xDE},
    {XK_less, 0xE2},
};

// evdev key codes 1 to 88 are the PC scan codes; these others are the
// extended keys (an 0xE0 prefix on the wire).
struct ExtendedKey {
  uint32_t Evdev;
  uint32_t Scan;
};
constexpr ExtendedKey kExtendedKeys[] = {
    {96, 0x1C},  {97, 0x1D},  {98, 0x35},  {99, 0x37},  {100, 0x38}, {102, 0x47}, {103, 0x48}, {104, 0x49}, {105, 0x4B},
    {106, 0x4D}, {107, 0x4F}, {108, 0x50}, {109, 0x51}, {110, 0x52}, {111, 0x53}, {125, 0x5B}, {126, 0x5C}, {127, 0x5D},
};
constexpr uint32_t kEvdevNumLock = 69;
constexpr uint32_t kExtended = 0x100;

}  // namespace

uint32_t VirtualKey(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return static_cast<uint32_t>(sym - XK_a + 'A');
  if ((sym >= XK_A && sym <= XK_Z) || (sym >= XK_0 && sym <= XK_9)) return static_cast<uint32_t>(sym);
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return static_cast<uint32_t>(VK_NUMPAD0 + (sym - XK_KP_0));
  if (sym >= XK_F1 && sym <= XK_F24) return static_cast<uint32_t>(VK_F1 + (sym - XK_F1));
  for (const SymKey& k : kSymKeys)
    if (k.Sym == sym) return k.Vk;
  return 0;
}

uint32_t ScanCode(uint32_t keyCode) {
  if (keyCode < 8) return 0;
  const uint32_t evdev = keyCode - 8;
  // NumLock sits among the plain codes but is an extended key.
  if (evdev == kEvdevNumLock) return evdev | kExtended;
  if (evdev >= 1 && evdev <= 88) return evdev;
  for (const ExtendedKey& k : kExtendedKeys)
    if (k.Evdev == evdev) return k.Scan | kExtended;
  return 0;
}

int KeyMessages(const KeyInput& key, Message out[2]) {
  uint32_t vk = VirtualKey(key.Sym);
  // A letter of another alphabet still types its character.
  if (vk == 0 && key.Char >= 0) vk = VK_OEM_8;
  if (vk == 0) return 0;
  const bool altHeld = (key.State & Mod1Mask) != 0;
  const bool sys = altHeld || vk == VK_MENU || vk == VK_F10;
  const uint32_t scan = ScanCode(key.KeyCode);
  uint32_t lparam = 1u | (scan & 0xFF) << 16;
  if (scan & kExtended) lparam |= 1u << 24;
  if (altHeld || (key.Press && vk == VK_MENU)) lparam |= 1u << 29;
  if (!key.Press) {
    lparam |= 3u << 30;
    out[0] = {sys ? WM_SYSKEYUP : WM_KEYUP, vk, static_cast<int32_t>(lparam)};
    return 1;
  }
  if (key.Repeat) lparam |= 1u << 30;
  out[0] = {sys ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, static_cast<int32_t>(lparam)};
  // Delete types no character on Windows; only Ctrl+Backspace gives 127.
  if (key.Char < 0 || (key.Char == 0x7F && vk != VK_BACK)) return 1;
  out[1] = {sys ? WM_SYSCHAR : WM_CHAR, static_cast<uint32_t>(key.Char), static_cast<int32_t>(lparam)};
  return 2;
}

bool ButtonMessage(bool press, uint32_t button, uint32_t state, int32_t x, int32_t y, Message& out) {
  uint32_t down, up, own;
  switch (button) {
    case Button1:
      down = WM_LBUTTONDOWN, up = WM_LBUTTONUP, own = MK_LBUTTON;
      break;
    case Button2:
      down = WM_MBUTTONDOWN, up = WM_MBUTTONUP, own = MK_MBUTTON;
      break;
    case Button3:
      down = WM_RBUTTONDOWN, up = WM_RBUTTONUP, own = MK_RBUTTON;
      break;
    default:
      return false;
  }
  // The flags tell the buttons and keys down after the event.
  uint32_t flags = 0;
  if (state & Button1Mask) flags |= MK_LBUTTON;
  if (state & Button2Mask) flags |= MK_MBUTTON;
  if (state & Button3Mask) flags |= MK_RBUTTON;
  if (state & ShiftMask) flags |= MK_SHIFT;
  if (state & ControlMask) flags |= MK_CONTROL;
  flags = press ? flags | own : flags & ~own;
  const uint32_t lparam = (static_cast<uint32_t>(x) & 0xFFFF) | (static_cast<uint32_t>(y) & 0xFFFF) << 16;
  out = {press ? down : up, flags, static_cast<int32_t>(lparam)};
  return true;
}

}  // namespace graph::x11

#include "graph/x11/input.h"

#include <X11/keysym.h>

#include "runtime/vkeys.h"

namespace graph::x11 {
namespace {

namespace vk = crt::vk;

// Keys of the main block whose code depends on the layout's symbol.
struct SymKey {
  KeySym Sym;
  uint32_t Vk;
};
constexpr SymKey kSymKeys[] = {
    {XK_BackSpace, vk::Back},
    {XK_Tab, vk::Tab},
    {XK_ISO_Left_Tab, vk::Tab},
    {XK_Return, vk::Return},
    {XK_KP_Enter, vk::Return},
    {XK_Pause, vk::Pause},
    {XK_Break, vk::Cancel},
    {XK_Scroll_Lock, vk::Scroll},
    {XK_Escape, vk::Escape},
    {XK_Delete, vk::Delete},
    {XK_Home, vk::Home},
    {XK_Left, vk::Left},
    {XK_Up, vk::Up},
    {XK_Right, vk::Right},
    {XK_Down, vk::Down},
    {XK_Prior, vk::Prior},
    {XK_Next, vk::Next},
    {XK_End, vk::End},
    {XK_Print, vk::Snapshot},
    {XK_Insert, vk::Insert},
    {XK_Menu, vk::Apps},
    {XK_Num_Lock, vk::NumLock},
    {XK_KP_Home, vk::Home},
    {XK_KP_Left, vk::Left},
    {XK_KP_Up, vk::Up},
    {XK_KP_Right, vk::Right},
    {XK_KP_Down, vk::Down},
    {XK_KP_Prior, vk::Prior},
    {XK_KP_Next, vk::Next},
    {XK_KP_End, vk::End},
    {XK_KP_Begin, vk::Clear},
    {XK_KP_Insert, vk::Insert},
    {XK_KP_Delete, vk::Delete},
    {XK_KP_Multiply, vk::Multiply},
    {XK_KP_Add, vk::Add},
    {XK_KP_Separator, vk::Separator},
    {XK_KP_Subtract, vk::Subtract},
    {XK_KP_Decimal, vk::Decimal},
    {XK_KP_Divide, vk::Divide},
    {XK_Shift_L, vk::Shift},
    {XK_Shift_R, vk::Shift},
    {XK_Control_L, vk::Control},
    {XK_Control_R, vk::Control},
    {XK_Caps_Lock, vk::Capital},
    {XK_Alt_L, vk::Menu},
    {XK_Alt_R, vk::Menu},
    {XK_Meta_L, vk::Menu},
    {XK_Meta_R, vk::Menu},
    {XK_ISO_Level3_Shift, vk::Menu},
    {XK_Super_L, vk::LWin},
    {XK_Super_R, vk::RWin},
    {XK_space, vk::Space},
    {XK_semicolon, vk::Semicolon},
    {XK_equal, vk::Plus},
    {XK_comma, vk::Comma},
    {XK_minus, vk::Minus},
    {XK_period, vk::Period},
    {XK_slash, vk::Slash},
    {XK_grave, vk::Grave},
    {XK_bracketleft, vk::LBracket},
    {XK_backslash, vk::Backslash},
    {XK_bracketright, vk::RBracket},
    {XK_apostrophe, vk::Quote},
    {XK_less, vk::Oem102},
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
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return static_cast<uint32_t>(vk::Numpad0 + (sym - XK_KP_0));
  if (sym >= XK_F1 && sym <= XK_F24) return static_cast<uint32_t>(vk::F1 + (sym - XK_F1));
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
  uint32_t code = VirtualKey(key.Sym);
  // A letter of another alphabet still types its character.
  if (code == 0 && key.Char >= 0) code = vk::Oem8;
  if (code == 0) return 0;
  const bool altHeld = (key.State & Mod1Mask) != 0;
  const bool sys = altHeld || code == vk::Menu || code == vk::F10;
  const uint32_t scan = ScanCode(key.KeyCode);
  uint32_t lparam = 1u | (scan & 0xFF) << 16;
  if (scan & kExtended) lparam |= 1u << 24;
  if (altHeld || (key.Press && code == vk::Menu)) lparam |= 1u << 29;
  if (!key.Press) {
    lparam |= 3u << 30;
    out[0] = {sys ? WM_SYSKEYUP : WM_KEYUP, code, static_cast<int32_t>(lparam)};
    return 1;
  }
  if (key.Repeat) lparam |= 1u << 30;
  out[0] = {sys ? WM_SYSKEYDOWN : WM_KEYDOWN, code, static_cast<int32_t>(lparam)};
  // Delete types no character on Windows; only Ctrl+Backspace gives 127.
  if (key.Char < 0 || (key.Char == 0x7F && code != vk::Back)) return 1;
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

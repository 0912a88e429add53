// What the X11 backend makes of what it reads: screen measures from the
// server's and window manager's figures, and key and button events as
// Windows messages.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "graph/x11/input.h"
#include "graph/x11/measures.h"
#include "graph/x11/pixelformat.h"

// After the tests' own headers: Xlib's macros (None, Bool) would rename
// their names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace graph::x11;
using graph::backend::ScreenMeasures;

auto Tie(const ScreenMeasures& m) {
  return std::tuple(m.ScreenWidth, m.ScreenHeight, m.FrameWidth, m.FrameHeight, m.CaptionHeight, m.FullWidth,
                    m.FullHeight);
}

TEST(X11Measures, FromWhatTheServerAndWindowManagerPublish) {
  struct Case {
    const char* what;
    ScreenReadings readings;
    ScreenMeasures expected;
  };
  const Case cases[] = {
      {"no display: the mode table's fallback screen", {}, {1024, 768, 4, 4, 19, 1024, 719}},
      {"no window manager", {true, 1920, 1080, false, {}, false, 0, 0}, {1920, 1080, 4, 4, 19, 1920, 1031}},
      {"extents and a work area with a panel",
       {true, 1920, 1080, true, {1, 1, 20, 5}, true, 1920, 1050},
       {1920, 1080, 1, 5, 15, 1920, 1031}},
      {"uneven sides: the wider one", {true, 800, 600, true, {2, 6, 30, 6}, false}, {800, 600, 6, 6, 24, 800, 576}},
      {"a work area but no extents",
       {true, 1280, 1024, false, {}, true, 1200, 1000},
       {1280, 1024, 4, 4, 19, 1200, 981}},
      {"no decorations at all",
       {true, 1024, 768, true, {0, 0, 0, 0}, true, 1024, 768},
       {1024, 768, 0, 0, 0, 1024, 768}},
      {"an empty work area is no work area",
       {true, 1024, 768, true, {1, 1, 20, 5}, true, 0, 0},
       {1024, 768, 1, 5, 15, 1024, 749}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Tie(FromReadings(c.readings)), Tie(c.expected));
  }
}

struct Key {
  const char* what;
  KeyInput in;
  std::vector<Message> out;
};

void ExpectMessages(const Key& k) {
  SCOPED_TRACE(k.what);
  Message got[2];
  const int n = KeyMessages(k.in, got);
  ASSERT_EQ(n, static_cast<int>(k.out.size()));
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(got[i].Msg, k.out[static_cast<size_t>(i)].Msg) << i;
    EXPECT_EQ(got[i].WParam, k.out[static_cast<size_t>(i)].WParam) << i;
    EXPECT_EQ(static_cast<uint32_t>(got[i].LParam), static_cast<uint32_t>(k.out[static_cast<size_t>(i)].LParam))
        << std::hex << i;
  }
}

// X key codes are evdev codes + 8; evdev codes of the main block are the
// PC scan codes.
constexpr uint32_t kA = 30 + 8, kEnter = 28 + 8, kF10 = 68 + 8, kDelete = 111 + 8, kUp = 103 + 8, kAltL = 56 + 8,
                   kKp5 = 76 + 8, kBack = 14 + 8, kX = 45 + 8;

TEST(X11Keys, KeyEventsBecomeTheWindowsMessagesOfTheSameKeys) {
  const int32_t down = 0x00000001, up = static_cast<int32_t>(0xC0000001u), alt = 1 << 29, ext = 1 << 24,
                repeat = 1 << 30;
  const Key keys[] = {
      {"a typed",
       {true, kA, XK_a, 0, false, 'a'},
       {{WM_KEYDOWN, 'A', down | 0x1E << 16}, {WM_CHAR, 'a', down | 0x1E << 16}}},
      {"Shift+a: the same key, a capital",
       {true, kA, XK_a, ShiftMask, false, 'A'},
       {{WM_KEYDOWN, 'A', down | 0x1E << 16}, {WM_CHAR, 'A', down | 0x1E << 16}}},
      {"a held: a repeat",
       {true, kA, XK_a, 0, true, 'a'},
       {{WM_KEYDOWN, 'A', down | repeat | 0x1E << 16}, {WM_CHAR, 'a', down | repeat | 0x1E << 16}}},
      {"a released", {false, kA, XK_a, 0, false, 'a'}, {{WM_KEYUP, 'A', up | 0x1E << 16}}},
      {"Enter",
       {true, kEnter, XK_Return, 0, false, 13},
       {{WM_KEYDOWN, 0x0D, down | 0x1C << 16}, {WM_CHAR, 13, down | 0x1C << 16}}},
      {"Alt+x: system key and character",
       {true, kX, XK_x, Mod1Mask, false, 'x'},
       {{WM_SYSKEYDOWN, 'X', down | alt | 0x2D << 16}, {WM_SYSCHAR, 'x', down | alt | 0x2D << 16}}},
      {"Alt alone", {true, kAltL, XK_Alt_L, 0, false, -1}, {{WM_SYSKEYDOWN, 0x12, down | alt | 0x38 << 16}}},
      {"F10 is a system key", {true, kF10, XK_F10, 0, false, -1}, {{WM_SYSKEYDOWN, 0x79, down | 0x44 << 16}}},
      {"Up: extended, no character", {true, kUp, XK_Up, 0, false, -1}, {{WM_KEYDOWN, 0x26, down | ext | 0x48 << 16}}},
      {"Delete types nothing",
       {true, kDelete, XK_Delete, 0, false, 0x7F},
       {{WM_KEYDOWN, 0x2E, down | ext | 0x53 << 16}}},
      {"Ctrl+Backspace types 127",
       {true, kBack, XK_BackSpace, ControlMask, false, 0x7F},
       {{WM_KEYDOWN, 0x08, down | 0x0E << 16}, {WM_CHAR, 0x7F, down | 0x0E << 16}}},
      {"keypad 5 with NumLock",
       {true, kKp5, XK_KP_5, Mod2Mask, false, '5'},
       {{WM_KEYDOWN, 0x65, down | 0x4C << 16}, {WM_CHAR, '5', down | 0x4C << 16}}},
      {"keypad 5 without NumLock", {true, kKp5, XK_KP_Begin, 0, false, -1}, {{WM_KEYDOWN, 0x0C, down | 0x4C << 16}}},
      {"a letter of another alphabet",
       {true, kA, XK_adiaeresis, 0, false, 0xE4},
       {{WM_KEYDOWN, 0xDF, down | 0x1E << 16}, {WM_CHAR, 0xE4, down | 0x1E << 16}}},
      {"a key Windows has no code for", {true, 200, XK_Multi_key, 0, false, -1}, {}},
  };
  for (const Key& k : keys) ExpectMessages(k);
}

TEST(X11Keys, VirtualKeysOfTheMainBlockFollowTheUnshiftedSymbol) {
  const std::pair<KeySym, uint32_t> table[] = {
      {XK_a, 'A'},
      {XK_Z, 'Z'},
      {XK_0, '0'},
      {XK_F1, 0x70},
      {XK_F12, 0x7B},
      {XK_Escape, 0x1B},
      {XK_Tab, 0x09},
      {XK_space, 0x20},
      {XK_Home, 0x24},
      {XK_Next, 0x22},
      {XK_KP_0, 0x60},
      {XK_KP_Add, 0x6B},
      {XK_Shift_R, 0x10},
      {XK_Control_L, 0x11},
      {XK_minus, 0xBD},
      {XK_slash, 0xBF},
      {XK_bracketleft, 0xDB},
      {XK_apostrophe, 0xDE},
      {XK_Super_L, 0x5B},
      {NoSymbol, 0},
  };
  for (const auto& [sym, vk] : table) EXPECT_EQ(VirtualKey(sym), vk) << std::hex << sym;
}

TEST(X11Buttons, ButtonsBecomeMouseMessagesWithTheButtonsDownAfterThem) {
  struct Case {
    bool press;
    uint32_t button, state;
    int32_t x, y;
    bool sent;
    Message out;
  };
  const Case cases[] = {
      {true, Button1, 0, 10, 20, true, {WM_LBUTTONDOWN, MK_LBUTTON, 10 | 20 << 16}},
      {false, Button1, Button1Mask, 10, 20, true, {WM_LBUTTONUP, 0, 10 | 20 << 16}},
      {true,
       Button3,
       Button1Mask | ShiftMask,
       1023,
       718,
       true,
       {WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON | MK_SHIFT, 1023 | 718 << 16}},
      {false, Button2, Button2Mask | ControlMask, 0, 0, true, {WM_MBUTTONUP, MK_CONTROL, 0}},
      {true, Button2, 0, 5, 6, true, {WM_MBUTTONDOWN, MK_MBUTTON, 5 | 6 << 16}},
      {true, Button4, 0, 5, 6, false, {}},                                              // the wheel
      {true, Button1, 0, -3, 7, true, {WM_LBUTTONDOWN, MK_LBUTTON, 0xFFFD | 7 << 16}},  // left of the window
  };
  for (const Case& c : cases) {
    Message m{};
    EXPECT_EQ(ButtonMessage(c.press, c.button, c.state, c.x, c.y, m), c.sent) << c.button;
    if (!c.sent) continue;
    EXPECT_EQ(std::tuple(m.Msg, m.WParam, m.LParam), std::tuple(c.out.Msg, c.out.WParam, c.out.LParam)) << c.button;
  }
}

TEST(X11PixelFormat, BackBufferPixelsInTheVisualsFormat) {
  const PixelFormat rgb24(0xFF0000, 0xFF00, 0xFF), rgb565(0xF800, 0x7E0, 0x1F), rgb555(0x7C00, 0x3E0, 0x1F),
      rgb30(0x3FF00000, 0xFFC00, 0x3FF), bgr24(0xFF, 0xFF00, 0xFF0000);
  EXPECT_TRUE(rgb24.Identity());
  EXPECT_FALSE(rgb565.Identity());
  EXPECT_FALSE(bgr24.Identity());
  for (uint32_t px : {0x000000u, 0x123456u, 0xFFFFFFu, 0xFC5400u}) EXPECT_EQ(rgb24(px), px);
  // Black and white are the ends of every channel; the byte above the
  // colour is not one.
  for (const PixelFormat* f : {&rgb565, &rgb555, &rgb30, &bgr24}) EXPECT_EQ((*f)(0xFF000000u), 0u);
  EXPECT_EQ(rgb565(0xFFFFFF), 0xFFFFu);
  EXPECT_EQ(rgb555(0xFFFFFF), 0x7FFFu);
  EXPECT_EQ(rgb30(0xFFFFFF), 0x3FFFFFFFu);
  // Each channel to its own field, to the nearest level.
  EXPECT_EQ(rgb565(0xFF0000), 0xF800u);
  EXPECT_EQ(rgb565(0x00FF00), 0x07E0u);
  EXPECT_EQ(rgb565(0x0000FF), 0x001Fu);
  EXPECT_EQ(bgr24(0x102030), 0x302010u);
  EXPECT_EQ(rgb565(0x040404), 0x0020u) << "4/255 is nearer 0/31 but 1/63";
  EXPECT_EQ(rgb565(0x050505), 0x0821u) << "5/255 is nearer 1/31";
  EXPECT_EQ(rgb30(0x800000), 514u << 20) << "128/255 of 1023";
  // Every level keeps its order: no two 8-bit levels swap places.
  for (uint32_t v = 1; v < 256; ++v) EXPECT_LE(rgb30(v - 1), rgb30(v));
}

TEST(X11PixelFormat, MasksItCannotServe) {
  EXPECT_FALSE(PixelFormat(0, 0xFF00, 0xFF).Valid()) << "a channel without bits";
  EXPECT_FALSE(PixelFormat(0xF0F000, 0xFF00, 0xFF).Valid()) << "split bits";
  EXPECT_FALSE(PixelFormat(0xFF0000, 0xFFFF00, 0xFF).Valid()) << "overlapping channels";
  EXPECT_FALSE(PixelFormat(0xFFull << 32, 0xFF00, 0xFF).Valid()) << "beyond 32 bits";
  EXPECT_FALSE(PixelFormat().Valid());
  EXPECT_TRUE(PixelFormat(0x3FF00000, 0xFFC00, 0x3FF).Valid());
}

// An image's row as Xlib itself lays it out, pixel by pixel: the reference
// for PackRow.  XInitImage needs no server, so any byte order can be made.
std::vector<unsigned char> XlibRow(const PixelFormat& format, const std::vector<uint32_t>& pixels, int depth, int bpp,
                                   int order) {
  const int bytesPerLine = static_cast<int>(pixels.size()) * bpp / 8;
  std::vector<unsigned char> data(static_cast<size_t>(bytesPerLine), 0xAA);
  XImage image{};
  image.width = static_cast<int>(pixels.size());
  image.height = 1;
  image.format = ZPixmap;
  image.data = reinterpret_cast<char*>(data.data());
  image.byte_order = order;
  image.bitmap_unit = 32;
  image.bitmap_bit_order = order;
  image.bitmap_pad = 8;  // rows of any length in bytes
  image.depth = depth;
  image.bytes_per_line = bytesPerLine;
  image.bits_per_pixel = bpp;
  if (!XInitImage(&image)) return {};
  for (size_t i = 0; i < pixels.size(); ++i) XPutPixel(&image, static_cast<int>(i), 0, format(pixels[i]));
  return data;
}

TEST(X11PixelFormat, RowsInEitherByteOrderAtEveryPixelWidth) {
  // Colours whose every byte differs, so that a swapped or shifted byte shows.
  const std::vector<uint32_t> pixels = {0x123456, 0xFFFFFF, 0x000000, 0xFC5400, 0x0A0B0C, 0x80FF01, 0x010203};
  struct Case {
    const char* what;
    PixelFormat format;
    int depth, bpp;
  };
  const Case cases[] = {
      {"16 bits, 5-6-5", PixelFormat(0xF800, 0x7E0, 0x1F), 16, 16},
      {"15 bits in 16", PixelFormat(0x7C00, 0x3E0, 0x1F), 15, 16},
      {"24 bits packed in 3 bytes", PixelFormat(0xFF0000, 0xFF00, 0xFF), 24, 24},
      {"24 bits in 32", PixelFormat(0xFF0000, 0xFF00, 0xFF), 24, 32},
      {"24 bits blue first, in 32", PixelFormat(0xFF, 0xFF00, 0xFF0000), 24, 32},
      {"30 bits in 32", PixelFormat(0x3FF00000, 0xFFC00, 0x3FF), 30, 32},
  };
  for (const Case& c : cases) {
    for (const int order : {LSBFirst, MSBFirst}) {
      SCOPED_TRACE(std::string(c.what) + (order == MSBFirst ? ", most significant byte first" : ", least first"));
      const std::vector<unsigned char> want = XlibRow(c.format, pixels, c.depth, c.bpp, order);
      ASSERT_FALSE(want.empty());
      std::vector<unsigned char> got(want.size() + 1, 0xAA);
      ASSERT_TRUE(PackRow(c.format, pixels.data(), pixels.size(), got.data(), c.bpp, order == MSBFirst));
      EXPECT_EQ(std::vector<unsigned char>(got.begin(), got.end() - 1), want);
      EXPECT_EQ(got.back(), 0xAA) << "written past the row";
    }
  }
  // The bytes themselves, for one pixel of each width and order.
  const PixelFormat rgb24(0xFF0000, 0xFF00, 0xFF), rgb565(0xF800, 0x7E0, 0x1F);
  const uint32_t px = 0x123456;
  unsigned char b[4] = {};
  ASSERT_TRUE(PackRow(rgb24, &px, 1, b, 32, false));
  EXPECT_EQ(std::vector<unsigned char>(b, b + 4), (std::vector<unsigned char>{0x56, 0x34, 0x12, 0x00}));
  ASSERT_TRUE(PackRow(rgb24, &px, 1, b, 32, true));
  EXPECT_EQ(std::vector<unsigned char>(b, b + 4), (std::vector<unsigned char>{0x00, 0x12, 0x34, 0x56}));
  ASSERT_TRUE(PackRow(rgb24, &px, 1, b, 24, true));
  EXPECT_EQ(std::vector<unsigned char>(b, b + 3), (std::vector<unsigned char>{0x12, 0x34, 0x56}));
  ASSERT_TRUE(PackRow(rgb565, &px, 1, b, 16, false));  // 0x123456 is 0x11AA in 5-6-5
  EXPECT_EQ(std::vector<unsigned char>(b, b + 2), (std::vector<unsigned char>{0xAA, 0x11}));
  ASSERT_TRUE(PackRow(rgb565, &px, 1, b, 16, true));
  EXPECT_EQ(std::vector<unsigned char>(b, b + 2), (std::vector<unsigned char>{0x11, 0xAA}));
  // Other widths are left to Xlib.
  for (const int bpp : {1, 4, 8, 12})
    EXPECT_FALSE(PackRow(rgb24, &px, 1, b, bpp, false)) << bpp << " bits a pixel";
}

}  // namespace

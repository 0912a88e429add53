// The Windows window backend in a real window (under Wine, on Xvfb): the
// window the programs get, what reaches it, repainting from the back
// buffer, the user closing it, and where its keys and clicks go.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/win32/win32_window.h"
#include "graph/window.h"
#include "runtime/system.h"

namespace {

using namespace graph;
using win32::BitmapDC;
using win32::MainWindow;
using win32::WinDC;

// Polls until cond holds or ten seconds have passed: Wine's window thread
// can lag by seconds on a loaded machine, and a passing test never waits.
template <typename Cond>
bool Eventually(Cond cond) {
  for (int i = 0; i < 1000; ++i) {
    if (cond()) return true;
    ::Sleep(10);
  }
  return cond();
}

COLORREF OnWindow(int x, int y) { return ::GetPixel(WinDC, x, y) & 0xFFFFFF; }

uint32_t InBackBuffer(int x, int y) {
  return PixelToRGB(BackBuffer.Pixels[static_cast<size_t>(y) * static_cast<size_t>(BackBuffer.Width) +
                                      static_cast<size_t>(x)]);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::InitSystemUnit();
    CloseGraph();
    GraphExitProc();
    DefaultHooks();
    FirstCallOfInitGraph = true;
    DrawToBitmap = DrawToScreen = true;
    CharMessageHandler = MouseMessageHandler = nullptr;
    InitializeGraph();
  }
  void TearDown() override {
    CharMessageHandler = MouseMessageHandler = nullptr;
    CloseGraph();
  }
  static void Open(int16_t driver, int16_t mode) {
    InitGraph(driver, mode, "");
    ASSERT_EQ(GraphResult(), result::Ok);
    ASSERT_TRUE(GraphRunning);
  }
  static void OpenDetected() {
    int16_t driver = 0, mode = 0;
    DetectGraph(driver, mode);
    Open(driver, mode);
  }
};

TEST_F(Win32WindowTest, TheDetectedModeOpensAMaximizedBlackWindowOfTheClassAndCaption) {
  OpenDetected();
  char text[64] = {};
  ::GetClassNameA(MainWindow, text, sizeof text);
  EXPECT_STREQ(text, "XUMGraphWindow");
  ::GetWindowTextA(MainWindow, text, sizeof text);
  EXPECT_STREQ(text, "Graph window application");
  EXPECT_TRUE(::IsWindowVisible(MainWindow));
  EXPECT_TRUE(::IsZoomed(MainWindow));
  EXPECT_EQ(BackBuffer.Width, GetMaxX() + 1);
  EXPECT_EQ(BackBuffer.Height, GetMaxY() + 1);
  // The visible part of the surface (a maximized window's client area may
  // be cut by the screen) and all of the back buffer start black.
  RECT client;
  ASSERT_TRUE(::GetClientRect(MainWindow, &client));
  int lit = 0, seen = 0;
  for (int y = 0; y <= GetMaxY(); y += 7)
    for (int x = 0; x <= GetMaxX(); x += 7) {
      lit += InBackBuffer(x, y) != 0;
      if (x >= client.right || y >= client.bottom) continue;
      ++seen;
      lit += ::GetPixel(WinDC, x, y) != 0;
    }
  EXPECT_EQ(lit, 0);
  EXPECT_GT(seen, 1000);
}

TEST_F(Win32WindowTest, AFixedModeGetsAClientAreaOfItsSizeAndIsNotMaximized) {
  Open(10, 257);  // 640 x 480 x 256
  RECT client;
  ASSERT_TRUE(::GetClientRect(MainWindow, &client));
  EXPECT_EQ(client.right - client.left, 640);
  EXPECT_EQ(client.bottom - client.top, 480);
  EXPECT_FALSE(::IsZoomed(MainWindow));
  // Setting a mode again while the window runs keeps that window.
  HWND first = MainWindow;
  SetGraphMode(IntCurrentMode);
  EXPECT_EQ(MainWindow, first);
}

TEST_F(Win32WindowTest, EveryColourDrawnShowsOnTheWindowAtOnceAndReadsBackAsItsEntry) {
  OpenDetected();
  for (int c = 0; c < 256; ++c) {
    const int x = 10 + c % 64, y = 10 + c / 64;
    PutPixel(static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(c));
    EXPECT_EQ(OnWindow(x, y), InBackBuffer(x, y)) << "colour " << c;
    // The lowest entry of the same colour: nothing was lost on the way.
    int entry = 0;
    while (EntryToRGB(Pal[static_cast<size_t>(entry)]) != EntryToRGB(Pal[static_cast<size_t>(c)])) ++entry;
    EXPECT_EQ(graph::GetPixel(static_cast<int16_t>(x), static_cast<int16_t>(y)), entry) << "colour " << c;
  }
  // A span longer than three pixels goes to the window in one piece.
  CurrentColor = 14;
  HLine(100, 199, 50);
  for (int x = 100; x < 200; x += 9) EXPECT_EQ(OnWindow(x, 50), InBackBuffer(100, 50)) << x;
  EXPECT_NE(OnWindow(150, 50), 0u);
  EXPECT_EQ(OnWindow(200, 50), 0u);
}

TEST_F(Win32WindowTest, AnInvalidatedRectangleIsRepaintedFromTheBackBuffer) {
  OpenDetected();
  DrawToScreen = false;
  PutPixel(30, 40, 15);
  PutPixel(31, 40, 4);
  DrawToScreen = true;
  const uint32_t white = InBackBuffer(30, 40), red = InBackBuffer(31, 40);
  ASSERT_NE(white, 0u);
  // Wine may repaint the window on its own at any time (a late expose from
  // the X server on a loaded machine), so the window's pixels are blackened
  // here rather than assumed black, and only the repaint can restore them.
  ::SetPixel(WinDC, 30, 40, 0);
  ::SetPixel(WinDC, 31, 40, 0);
  ::InvalidateRect(MainWindow, nullptr, FALSE);
  EXPECT_TRUE(Eventually([&] { return OnWindow(30, 40) == white && OnWindow(31, 40) == red; }));
}

TEST_F(Win32WindowTest, AfterTheUserClosesTheWindowDrawingDoesNothingAndAFreshWindowCanOpen) {
  OpenDetected();
  HWND first = MainWindow;
  PutPixel(5, 5, 15);
  ::PostMessageA(first, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(Eventually([&] { return !::IsWindow(first); }));
  ASSERT_TRUE(Eventually([] { return !GraphRunning; }));
  PutPixel(6, 6, 15);
  EXPECT_EQ(GraphResult(), result::Ok);
  graph::GetPixel(5, 5);
  EXPECT_EQ(GraphResult(), result::Failure);
  CloseGraph();
  OpenDetected();
  EXPECT_TRUE(::IsWindow(MainWindow));
  EXPECT_NE(::FindWindowA("XUMGraphWindow", "Graph window application"), nullptr);
}

std::vector<UINT> seen;
int32_t AGG_WINAPI Record(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  seen.push_back(msg);
  return 7;
}

TEST_F(Win32WindowTest, KeysAndButtonsGoOnlyToTheHandlersAndAltF4DoesNotClose) {
  OpenDetected();
  // Without handlers they are answered with 0 and go nowhere.
  EXPECT_EQ(::SendMessageA(MainWindow, WM_SYSKEYDOWN, VK_F4, 0x20000001), 0);
  EXPECT_EQ(::SendMessageA(MainWindow, WM_SYSCHAR, ' ', 0x20000001), 0);
  EXPECT_TRUE(::IsWindow(MainWindow));
  seen.clear();
  CharMessageHandler = Record;
  MouseMessageHandler = Record;
  const UINT keys[] = {WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSCHAR};
  const UINT buttons[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP};
  std::vector<UINT> sent;
  for (UINT m : keys) sent.push_back(m);
  for (UINT m : buttons) sent.push_back(m);
  for (UINT m : sent) EXPECT_EQ(::SendMessageA(MainWindow, m, VK_F4, 0x20000001), 7) << m;
  ::SendMessageA(MainWindow, WM_MOUSEMOVE, 0, 0);
  EXPECT_EQ(seen, sent);
  EXPECT_TRUE(::IsWindow(MainWindow));
}

}  // namespace

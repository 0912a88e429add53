// The graph window on a real X server (Xvfb): what a user sees of it, what
// the window manager and other programs do to it, and what the program sees
// when the window or the whole server goes away.
#include "graph/window.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "aggregation/program.h"
#include "graph/graph.h"
#include "graph/x11/x11_window.h"
#include "runtime/system.h"
#include "tests/graph/x11/xserver.h"

namespace {

using namespace graph;
using xtest::Probe;
using xtest::ServerOptions;
using xtest::Until;
using xtest::UseDisplay;
using xtest::XServer;
using namespace std::chrono_literals;

constexpr const char* kTitle = "Graph window application";

// The server most tests share; started on first use.
XServer& SharedServer() {
  static XServer server;
  return server;
}

uint32_t ColourPixel(int entry) { return RGBToPixel(EntryToRGB(DefaultColors[static_cast<size_t>(entry)])); }

uint32_t BackPixel(int x, int y) {
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) return 0xFFFFFFFFu;
  return BackBuffer.Pixels[static_cast<size_t>(y) * static_cast<size_t>(BackBuffer.Width) + static_cast<size_t>(x)];
}

// The module as a fresh program finds it on the display now in DISPLAY.
void RestartModule() {
  CloseGraph();
  WindowStop();
  GraphExitProc();
  DefaultHooks();
  FirstCallOfInitGraph = true;
  DrawToBitmap = DrawToScreen = true;
  InitializeGraph();
}

void OpenDetected() {
  int16_t driver = 0, mode = 0;
  DetectGraph(driver, mode);
  InitGraph(driver, mode, "");
}

Window Win() { return x11::WindowId(); }

class X11Window : public testing::Test {
 protected:
  void SetUp() override {
    if (!SharedServer().Ready()) GTEST_SKIP() << "Xvfb is not installed";
    display_ = std::make_unique<UseDisplay>(SharedServer().Name());
    sys::InitSystemUnit();
    x11::AllowSharedMemory(true);
    RestartModule();
  }
  void TearDown() override {
    CloseGraph();
    WindowStop();
    CharMessageHandler = nullptr;
    MouseMessageHandler = nullptr;
    x11::AllowSharedMemory(true);
  }
  // A server of the test's own, used from now on.
  bool UseOwnServer(ServerOptions o) {
    ownDisplay_.reset();
    own_ = std::make_unique<XServer>(o);
    if (!own_->Ready()) return false;
    ownDisplay_ = std::make_unique<UseDisplay>(own_->Name());
    RestartModule();
    return true;
  }
  // The module afresh, its window's image in shared memory or not, and
  // graphics opened as the programs open them.
  void OpenWithImage(bool shm) {
    RestartModule();
    x11::AllowSharedMemory(shm);
    OpenDetected();
  }

  std::unique_ptr<UseDisplay> display_;
  std::unique_ptr<XServer> own_;
  std::unique_ptr<UseDisplay> ownDisplay_;
};

TEST_F(X11Window, TheWindowHasItsCaptionClassAndSizeAndStartsBlack) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  const std::tuple<int16_t, int16_t, int, int, bool> modes[] = {{15, 30000, 1024, 719, true}, {9, 2, 640, 480, false}};
  for (auto [driver, mode, width, height, maximized] : modes) {
    SCOPED_TRACE(testing::Message() << driver << "/" << mode);
    InitGraph(driver, mode, "");
    ASSERT_EQ(GraphResult(), result::Ok);
    const Window w = Win();
    ASSERT_TRUE(probe.Viewable(w));
    EXPECT_EQ(probe.Size(w), std::pair(width, height));
    EXPECT_EQ(probe.Text(w, "WM_NAME"), kTitle);
    EXPECT_EQ(probe.Text(w, "_NET_WM_NAME"), kTitle);
    const std::string cls = probe.Text(w, "WM_CLASS");
    EXPECT_EQ(cls.substr(cls.find('\0') + 1), std::string("XUMGraphWindow") + '\0');
    const std::vector<long> protocols = probe.Longs(w, "WM_PROTOCOLS");
    EXPECT_NE(std::find(protocols.begin(), protocols.end(), long(probe.Atom_("WM_DELETE_WINDOW"))), protocols.end());
    const std::vector<long> state = probe.Longs(w, "_NET_WM_STATE");
    const std::vector<long> maximizedState = {long(probe.Atom_("_NET_WM_STATE_MAXIMIZED_VERT")),
                                              long(probe.Atom_("_NET_WM_STATE_MAXIMIZED_HORZ"))};
    EXPECT_EQ(state, maximized ? maximizedState : std::vector<long>{});
    EXPECT_EQ(probe.Lit(w), 0) << "black on the screen";
    int painted = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) painted += BackPixel(x, y) != 0;
    EXPECT_EQ(painted, 0) << "black in the back buffer";
    CloseGraph();
    EXPECT_FALSE(probe.Exists(w));
    EXPECT_EQ(Win(), 0u);
  }
}

TEST_F(X11Window, ADrawnPixelIsOnTheScreenAtOnceAndInTheBackBuffer) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "plain image");
    OpenWithImage(shm);
    ASSERT_TRUE(GraphRunning);
    EXPECT_EQ(x11::UsingSharedMemory(), shm);
    const int maxX = GetMaxX(), maxY = GetMaxY();
    const std::tuple<int, int, int> points[] = {
        {0, 0, 15}, {maxX, maxY, 1}, {512, 384, 200}, {3, maxY, 31}, {maxX, 0, 47}};
    for (auto [x, y, colour] : points) {
      PutPixel(static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(colour));
      EXPECT_TRUE(Until([&] { return probe.Pixel(Win(), x, y) == ColourPixel(colour); }, 2s))
          << x << "," << y << ": " << std::hex << probe.Pixel(Win(), x, y);
      EXPECT_EQ(BackPixel(x, y), ColourPixel(colour));
    }
    // A span of the line primitives, as clearing a viewport draws it.
    SetViewPort(100, 200, 180, 203, true);
    SetBkColor(2);
    ClearViewPort();
    EXPECT_TRUE(Until(
        [&] {
          const std::vector<uint32_t> block = probe.Pixels(Win(), 100, 200, 81, 4);
          return !block.empty() &&
                 std::all_of(block.begin(), block.end(), [](uint32_t p) { return p == ColourPixel(2); });
        },
        2s));
    EXPECT_EQ(probe.Pixel(Win(), 99, 200), 0u);
    EXPECT_EQ(probe.Pixel(Win(), 181, 203), 0u);
    CloseGraph();
  }
}

TEST_F(X11Window, WhatWasCoveredOrHiddenIsRepaintedFromTheBackBuffer) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "plain image");
    OpenWithImage(shm);
    ASSERT_TRUE(GraphRunning);
    const Window w = Win();
    // Only into the back buffer: the screen shows it only once repainted.
    DrawToScreen = false;
    PutPixel(100, 100, 14);
    DrawToScreen = true;
    XSync(probe.dpy(), False);
    EXPECT_EQ(probe.Pixel(w, 100, 100), 0u);
    const Window cover = probe.Cover();
    EXPECT_EQ(probe.Pixel(cover, 100, 100), 0x808080u);
    probe.Uncover(cover);
    EXPECT_TRUE(Until([&] { return probe.Pixel(w, 100, 100) == ColourPixel(14); }, 2s));

    // Hidden, drawn on, shown again: the whole picture comes back.
    XUnmapWindow(probe.dpy(), w);
    XSync(probe.dpy(), False);
    ASSERT_TRUE(Until([&] { return !probe.Viewable(w); }));
    PutPixel(200, 150, 9);
    XMapWindow(probe.dpy(), w);
    XSync(probe.dpy(), False);
    EXPECT_TRUE(Until(
        [&] { return probe.Pixel(w, 200, 150) == ColourPixel(9) && probe.Pixel(w, 100, 100) == ColourPixel(14); }, 2s));
    EXPECT_EQ(probe.Lit(w), 2);
    CloseGraph();
  }
}

TEST_F(X11Window, EnlargingTheWindowDoesNotScaleThePicture) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  int16_t driver = 9, mode = 2;  // 640 x 480
  InitGraph(driver, mode, "");
  ASSERT_TRUE(GraphRunning);
  PutPixel(0, 0, 15);
  PutPixel(639, 479, 12);
  const Window w = Win();
  XResizeWindow(probe.dpy(), w, 800, 600);
  XSync(probe.dpy(), False);
  ASSERT_TRUE(Until([&] { return probe.Size(w) == std::pair(800, 600); }));
  EXPECT_TRUE(Until([&] { return probe.Pixel(w, 639, 479) == ColourPixel(12); }, 2s));
  EXPECT_EQ(probe.Pixel(w, 0, 0), ColourPixel(15));
  EXPECT_EQ(probe.Pixel(w, 640, 480), 0u);
  EXPECT_EQ(probe.Pixel(w, 799, 599), 0u);
  EXPECT_EQ(probe.Lit(w), 2);
}

TEST_F(X11Window, TheCloseBoxEndsTheWindowAndTheProgramGoesOn) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  OpenDetected();
  PutPixel(1, 1, 14);
  const Window w = Win();
  probe.SendDelete(w);
  ASSERT_TRUE(Until([] { return !GraphRunning; }));
  EXPECT_TRUE(Until([&] { return !probe.Exists(w); }));
  EXPECT_TRUE(IsGraphMode);
  PutPixel(2, 2, 14);
  EXPECT_EQ(GraphResult(), result::Ok);
  GetPixel(1, 1);
  EXPECT_EQ(GraphResult(), result::Failure);
  CloseGraph();
  EXPECT_FALSE(IsGraphMode);

  // Opening again makes a fresh, black window.
  OpenDetected();
  ASSERT_EQ(GraphResult(), result::Ok);
  EXPECT_TRUE(probe.Viewable(Win()));
  EXPECT_EQ(GetPixel(1, 1), 0);
  EXPECT_EQ(probe.Lit(Win()), 0);
}

struct Received {
  uintptr_t window;
  uint32_t msg, wparam;
  int32_t lparam;
  bool mainThread;
  uint16_t controlWord;
};
std::mutex receivedMutex;
std::vector<Received> received;
std::thread::id mainThread;

int32_t Record(uintptr_t window, uint32_t msg, uint32_t wparam, int32_t lparam) {
  std::lock_guard lock(receivedMutex);
  received.push_back({window, msg, wparam, lparam, std::this_thread::get_id() == mainThread, sys::GetFPUControlWord()});
  return 0;
}

size_t ReceivedCount() {
  std::lock_guard lock(receivedMutex);
  return received.size();
}

TEST_F(X11Window, KeysAndButtonsReachTheHandlersOnTheWindowThread) {
  Probe probe(SharedServer().Name());
  ASSERT_TRUE(probe);
  mainThread = std::this_thread::get_id();
  received.clear();
  // The control word as the processor reads it back once loaded.
  const uint16_t saved = sys::GetFPUControlWord();
  sys::SetFPUControlWord(sys::FPUCW);
  const uint16_t programsWord = sys::GetFPUControlWord();
  sys::SetFPUControlWord(saved);
  CharMessageHandler = Record;
  MouseMessageHandler = Record;
  OpenDetected();
  const Window w = Win();
  probe.SendKey(w, XK_a, true);
  probe.SendKey(w, XK_a, false);
  probe.SendKey(w, XK_Return, true);
  probe.SendButton(w, Button1, true, 5, 6);
  probe.SendButton(w, Button1, false, 7, 8, Button1Mask);
  probe.SendButton(w, Button4, true, 7, 8);  // the wheel: no message
  ASSERT_TRUE(Until([] { return ReceivedCount() >= 7; }, 3s)) << ReceivedCount();
  std::this_thread::sleep_for(100ms);
  std::lock_guard lock(receivedMutex);
  const std::vector<std::tuple<uint32_t, uint32_t>> expected = {{256, 'A'}, {258, 'a'}, {257, 'A'}, {256, 0x0D},
                                                                {258, 13},  {513, 1},   {514, 0}};
  std::vector<std::tuple<uint32_t, uint32_t>> got;
  for (const Received& r : received) got.emplace_back(r.msg, r.wparam);
  EXPECT_EQ(got, expected);
  for (const Received& r : received) {
    EXPECT_EQ(r.window, w);
    EXPECT_FALSE(r.mainThread);
    EXPECT_EQ(r.controlWord, programsWord) << "the window thread runs with the programs' control word";
  }
  EXPECT_EQ(received[5].lparam, 5 | 6 << 16);
  EXPECT_EQ(received[6].lparam, 7 | 8 << 16);
}

TEST_F(X11Window, WithoutADisplayTheStartFailsAndDrawingStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "fast");
  auto program = [] {
    UseDisplay none("");
    RestartModule();
    // The fallback screen of 1024 x 768 still gives the mode table.
    int16_t driver = 0;
    int16_t mode = 0;
    DetectGraph(driver, mode);
    if (driver != 15 || mode != 5) _exit(2);
    InitGraph(driver, mode, "");
    if (GraphResult() != result::Failure || IsGraphMode || GraphRunning) _exit(3);
    PutPixel(1, 1, 1);
    _exit(4);
  };
  EXPECT_EXIT(
      program(), testing::ExitedWithCode(1),
      "^Window creation failed\nError: Not in graphics mode \\(use InitGraph and test GraphResult afterwards\\)\n$");
}

TEST_F(X11Window, AServerThatResetsWhenItsLastClientLeavesStillGetsTheWindow) {
  // The screen measures' connection is the server's only client until the
  // window's own are open; were it closed first, the server would be
  // resetting just when the window start connects.
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    if (!UseOwnServer({.resets = true})) GTEST_SKIP() << "no second server";
    OpenDetected();
    EXPECT_EQ(GraphResult(), result::Ok);
    EXPECT_TRUE(GraphRunning);
    CloseGraph();
  }
}

TEST_F(X11Window, AColourMappedDisplayRefusesTheWindow) {
  if (!UseOwnServer({.depth = 8})) GTEST_SKIP() << "Xvfb cannot make an 8-bit screen";
  testing::internal::CaptureStderr();
  OpenDetected();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(GraphResult(), result::Failure);
  EXPECT_FALSE(IsGraphMode);
  EXPECT_EQ(err, "Window creation failed\n");
  Probe probe(own_->Name());
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  XQueryTree(probe.dpy(), probe.Root(), &root, &parent, &children, &n);
  if (children) XFree(children);
  EXPECT_EQ(n, 0u) << "no window left behind";
}

// Shuts the sending side of each of this process's connections to the
// server of that display: the next write on one fails with EPIPE, as a
// write does that Xlib makes after the server's end but before it has read
// that end, the case a loaded machine meets by chance.  Returns how many.
int CutConnectionsTo(const std::string& display) {
  const std::string path = "/tmp/.X11-unix/X" + display.substr(1);
  int cut = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_un peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0 || peer.sun_family != AF_UNIX) continue;
    // Abstract names start with a zero byte.
    std::string name(peer.sun_path, len - offsetof(sockaddr_un, sun_path));
    if (!name.empty() && name.front() == '\0') name.erase(0, 1);
    while (!name.empty() && name.back() == '\0') name.pop_back();
    if (name == path && shutdown(fd, SHUT_WR) == 0) ++cut;
  }
  return cut;
}

TEST_F(X11Window, LosingTheServerEndsTheWindowButNotTheProgram) {
  // The test program leaves SIGPIPE at its default, which ends a process
  // that writes to the dead server's socket: the backend must not.
  struct sigaction pipeAction {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &pipeAction), 0);
  ASSERT_EQ(pipeAction.sa_handler, SIG_DFL) << "main() set it so";
  for (bool drawing : {false, true}) {
    SCOPED_TRACE(drawing ? "while the program draws" : "while the window is idle");
    if (!UseOwnServer({})) GTEST_SKIP() << "no second server";
    OpenDetected();
    ASSERT_TRUE(GraphRunning);
    PutPixel(5, 5, 14);
    if (drawing) {
      // The server dies once the drawing is well under way, and the
      // drawing goes on until the window is gone.
      std::atomic<int> drawn{0};
      int cut = 0;
      std::thread killer([&] {
        while (drawn.load() < 500) std::this_thread::yield();
        cut = CutConnectionsTo(own_->Name());
        own_->Kill();
      });
      // Every call draws a new colour somewhere, so every call goes to the
      // server until the window is gone.
      const auto end = xtest::Clock::now() + 60s;
      for (int i = 0; (GraphRunning || drawn.load() < 500) && xtest::Clock::now() < end; ++i) {
        PutPixel(static_cast<int16_t>(i % 1000), static_cast<int16_t>(i / 1000 % 700),
                 static_cast<uint16_t>(1 + i % 200));
        drawn.fetch_add(1);
      }
      killer.join();
      EXPECT_GE(cut, 1) << "the drawing connection was cut";
    } else {
      own_->Kill();
    }
    ASSERT_TRUE(Until([] { return !GraphRunning; })) << "the window is gone with the server";
    EXPECT_TRUE(IsGraphMode);
    _GraphResult = result::Ok;
    PutPixel(6, 6, 14);
    EXPECT_EQ(GraphResult(), result::Ok);
    GetPixel(5, 5);
    EXPECT_EQ(GraphResult(), result::Failure);
    CloseGraph();
    EXPECT_FALSE(IsGraphMode);
  }
  // A server that is there again gets a new window.
  ownDisplay_.reset();
  RestartModule();
  OpenDetected();
  EXPECT_EQ(GraphResult(), result::Ok);
  EXPECT_TRUE(GraphRunning);
}

TEST_F(X11Window, TheMaximizedModeFillsTheMaximizedWindowOfAWindowManager) {
  if (!UseOwnServer({.windowManager = true})) GTEST_SKIP() << "Xvfb or openbox is not installed";
  Probe probe(own_->Name());
  OpenDetected();
  ASSERT_EQ(GraphResult(), result::Ok);
  ASSERT_EQ(IntCurrentMode, 246) << "Maximized Window x 256";
  const Window w = Win();
  const std::pair<int, int> surface(GetMaxX() + 1, GetMaxY() + 1);
  EXPECT_TRUE(Until([&] { return probe.Viewable(w) && probe.Size(w) == surface; }))
      << probe.Size(w).first << "x" << probe.Size(w).second << " for " << surface.first << "x" << surface.second;
  CloseGraph();

  // Another mode opens at its size, framed where the window manager puts it.
  int16_t driver = 9, mode = 2;
  InitGraph(driver, mode, "");
  const Window framed = Win();
  EXPECT_TRUE(Until([&] { return probe.Viewable(framed) && probe.Size(framed) == std::pair(640, 480); }))
      << probe.Viewable(framed) << " " << probe.Size(framed).first << "x" << probe.Size(framed).second;
  EXPECT_EQ(probe.Longs(framed, "_NET_FRAME_EXTENTS").size(), 4u);
}

TEST_F(X11Window, TheWorkAreaIsWhereTheMaximizedModeFits) {
  if (!UseOwnServer({})) GTEST_SKIP() << "no second server";
  {
    Probe probe(own_->Name());
    const long area[4] = {0, 0, 1020, 700};
    XChangeProperty(probe.dpy(), probe.Root(), probe.Atom_("_NET_WORKAREA"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(area), 4);
    XSync(probe.dpy(), False);
  }
  RestartModule();
  OpenDetected();
  ASSERT_EQ(GraphResult(), result::Ok);
  // Without a window manager's frame figures, the default caption is kept
  // off the work area's height.
  EXPECT_EQ(std::pair(GetMaxX() + 1, GetMaxY() + 1), std::pair(1020, 700 - 19));
}

// ---------------------------------------------------------------- every true-colour depth

// The palette's colour c as the screen shows it: each channel of the read
// pixel widened to 8 bits, within half a step of the channel's precision.
struct Channels {
  unsigned long mask[3];
  bool Near(unsigned long shown, uint32_t rgbPixel) const {
    for (int c = 0; c < 3; ++c) {
      const int shift = std::countr_zero(mask[c]);
      const double top = static_cast<double>(mask[c] >> shift);
      const double level = static_cast<double>((shown & mask[c]) >> shift) * 255.0 / top;
      const double want = static_cast<double>((rgbPixel >> (16 - 8 * c)) & 0xFF);
      if (std::abs(level - want) > 255.0 / top / 2 + 0.01) return false;
    }
    return true;
  }
};

class X11Depth : public X11Window, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    X11Window::SetUp();
    if (IsSkipped()) return;
    if (!UseOwnServer({.depth = GetParam()}))
      GTEST_SKIP() << "Xvfb cannot make a " << GetParam() << "-bit screen here";
    probe_ = std::make_unique<Probe>(own_->Name());
    Visual* v = DefaultVisual(probe_->dpy(), 0);
    ASSERT_EQ(DefaultDepth(probe_->dpy(), 0), GetParam());
    channels_ = {{v->red_mask, v->green_mask, v->blue_mask}};
  }
  // The screen's pixels of a rectangle, row after row, read at once; empty
  // when they cannot be read.
  std::vector<unsigned long> ShownBlock(int x, int y, int w, int h) const {
    std::vector<unsigned long> out;
    XImage* img = XGetImage(probe_->dpy(), Win(), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes,
                            ZPixmap);
    if (!img) return out;
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) out.push_back(XGetPixel(img, c, r));
    XDestroyImage(img);
    return out;
  }
  // The screen's pixel, or ~0 when it cannot be read.
  unsigned long Shown(int x, int y) const {
    XImage* img = XGetImage(probe_->dpy(), Win(), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0ul;
    const unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p;
  }
  std::unique_ptr<Probe> probe_;
  Channels channels_{};
};

TEST_P(X11Depth, ColoursReachTheScreenInTheDisplaysFormatAndReadBackUnchanged) {
  for (bool shm : {true, false}) {
    SCOPED_TRACE(shm ? "shared memory" : "plain image");
    OpenWithImage(shm);
    ASSERT_TRUE(GraphRunning) << "refused";
    // Entries with every channel at its ends and in between.
    const int entries[] = {15, 1, 2, 4, 7, 9, 14, 37, 100, 200, 40};
    for (int i = 0; i < static_cast<int>(std::size(entries)); ++i) {
      const int x = 10 + 3 * i, y = 20;
      const int c = entries[i];
      // Straight onto the window, and only into the back buffer.
      PutPixel(static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(c));
      DrawToScreen = false;
      PutPixel(static_cast<int16_t>(x), static_cast<int16_t>(y + 5), static_cast<uint16_t>(c));
      DrawToScreen = true;
      EXPECT_TRUE(Until([&] { return channels_.Near(Shown(x, y), ColourPixel(c)); }, 2s))
          << "entry " << c << " drawn: " << std::hex << Shown(x, y) << " for " << ColourPixel(c);
      EXPECT_EQ(GetPixel(static_cast<int16_t>(x), static_cast<int16_t>(y + 5)), c);
      EXPECT_EQ(BackPixel(x, y + 5), ColourPixel(c));
    }
    // Covered and uncovered: the repaint converts the back buffer.
    probe_->Uncover(probe_->Cover());
    for (int i = 0; i < static_cast<int>(std::size(entries)); ++i) {
      const int x = 10 + 3 * i;
      EXPECT_TRUE(Until([&] { return channels_.Near(Shown(x, 25), ColourPixel(entries[i])); }, 2s))
          << "entry " << entries[i] << " repainted: " << std::hex << Shown(x, 25);
      EXPECT_TRUE(channels_.Near(Shown(x, 20), ColourPixel(entries[i])));
    }
    EXPECT_EQ(Shown(9, 20), 0ul);
    EXPECT_EQ(Shown(10, 21), 0ul);
    CloseGraph();
  }
}

std::vector<std::string> StuckTrace;
void RecordStuck(int16_t x, int16_t y, uint16_t colour) {
  StuckTrace.push_back(std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(colour) + "\n");
}

TEST_P(X11Depth, TheProgramsWalkGrowsTheKeptTraceAndShowsIt) {
  // The white rule with seed 1, as the headless runner grew it for the kept
  // trace: the walk reads its own pixels back, whatever the display.
  sys::RandSeed = 1;
  agg::Start<agg::WhiteRule>();
  ASSERT_TRUE(GraphRunning) << "refused";
  ASSERT_EQ(std::pair(GetMaxX() + 1, GetMaxY() + 1), std::pair(1024, 719)) << "the runner's default surface";
  StuckTrace.clear();
  agg::OnStuck = RecordStuck;
  while (StuckTrace.size() < 400) {
    agg::Launch();
    agg::TAPAD<agg::WhiteRule>();
  }
  agg::OnStuck = nullptr;
  std::ifstream kept(std::string(TRACE_DATA) + "/white-1.csv");
  std::string line;
  size_t i = 0, differ = 0;
  while (std::getline(kept, line) && i < StuckTrace.size()) differ += StuckTrace[i++] != line + "\n";
  EXPECT_EQ(i, 400u);
  EXPECT_EQ(differ, 0u);
  // The screen shows the seed and its nearest particles.
  int lit = 0;
  for (int y = 384 - 4; y <= 384 + 4; ++y)
    for (int x = 512 - 4; x <= 512 + 4; ++x) lit += channels_.Near(Shown(x, y), ColourPixel(15));
  EXPECT_GE(lit, 5);
  EXPECT_TRUE(channels_.Near(Shown(512, 384), ColourPixel(15)));
  // Every pixel of the aggregate's square is on the screen as the back
  // buffer holds it, the black between the branches too: the whole picture
  // came through in the display's format and byte order, whichever the
  // client's processor.
  constexpr int kSide = 121, kLeft = 512 - kSide / 2, kTop = 384 - kSide / 2;
  std::vector<uint32_t> back;
  for (int y = kTop; y < kTop + kSide; ++y)
    for (int x = kLeft; x < kLeft + kSide; ++x) back.push_back(BackPixel(x, y));
  size_t wrong = 0, firstWrong = 0;
  EXPECT_TRUE(Until([&] {
    const std::vector<unsigned long> shown = ShownBlock(kLeft, kTop, kSide, kSide);
    if (shown.size() != back.size()) return false;
    wrong = 0;
    for (size_t i = back.size(); i-- > 0;)
      if (!channels_.Near(shown[i], back[i])) ++wrong, firstWrong = i;
    return wrong == 0;
  }, 2s)) << wrong << " pixels differ, the first at (" << kLeft + static_cast<int>(firstWrong % kSide) << ", "
          << kTop + static_cast<int>(firstWrong / kSide) << ")";
  EXPECT_GT(std::count(back.begin(), back.end(), ColourPixel(15)), 100) << "the square holds the aggregate";
}

TEST_F(X11Window, ADirectColourDisplayShowsThePaletteThroughAColourMapOfItsOwn) {
  if (!UseOwnServer({.visualClass = DirectColor})) GTEST_SKIP() << "Xvfb cannot make a direct-colour screen";
  Probe probe(own_->Name());
  if (DefaultVisual(probe.dpy(), 0)->c_class != DirectColor) GTEST_SKIP() << "the server kept true colour";
  OpenDetected();
  ASSERT_TRUE(GraphRunning) << "refused";
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(probe.dpy(), Win(), &a));
  ASSERT_NE(a.colormap, DefaultColormap(probe.dpy(), 0)) << "the window's own colour map";
  // What the screen shows is the colour map's colour for the drawn pixel.
  for (int c : {15, 1, 4, 37, 100, 200}) {
    PutPixel(static_cast<int16_t>(10 + c), 30, static_cast<uint16_t>(c));
    XColor shown{};
    EXPECT_TRUE(Until([&] { return (shown.pixel = probe.Pixel(Win(), 10 + c, 30)) != 0; }, 2s));
    XQueryColor(probe.dpy(), a.colormap, &shown);
    const uint32_t want = ColourPixel(c);
    EXPECT_EQ(std::tuple(shown.red >> 8, shown.green >> 8, shown.blue >> 8),
              std::tuple(want >> 16 & 0xFF, want >> 8 & 0xFF, want & 0xFF))
        << "entry " << c << " pixel " << std::hex << shown.pixel;
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, X11Depth, testing::Values(15, 16, 24, 30),
                         [](const testing::TestParamInfo<int>& i) { return std::to_string(i.param) + "bit"; });

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // A host program that does not ignore SIGPIPE, even when started by one
  // that did (an ignored signal stays ignored across exec).
  signal(SIGPIPE, SIG_DFL);
  // Before the backend's own, which pass other connections' errors on.
  xtest::InstallQuietHandlers();
  return RUN_ALL_TESTS();
}

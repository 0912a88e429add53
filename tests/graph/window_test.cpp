// The window's life: start, a failed start, the user closing it, closing
// and opening again, a mode set while it runs, and the two threads meeting.
#include <atomic>
#include <thread>
#include <tuple>

#include "tests/graph/graph_fixture.h"

namespace graph_test {
namespace {

using namespace graph;

TEST_F(GraphTest, AWindowOfTheModesSizeStartsBlackAndMaximizedOnlyForMaximizedModes) {
  const std::tuple<int16_t, int16_t, int, int, bool> modes[] = {
      {9, 2, 640, 480, false},   {15, 30000, 1024, 719, true}, {13, 4, 800, 600, false}, {13, 30000, 1024, 719, true},
      {10, 245, 1024, 719, true}, {10, 241, 1016, 741, false}};
  for (auto [driver, mode, width, height, maximized] : modes) {
    SCOPED_TRACE(testing::Message() << driver << "/" << mode);
    InitGraph(driver, mode, "");
    const headless::StartLog log = headless::Starts();
    EXPECT_EQ(std::tuple(log.Width, log.Height, log.Maximized), std::tuple(width, height, maximized));
    EXPECT_EQ(std::pair(BackBuffer.Width, BackBuffer.Height), std::pair(width, height));
    EXPECT_EQ(CountPainted(), 0);
    int lit = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) lit += headless::WindowPixel(x, y) != 0;
    EXPECT_EQ(lit, 0);
    CloseGraph();
  }
}

TEST_F(GraphTest, AFailedWindowStartLeavesGraphicsClosedAndDrawingStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  headless::FailNextStart(true);
  OpenDetected();
  EXPECT_EQ(GraphResult(), result::Failure);
  EXPECT_FALSE(IsGraphMode);
  EXPECT_FALSE(headless::WindowOpen());
  EXPECT_FALSE(GraphRunning);
  EXPECT_EXIT(PutPixel(1, 1, 1), testing::ExitedWithCode(1), "Error: Not in graphics mode");
  // Only that one start fails.
  OpenDetected();
  EXPECT_EQ(GraphResult(), result::Ok);
  EXPECT_TRUE(headless::WindowOpen());
}

TEST_F(OpenGraphTest, AfterTheUserClosesTheWindowDrawingDoesNothingAndReadingFails) {
  PutPixel(1, 1, 14);
  headless::UserClose();
  EXPECT_FALSE(headless::WindowOpen());
  EXPECT_TRUE(IsGraphMode);
  PutPixel(2, 2, 14);
  DirectPutPixel(3, 3);
  EXPECT_EQ(GraphResult(), result::Ok);
  EXPECT_EQ(GetPixel(1, 1), 0);
  EXPECT_EQ(GraphResult(), result::Failure);
  _GraphResult = result::Ok;
  SetRGBPalette(1, 2, 3, 4);
  EXPECT_EQ(GraphResult(), result::Failure);
  EXPECT_EQ(GetPaletteEntry(0, 0, 168), 0);

  const int starts = headless::Starts().Starts;
  CloseGraph();
  EXPECT_FALSE(IsGraphMode);
  EXPECT_EQ(headless::Starts().Starts, starts);
  // Opening again makes a fresh, black window.
  OpenDetected();
  EXPECT_EQ(headless::Starts().Starts, starts + 1);
  EXPECT_TRUE(headless::WindowOpen());
  EXPECT_EQ(GetPixel(1, 1), 0);
  PutPixel(1, 1, 14);
  EXPECT_EQ(GetPixel(1, 1), 14);
}

int videoStateSaves = 0;
void CountingSaveState() { ++videoStateSaves; }

TEST_F(GraphTest, InitGraphAfterCloseGraphOpensAFreshWindowAndSavesTheVideoStateOnce) {
  SaveVideoState = CountingSaveState;
  videoStateSaves = 0;
  const int starts = headless::Starts().Starts;
  for (int run = 0; run < 3; ++run) {
    OpenDetected();
    EXPECT_EQ(CountPainted(), 0);
    PutPixel(5, 5, 3);
    EXPECT_EQ(headless::WindowPixel(5, 5), DefaultRGB(3));
    CloseGraph();
    EXPECT_FALSE(headless::WindowOpen());
  }
  EXPECT_EQ(headless::Starts().Starts, starts + 3);
  EXPECT_EQ(videoStateSaves, 1);
}

TEST_F(GraphTest, AModeSetWhileTheWindowRunsKeepsTheWindowSurfacesAndPalette) {
  int16_t driver = 9, mode = 2;  // 640 × 480, 16 colours
  InitGraph(driver, mode, "");
  const int starts = headless::Starts().Starts;
  OpenDetected();  // 1024 × 719, 256 colours
  ASSERT_EQ(GraphResult(), result::Ok);
  EXPECT_EQ(headless::Starts().Starts, starts);
  EXPECT_EQ(std::pair(int{MaxX}, int{MaxY}), std::pair(1023, 718));
  EXPECT_EQ(std::pair(BackBuffer.Width, BackBuffer.Height), std::pair(640, 480));

  // The palette keeps its 16 entries: colours wrap round those.
  PutPixel(10, 10, 200);
  EXPECT_EQ(GetPixel(10, 10), 200 % 16);
  PutPixel(1000, 700, 14);  // beyond the surface
  EXPECT_EQ(CountPainted(), 1);
  EXPECT_EQ(GetPixel(1000, 700), 15);
  SetRGBPalette(20, 1, 2, 3);
  EXPECT_EQ(GraphResult(), result::Failure);
  _GraphResult = result::Ok;
  SetGraphMode(1);
  SetGraphMode(5);
  EXPECT_EQ(GraphResult(), result::Ok);
  // A viewport larger than the surface is cleared as far as the surface goes.
  SetBkColor(2);
  ClearViewPort();
  EXPECT_EQ(CountPainted(), 640 * 480);
  EXPECT_EQ(headless::Starts().Starts, starts);
}

TEST_F(OpenGraphTest, TheUserMayCloseTheWindowWhileTheProgramDraws) {
  std::atomic<bool> drawing{false}, closed{false};
  std::thread user([&] {
    while (!drawing) std::this_thread::yield();
    headless::UserClose();
    closed = true;
  });
  // The teardown must never pull a surface from under a drawing call.
  for (uint32_t i = 0; !closed; ++i) {
    const auto x = static_cast<int16_t>(i % 1024), y = static_cast<int16_t>(i / 1024 % 719);
    PutPixel(x, y, static_cast<uint16_t>(i));
    GetPixel(x, y);
    drawing = true;
  }
  user.join();
  _GraphResult = result::Ok;
  EXPECT_EQ(GetPixel(0, 0), 0);
  EXPECT_EQ(GraphResult(), result::Failure);
  EXPECT_FALSE(headless::WindowOpen());
  CloseGraph();
  EXPECT_FALSE(IsGraphMode);
}

}  // namespace
}  // namespace graph_test

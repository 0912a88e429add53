// The built-in palette, setting and reading pixels, clipping, the palette
// calls, the background colour, clearing and the write modes.
#include <map>
#include <tuple>
#include <vector>

#include "tests/graph/graph_fixture.h"

namespace graph_test {
namespace {

using namespace graph;

// What GetPixel answers for a pixel put in colour n of the built-in palette:
// the first entry of the same colour.
uint16_t Readback(int n) {
  if (n == 16 || n >= 248) return 0;
  return n == 31 ? 15 : static_cast<uint16_t>(n);
}

using Triple = std::tuple<int16_t, int16_t, int16_t>;
using Corners = std::tuple<int16_t, int16_t, int16_t, int16_t, bool>;
using Point = std::pair<int16_t, int16_t>;

uint32_t RGB(int r, int g, int b) { return static_cast<uint32_t>(r | g << 8 | b << 16); }

TEST(GraphDefaultColors, HoldTheBuiltInPalette) {
  const std::tuple<int, int, int, int> entries[] = {
      {1, 0, 0, 168},      {6, 168, 84, 0},     {15, 252, 252, 252}, {20, 56, 56, 56},   {30, 224, 224, 224},
      {32, 0, 0, 252},     {35, 188, 0, 252},   {36, 252, 0, 252},   {40, 252, 0, 0},    {44, 252, 252, 0},
      {48, 0, 252, 0},     {52, 0, 252, 252},   {55, 0, 64, 252},    {56, 124, 124, 252}, {104, 0, 0, 112},
      {224, 44, 44, 64},   {247, 44, 48, 64},
  };
  for (const auto& [i, r, g, b] : entries) EXPECT_EQ(DefaultRGB(i), RGB(r, g, b)) << i;

  std::map<uint32_t, std::vector<int>> where;
  for (int i = 0; i < 256; ++i) {
    const RGBRec& c = DefaultColors[static_cast<std::size_t>(i)];
    for (int16_t v : {c.Red, c.Green, c.Blue}) EXPECT_TRUE(v % 4 == 0 && v >= 0 && v <= 252) << i;
    where[DefaultRGB(i)].push_back(i);
  }
  EXPECT_EQ(where[0], (std::vector<int>{0, 16, 248, 249, 250, 251, 252, 253, 254, 255}));
  EXPECT_EQ(where[RGB(252, 252, 252)], (std::vector<int>{15, 31}));
  EXPECT_EQ(where.size(), 256u - 9 - 1);  // every other entry is unique
}

TEST_F(OpenGraphTest, AFreshSurfaceIsBlackAndReadsZeroEverywhere) {
  int nonZero = 0;
  for (int16_t y = 0; y <= MaxY; ++y)
    for (int16_t x = 0; x <= MaxX; ++x) nonZero += GetPixel(x, y) != 0 || headless::WindowPixel(x, y) != 0;
  EXPECT_EQ(nonZero, 0);
  EXPECT_EQ(CountPainted(), 0);
}

TEST_F(OpenGraphTest, EveryColourReachesBothSurfacesAndReadsBackAsItsFirstEqualEntry) {
  // Colour numbers past the palette wrap round it.
  for (int n = 0; n < 256 + 40; ++n) {
    const int16_t x = static_cast<int16_t>(n % 256), y = static_cast<int16_t>(10 + n / 256);
    PutPixel(x, y, static_cast<uint16_t>(n));
    SCOPED_TRACE(n);
    EXPECT_EQ(GetPixel(x, y), Readback(n % 256));
    EXPECT_EQ(BackRGB(x, y), DefaultRGB(n % 256));
    EXPECT_EQ(headless::WindowPixel(x, y), DefaultRGB(n % 256));
  }
  PutPixel(0, 20, 65535);
  EXPECT_EQ(BackRGB(0, 20), DefaultRGB(255));
  PutPixel(1, 20, 65535 - 223);  // 65312 = 255 × 256 + 32
  EXPECT_EQ(GetPixel(1, 20), 32);
  EXPECT_EQ(GraphResult(), result::Ok);
}

TEST_F(OpenGraphTest, DrawsOnlyInsideTheViewportAndLaterWritesWin) {
  struct Case {
    int16_t x, y;
    bool drawn;
  };
  const Case cases[] = {{MaxX, MaxY, true},  {0, 0, true},       {static_cast<int16_t>(MaxX + 1), 0, false},
                        {0, static_cast<int16_t>(MaxY + 1), false}, {5, -1, false}, {-1, 5, false},
                        {-32768, -32768, false}, {32767, 32767, false}};
  int drawn = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    PutPixel(c.x, c.y, 14);
    drawn += c.drawn;
    EXPECT_EQ(GetPixel(c.x, c.y), c.drawn ? 14 : 0);
    EXPECT_EQ(CountPainted(), drawn);
  }
  EXPECT_EQ(GraphResult(), result::Ok);
  PutPixel(5, 5, 9);
  PutPixel(5, 5, 10);
  EXPECT_EQ(GetPixel(5, 5), 10);
  PutPixel(5, 5, 0);
  EXPECT_EQ(BackRGB(5, 5), 0u);
}

TEST_F(OpenGraphTest, TranslatesIntoTheViewportAndClipsOnlyWhenAsked) {
  SetViewPort(100, 50, 199, 149, true);
  PutPixel(0, 0, 2);
  PutPixel(99, 99, 3);
  PutPixel(100, 0, 4);
  PutPixel(-1, 0, 4);
  EXPECT_EQ(BackRGB(100, 50), DefaultRGB(2));
  EXPECT_EQ(BackRGB(199, 149), DefaultRGB(3));
  EXPECT_EQ(CountPainted(), 2);
  EXPECT_EQ(GetPixel(99, 99), 3);

  SetViewPort(100, 50, 199, 149, false);
  PutPixel(-1, 0, 4);
  EXPECT_EQ(BackRGB(99, 50), DefaultRGB(4));
  PutPixel(-101, 0, 4);  // off the surface
  EXPECT_EQ(CountPainted(), 3);
  // Off the surface a pixel reads as white.
  EXPECT_EQ(GetPixel(-101, 0), 15);
  EXPECT_EQ(GetPixel(32767, 0), 15);

  SetViewPort(100, 50, 199, 149, true);
  EXPECT_EQ(GetPixel(-1, 0), 0);  // outside the viewport nothing is read
  EXPECT_EQ(GraphResult(), result::Ok);
}

TEST_F(OpenGraphTest, PaletteChangesAffectOnlyLaterDrawing) {
  PutPixel(1, 1, 5);
  EXPECT_EQ(GetPixel(1, 1), 5);
  SetRGBPalette(5, 10, 20, 30);
  // The old colour stays and is now nearer to another entry than to 5.
  EXPECT_NE(GetPixel(1, 1), 5);
  int16_t r = 0, g = 0, b = 0;
  GetRGBPalette(5, r, g, b);
  EXPECT_EQ(std::tuple(r, g, b), Triple(10, 20, 30));
  EXPECT_EQ(BackRGB(1, 1), DefaultRGB(5));
  PutPixel(2, 1, 5);
  EXPECT_EQ(BackRGB(2, 1), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(2, 1), 5);
  EXPECT_EQ(GraphResult(), result::Ok);

  // Components are not clamped: green above 255 spills into blue.
  SetRGBPalette(7, 0, 0x1FF, 0);
  PutPixel(3, 1, 7);
  EXPECT_EQ(BackRGB(3, 1), 0x01FF00u);

  for (int16_t bad : {int16_t{256}, int16_t{-1}, int16_t{1000}}) {
    _GraphResult = result::Ok;
    SetRGBPalette(bad, 1, 2, 3);
    EXPECT_EQ(GraphResult(), result::Failure) << bad;
    _GraphResult = result::Ok;
    r = g = b = -5;
    GetRGBPalette(bad, r, g, b);
    EXPECT_EQ(GraphResult(), result::Failure) << bad;
    EXPECT_EQ(std::tuple(r, g, b), Triple(-5, -5, -5));
  }
  GetRGBPalette(255, r, g, b);
  EXPECT_EQ(std::tuple(r, g, b), Triple(0, 0, 0));
}

TEST_F(OpenGraphTest, BackgroundColourRedefinesEntryZeroAndClearingFillsTheViewport) {
  PutPixel(3, 3, 14);
  SetViewPort(10, 20, 29, 39, true);
  CurrentX = CurrentY = 7;
  CurrentColor = 12;
  CurrentWriteMode = 1;
  SetBkColor(1);
  int16_t r = 0, g = 0, b = 0;
  GetRGBPalette(0, r, g, b);
  EXPECT_EQ(std::tuple(r, g, b), Triple(0, 0, 168));
  EXPECT_EQ(CurrentBkColor, 1);
  EXPECT_EQ(BackRGB(3, 3), DefaultRGB(14));
  EXPECT_EQ(CountPainted(), 1);
  EXPECT_EQ(std::pair(CurrentX, CurrentY), Point(0, 0));
  ViewPortType vp;
  GetViewSettings(vp);
  EXPECT_EQ(std::tuple(vp.x1, vp.y1, vp.x2, vp.y2, vp.Clip), Corners(10, 20, 29, 39, true));

  ClearViewPort();
  for (int y = 19; y <= 40; ++y) {
    for (int x = 9; x <= 30; ++x) {
      const bool inside = x >= 10 && x <= 29 && y >= 20 && y <= 39;
      const uint32_t expected = inside ? RGB(0, 0, 168) : 0;
      ASSERT_EQ(BackRGB(x, y), expected) << x << "," << y;
      ASSERT_EQ(headless::WindowPixel(x, y), expected) << x << "," << y;
    }
  }
  EXPECT_EQ(CountPainted(), 20 * 20 + 1);
  EXPECT_EQ(GetPixel(0, 0), 0);  // entry 0 is now that blue
  EXPECT_EQ(CurrentColor, 12);
  EXPECT_EQ(CurrentWriteMode, 1);
}

TEST_F(OpenGraphTest, DirectPutPixelCombinesByWriteModeInSurfaceCoordinates) {
  const uint32_t oldRGB = DefaultRGB(9), newRGB = DefaultRGB(20);
  const std::pair<int16_t, uint32_t> modes[] = {{0, newRGB},          {1, newRGB ^ oldRGB},
                                                {2, newRGB | oldRGB}, {3, newRGB & oldRGB},
                                                {4, DefaultRGB(235)}, {5, newRGB}};
  SetViewPort(100, 100, 200, 200, true);
  for (const auto& [mode, expected] : modes) {
    SCOPED_TRACE(mode);
    CurrentWriteMode = 0;
    CurrentColor = 9;
    DirectPutPixel(5, 5);
    CurrentWriteMode = mode;
    CurrentColor = 20;
    DirectPutPixel(5, 5);
    EXPECT_EQ(BackRGB(5, 5), expected);
    EXPECT_EQ(headless::WindowPixel(5, 5), expected);
  }
  DirectPutPixelClip(6, 6);  // outside the viewport
  EXPECT_EQ(CountPainted(), 1);
}

TEST_F(OpenGraphTest, SpansAreClippedAndShortOnesFollowTheWriteMode) {
  SetViewPort(10, 10, 19, 19, true);
  CurrentColor = 14;
  HLine(8, 2, 0);
  VLine(3, 5, 30);
  HLine(-5, 20, 9);
  for (int x = 12; x <= 18; ++x) EXPECT_EQ(headless::WindowPixel(x, 10), DefaultRGB(14)) << x;
  for (int y = 15; y <= 19; ++y) EXPECT_EQ(BackRGB(13, y), DefaultRGB(14)) << y;
  for (int x = 10; x <= 19; ++x) EXPECT_EQ(BackRGB(x, 19), DefaultRGB(14)) << x;
  EXPECT_EQ(CountPainted(), 7 + 4 + 10);  // (13, 19) is on two spans
  CurrentWriteMode = 1;
  HLine(0, 1, 2);
  EXPECT_EQ(CountPainted(), 7 + 4 + 10 + 2);
  HLine(1, 0, 2);
  EXPECT_EQ(CountPainted(), 7 + 4 + 10);
}

TEST_F(OpenGraphTest, DrawingGoesWhereTheTwoSwitchesSay) {
  DrawToScreen = false;
  PutPixel(1, 1, 4);
  DrawToScreen = true;
  DrawToBitmap = false;
  PutPixel(2, 2, 4);
  DrawToBitmap = true;
  EXPECT_EQ(std::pair(BackRGB(1, 1), headless::WindowPixel(1, 1)), std::pair(DefaultRGB(4), 0u));
  EXPECT_EQ(std::pair(BackRGB(2, 2), headless::WindowPixel(2, 2)), std::pair(0u, DefaultRGB(4)));
}

TEST_F(OpenGraphTest, FindsTheNearestPaletteEntry) {
  const std::tuple<int, int, int, int> cases[] = {{0, 0, 0, 0},      {1, 1, 1, 0},     {255, 255, 255, 15},
                                                  {0, 0, 170, 1},    {56, 56, 56, 20}, {0, 0, 252, 32},
                                                  {250, 2, 1, 40}};
  for (const auto& [r, g, b, entry] : cases)
    EXPECT_EQ(GetPaletteEntry(static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b)), entry)
        << r << "," << g << "," << b;
  CloseGraph();
  EXPECT_EQ(GetPaletteEntry(56, 56, 56), 0);
}

}  // namespace
}  // namespace graph_test

// The mode table on several screens, searching and detecting modes,
// opening and closing them, the viewport and the exit procedure.
#include <tuple>
#include <vector>

#include "tests/graph/graph_fixture.h"

namespace graph_test {
namespace {

using namespace graph;
using Size = std::pair<int, int>;  // largest column, largest row

std::vector<Size> Sizes(int16_t driver) {
  std::vector<Size> sizes;
  for (const TModeInfo* p = NewModeListOf(driver).Modes; p; p = p->Next) sizes.emplace_back(p->MaxX, p->MaxY);
  return sizes;
}

int FlatCount() {
  int n = 0;
  for (const TModeInfo* p = ModeList; p; p = p->Next) ++n;
  return n;
}

TEST_F(GraphTest, DetectsAndOpensTheLargest256ColourModeOfEachScreen) {
  struct Case {
    const char* what;
    ScreenMeasures screen;
    std::vector<Size> sizes256;
    int flatModes;
    int16_t openedMode;
    bool maximized;
  };
  const Case cases[] = {
      {"1024 x 768", Screen1024, {{639, 399}, {639, 479}, {799, 599}, {1015, 740}, {1023, 718}}, 11, 246, true},
      {"1920 x 1080",
       Screen1920,
       {{639, 399}, {639, 479}, {799, 599}, {1023, 767}, {1279, 1023}, {1911, 1048}, {1919, 1016}},
       15,
       246,
       true},
      {"narrower than 640", {600, 500, 4, 4, 19, 600, 451}, {{591, 472}, {599, 450}}, 4, 246, true},
      {"W x H equal to FW x FH",
       {1000, 700, 0, 0, 0, 1000, 700},
       {{639, 399}, {639, 479}, {799, 599}, {999, 699}},
       11,
       246,
       true},
      {"maximized client narrower than W",
       {1280, 1024, 4, 4, 19, 1200, 950},
       {{639, 399}, {639, 479}, {799, 599}, {1023, 767}, {1199, 949}, {1271, 996}},
       13,
       241,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RestartModule(c.screen);
    EXPECT_EQ(Sizes(15), c.sizes256);
    EXPECT_EQ(FlatCount(), c.flatModes);

    int16_t driver = 0, mode = 0, again = 0, againMode = 0;
    DetectGraph(driver, mode);
    DetectGraph(again, againMode);
    EXPECT_EQ(GraphResult(), result::Ok);
    EXPECT_EQ(driver, 15);
    EXPECT_EQ(mode, static_cast<int16_t>(c.sizes256.size()));
    EXPECT_EQ(std::pair(again, againMode), std::pair(driver, mode));

    const int before = headless::Starts().Starts;
    InitGraph(driver, mode, "");
    ASSERT_EQ(GraphResult(), result::Ok);
    EXPECT_EQ(IntCurrentMode, c.openedMode);
    EXPECT_EQ(Size(GetMaxX(), GetMaxY()), c.sizes256.back());
    EXPECT_EQ(GetMaxColor(), 255);
    const headless::StartLog log = headless::Starts();
    EXPECT_EQ(log.Starts, before + 1);
    EXPECT_EQ(log.Maximized, c.maximized);
    EXPECT_EQ(Size(log.Width, log.Height), Size(MaxX + 1, MaxY + 1));
    EXPECT_EQ(Size(BackBuffer.Width, BackBuffer.Height), Size(MaxX + 1, MaxY + 1));
    CloseGraph();
  }
}

TEST_F(GraphTest, KeepsEveryModeInTheFlatListAndNumbersTheColourDepthLists) {
  const int16_t flatModes[] = {2, 0, 1, 256, 257, 258, 259, 240, 241, 245, 246};
  int i = 0;
  for (const TModeInfo* p = ModeList; p; p = p->Next, ++i) {
    SCOPED_TRACE(p->ModeNumber);
    EXPECT_EQ(p->ModeNumber, flatModes[i]);
    EXPECT_EQ(p->DriverNumber, i < 3 ? 9 : 10);
    EXPECT_EQ(p->InternModeNumber, 0);
    EXPECT_EQ(p->PaletteSize, p->MaxColor);
    EXPECT_EQ(p->XAspect, 10000);
    EXPECT_FALSE(p->DirectColor);
  }
  EXPECT_EQ(ModeList->ModeName.view(), "640 x 480 x 16 Win");
  for (int16_t driver : {13, 15}) {
    int16_t position = 0;
    for (const TModeInfo* p = NewModeListOf(driver).Modes; p; p = p->Next)
      EXPECT_EQ(p->InternModeNumber, ++position);
    EXPECT_EQ(NewModeListOf(driver).HighestPosition, position);
  }
  EXPECT_EQ(Sizes(13), (std::vector<Size>{{639, 199}, {639, 349}, {639, 479}, {799, 599}, {1015, 740}, {1023, 718}}));
  // Of two modes of one size and colour count the later is kept.
  RestartModule({1000, 700, 0, 0, 0, 1000, 700});
  int16_t last = HighestModeKey;
  EXPECT_EQ(SearchMode(15, last)->ModeName.view(), "Maximized Window x");
}

TEST_F(GraphTest, SearchesModesByPositionResolutionAndKey) {
  struct Case {
    int16_t driver, mode;
    int16_t modeAfter;    // what the search writes back
    int16_t foundNumber;  // mode number of the entry found, -1 for none
  };
  const Case cases[] = {
      {15, LowestModeKey, 1, 256}, {15, HighestModeKey, 5, 246}, {15, 3, 3, 259},
      {15, 30009, 30009, 257},     {15, 30012, 30012, -1},      {15, 0, 0, -1},
      {15, 6, 6, -1},              {13, 30005, 30005, 0},       {14, LowestModeKey, -1, -1},
      {14, HighestModeKey, -1, -1}, {9, 2, 2, 2},               {9, 256, 256, -1},
      {9, LowestModeKey, 2, 2},    {9, HighestModeKey, 1, 1},   {10, HighestModeKey, 246, 246},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.driver << "/" << c.mode);
    int16_t mode = c.mode;
    const TModeInfo* found = SearchMode(c.driver, mode);
    EXPECT_EQ(mode, c.modeAfter);
    EXPECT_EQ(found ? found->ModeNumber : -1, c.foundNumber);
  }
  const std::tuple<int16_t, int16_t, int16_t> ranges[] = {
      {9, 2, 1}, {10, 256, 246}, {13, 1, 6}, {14, -1, -1}, {15, 1, 5}, {21, -1, -1}};
  for (const auto& [driver, lowest, highest] : ranges) {
    int16_t lo = 0, hi = 0;
    GetModeRange(driver, lo, hi);
    EXPECT_EQ(std::pair(lo, hi), std::pair(lowest, highest)) << driver;
  }
  // In the flat list the highest key takes the end of the driver's first run.
  ReleaseModeLists();
  for (const auto& [driver, number] : {std::pair<int16_t, int16_t>{10, 300}, {10, 301}, {9, 7}, {10, 302}}) {
    TModeInfo m;
    m.DriverNumber = driver;
    m.ModeNumber = number;
    AddMode(m);
  }
  int16_t mode = HighestModeKey;
  ASSERT_NE(SearchMode(10, mode), nullptr);
  EXPECT_EQ(mode, 301);
}

TEST(GraphModeCodes, MapColourCountsAndSizes) {
  const std::tuple<int32_t, int32_t, int32_t, int16_t, int16_t> cases[] = {
      {640, 480, 256, 15, 30009},  {1024, 768, 16, 13, 30012},  {320, 200, 2, 11, 30001},
      {2048, 1536, 4, 12, 30015},  {640, 480, 64, 14, 30009},   {640, 480, 4096, 16, 30009},
      {640, 480, 32768, 17, 30009}, {640, 480, 65536, 18, 30009}, {1016, 741, 256, 15, NoDriver},
      {640, 480, 3, NoDriver, 123}};
  for (const auto& [w, h, colours, driver, mode] : cases) {
    int16_t d = 0, m = 123;
    Res2Mode(w, h, colours, d, m);
    EXPECT_EQ(std::pair(d, m), std::pair(driver, mode)) << w << "x" << h << "x" << colours;
  }
  int32_t w = 0, h = 0;
  EXPECT_TRUE(Mode2Res(30001, w, h));
  EXPECT_EQ(Size(w, h), Size(320, 200));
  EXPECT_TRUE(Mode2Res(30011, w, h));
  EXPECT_EQ(Size(w, h), Size(832, 624));
  EXPECT_FALSE(Mode2Res(30000, w, h));
  EXPECT_FALSE(Mode2Res(30016, w, h));
}

TEST_F(GraphTest, InitGraphOpensDetectsOrRefusesModes) {
  struct Case {
    int16_t driver, mode;
    int16_t result, driverOut, modeOut, newDriver, currentMode;
  };
  const Case cases[] = {
      {0, 123, 0, 15, 5, 15, 246},      {15, 30000, 0, 15, 5, 15, 246},  {13, 30000, 0, 13, 6, 13, 245},
      {15, 30009, 0, 15, 30009, 15, 257}, {15, 1, 0, 15, 1, 15, 256},    {9, 2, 0, 9, 2, -1, 2},
      {10, 259, 0, 10, 259, -1, 259},   {15, 0, -10, 15, 0, 0, 0},       {15, 30012, -10, 15, 30012, 0, 0},
      {9, 3, -10, 9, 3, 0, 0},          {14, 30000, -2, 14, 30000, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.driver << "/" << c.mode);
    RestartModule(Screen1024);
    const int before = headless::Starts().Starts;
    int16_t driver = c.driver, mode = c.mode;
    InitGraph(driver, mode, "");
    EXPECT_EQ(GraphResult(), c.result);
    EXPECT_EQ(std::pair(driver, mode), std::pair(c.driverOut, c.modeOut));
    EXPECT_EQ(IntCurrentMode, c.currentMode);
    const bool opened = c.result == result::Ok;
    EXPECT_EQ(IsGraphMode, opened);
    EXPECT_EQ(headless::WindowOpen(), opened);
    EXPECT_EQ(headless::Starts().Starts, before + (opened ? 1 : 0));
    EXPECT_EQ(PutPixel == PutPixel16Win32GUI, opened);
    if (opened) {
      EXPECT_EQ(IntCurrentNewDriver, c.newDriver);
      EXPECT_EQ(Size(BackBuffer.Width, BackBuffer.Height), Size(MaxX + 1, MaxY + 1));
    }
    CloseGraph();
  }
}

TEST_F(GraphTest, InitGraphResetsTheDrawingState) {
  CurrentX = CurrentY = 7;
  CurrentColor = 3;
  CurrentBkColor = 4;
  CurrentWriteMode = 2;
  ArcCall = {1, 2, 3, 4, 5, 6};
  OpenDetected();
  ViewPortType vp;
  GetViewSettings(vp);
  EXPECT_EQ((std::tuple(vp.x1, vp.y1, vp.x2, vp.y2, vp.Clip)), std::tuple(0, 0, MaxX, MaxY, true));
  EXPECT_EQ(Size(CurrentX, CurrentY), Size(0, 0));
  EXPECT_EQ(CurrentColor, 15);
  EXPECT_EQ(CurrentBkColor, 0);
  EXPECT_EQ(CurrentWriteMode, 0);
  EXPECT_EQ(ArcCall, (std::array<int16_t, 6>{}));
  EXPECT_TRUE(DirectVideo);
  EXPECT_FALSE(FirstCallOfInitGraph);
  EXPECT_EQ(DriverName.view(), "WIN32GUI");
  EXPECT_EQ(FillSettings.Color, 255);
  EXPECT_EQ(LineInfo.Thickness, 1);
  EXPECT_EQ(CurrentTextInfo.Vert, 2);
  EXPECT_EQ(Size(XAspect, YAspect), Size(10000, 10000));
}

TEST_F(OpenGraphTest, SetViewPortRefusesCornersOutsideTheModeOrOutOfOrder) {
  struct Case {
    int16_t x1, y1, x2, y2;
    bool accepted;
  };
  const Case cases[] = {
      {0, 0, static_cast<int16_t>(MaxX + 1), MaxY, false}, {0, 0, MaxX, static_cast<int16_t>(MaxY + 1), false},
      {-1, 0, 10, 10, false}, {0, -1, 10, 10, false}, {5, 0, 4, 10, false}, {0, 5, 10, 4, false},
      {10, 10, 10, 10, true}, {3, 4, MaxX, MaxY, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x1 << "," << c.y1 << "," << c.x2 << "," << c.y2);
    SetViewPort(20, 30, 40, 50, true);
    CurrentX = 9;
    _GraphResult = result::Ok;
    SetViewPort(c.x1, c.y1, c.x2, c.y2, false);
    ViewPortType vp;
    GetViewSettings(vp);
    const auto expected = c.accepted ? std::tuple(c.x1, c.y1, c.x2, c.y2, false)
                                     : std::tuple<int16_t, int16_t, int16_t, int16_t, bool>(20, 30, 40, 50, true);
    EXPECT_EQ(std::tuple(vp.x1, vp.y1, vp.x2, vp.y2, vp.Clip), expected);
    EXPECT_EQ(GraphResult(), c.accepted ? result::Ok : result::Failure);
    EXPECT_EQ(CurrentX, c.accepted ? 0 : 9);
  }
  EXPECT_EQ(Size(ViewWidth, ViewHeight), Size(MaxX - 3, MaxY - 4));
}

TEST_F(OpenGraphTest, CloseGraphTwiceReportsNoModeTheSecondTime) {
  const int16_t maxX = MaxX;
  CloseGraph();
  EXPECT_EQ(GraphResult(), result::Ok);
  EXPECT_FALSE(IsGraphMode);
  EXPECT_FALSE(headless::WindowOpen());
  CloseGraph();
  EXPECT_EQ(GraphResult(), result::NotOpen);
  // The closed mode's values and routines stay; the routines do nothing.
  EXPECT_EQ(MaxX, maxX);
  EXPECT_EQ(PutPixel, PutPixel16Win32GUI);
  PutPixel(1, 1, 15);
  EXPECT_EQ(GetPixel(1, 1), 0);
  EXPECT_EQ(GraphResult(), result::Failure);
}

TEST_F(GraphTest, AfterAFailedInitGraphEveryPixelHookStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int16_t driver = 15, mode = 0;
  InitGraph(driver, mode, "");
  ASSERT_EQ(GraphResult(), result::NoSuchMode);
  const char* message = "^Error: Not in graphics mode \\(use InitGraph and test GraphResult afterwards\\)\r?\n$";
  int16_t r = 0, g = 0, b = 0;
  EXPECT_EXIT(PutPixel(1, 1, 1), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(GetPixel(1, 1), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(DirectPutPixel(1, 1), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(SetRGBPalette(1, 2, 3, 4), testing::ExitedWithCode(1), message);
  EXPECT_EXIT(GetRGBPalette(1, r, g, b), testing::ExitedWithCode(1), message);
}

TEST_F(GraphTest, InitGraphWithoutAVideoStateHookIsRunTimeError216) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SaveVideoState = nullptr;
  int16_t driver = 0, mode = 0;
  EXPECT_EXIT(InitGraph(driver, mode, ""), testing::ExitedWithCode(216), "");
}

void MarkerExitProc() {}

TEST_F(GraphTest, ExitProcedureClosesAnOpenModeOnlyOnARunTimeError) {
  static const int somewhere = 0;
  const std::pair<uint16_t, const void*> ends[] = {{0, nullptr}, {201, nullptr}, {0, &somewhere}};
  for (const auto& [errorCode, errorAddr] : ends) {
    SCOPED_TRACE(errorCode);
    RestartModule(Screen1024);
    // Start the module again with another exit procedure already installed.
    GraphExitProc();
    sys::ExitProc = MarkerExitProc;
    InitializeGraph();
    EXPECT_EQ(sys::ExitProc, GraphExitProc);
    OpenDetected();
    sys::ErrorCode = errorCode;
    sys::ErrorAddr = errorAddr;
    GraphExitProc();
    const bool runTimeError = errorCode != 0 || errorAddr != nullptr;
    EXPECT_EQ(sys::ExitProc, MarkerExitProc);
    EXPECT_EQ(IsGraphMode, !runTimeError);
    EXPECT_EQ(headless::WindowOpen(), !runTimeError);
    EXPECT_EQ(ModeList, nullptr);
    EXPECT_EQ(NewModeListOf(15).Modes, nullptr);
    sys::ErrorCode = 0;
    sys::ErrorAddr = nullptr;
    sys::ExitProc = ExitSave = nullptr;
    CloseGraph();
  }
}

}  // namespace
}  // namespace graph_test

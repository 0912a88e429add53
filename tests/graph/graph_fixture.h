// What the graphics tests start from: the module as a fresh program sees it
// on a chosen screen, and no window left behind afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <utility>

#include "graph/graph.h"
#include "graph/headless/headless_window.h"
#include "graph/window.h"
#include "runtime/system.h"

namespace graph_test {

using graph::backend::ScreenMeasures;

// The two screens of the worked examples: 1024 × 768 with frame 4 and
// caption 19, 1920 × 1080 with frame 4 and caption 23.
inline constexpr ScreenMeasures Screen1024{1024, 768, 4, 4, 19, 1024, 719};
inline constexpr ScreenMeasures Screen1920{1920, 1080, 4, 4, 23, 1920, 1017};

// Ends the module as a program's end would and starts it again on `screen`.
inline void RestartModule(const ScreenMeasures& screen) {
  graph::CloseGraph();
  graph::WindowStop();
  graph::GraphExitProc();
  graph::headless::SetScreenMeasures(screen);
  graph::headless::FailNextStart(false);
  graph::DefaultHooks();
  graph::FirstCallOfInitGraph = true;
  graph::DrawToBitmap = graph::DrawToScreen = true;
  graph::InitializeGraph();
}

// Opens graphics the way the programs do; returns what was detected.
inline std::pair<int16_t, int16_t> OpenDetected() {
  int16_t driver = 0, mode = 0;
  graph::DetectGraph(driver, mode);
  graph::InitGraph(driver, mode, "");
  return {driver, mode};
}

// A back-buffer pixel as an RGB colour.
inline uint32_t BackRGB(int32_t x, int32_t y) {
  std::lock_guard lock(graph::GraphDrawing);
  const graph::Surface& b = graph::BackBuffer;
  return graph::PixelToRGB(b.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(b.Width) +
                                    static_cast<std::size_t>(x)]);
}

// How many back-buffer pixels are not black.
inline int CountPainted() {
  std::lock_guard lock(graph::GraphDrawing);
  const graph::Surface& b = graph::BackBuffer;
  int n = 0;
  for (int64_t i = 0; i < int64_t{b.Width} * b.Height; ++i) n += b.Pixels[i] != 0;
  return n;
}

inline uint32_t DefaultRGB(int entry) { return graph::EntryToRGB(graph::DefaultColors[static_cast<std::size_t>(entry)]); }

class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::InitSystemUnit();  // the stop message goes to the standard error channel
    RestartModule(Screen1024);
  }
  void TearDown() override {
    graph::CloseGraph();
    graph::WindowStop();
  }
};

// With the programs' mode open.
class OpenGraphTest : public GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    OpenDetected();
    ASSERT_TRUE(graph::IsGraphMode);
  }
};

}  // namespace graph_test

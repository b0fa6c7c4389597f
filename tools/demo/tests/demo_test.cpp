// The demo renders frames without being shown: tunnel everywhere, the cube on top.
#include <gtest/gtest.h>

#include <set>

#include "DemoWindow.h"
#include "qt_test_app.h"

namespace {

TEST(RendoDemo, FramesShowTheTunnelAndTheCubeAndMove) {
  TestApp();
  TDemoWindow window(320, 200);
  for (int map = 1; map <= 9; ++map) {
    window.SelectMap(map);
    EXPECT_EQ(window.Map(), map);
    window.RenderFrame(10);
    const QImage& frame = window.Frame();
    ASSERT_EQ(frame.size(), QSize(320, 200));
    std::set<uint32_t> colours;  // of every fifth pixel of every seventh row
    int cube = 0;
    for (int y = 0; y < frame.height(); ++y)
      for (int x = 0; x < frame.width(); ++x) {
        if (y % 7 == 0 && x % 5 == 0) colours.insert(frame.pixel(x, y));
        cube += (frame.pixel(x, y) & 0xFFFFFFu) == TDemoWindow::kCubeColor;
      }
    EXPECT_GT(colours.size(), 20u) << "map " << map;  // a textured picture, not a flat fill
    EXPECT_GT(cube, 100) << "map " << map;  // the cube's edges
  }
  window.SelectMap(1);
  window.RenderFrame(10);
  const QImage before = window.Frame().copy();
  window.RenderFrame(11);
  EXPECT_NE(before, window.Frame());
  window.SelectMap(0);  // out of range: ignored
  EXPECT_EQ(window.Map(), 1);
}

}  // namespace

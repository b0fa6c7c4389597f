#include <gtest/gtest.h>

#include <QImage>
#include <QWindow>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "DIBpbox.h"
#include "qt_test_app.h"

namespace {

class TPaintBoxTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { TestApp(); }
  TDIBPaintBox Box;  // made after the application object
};

TEST_F(TPaintBoxTest, BoundsDriveTheSurfaceExceptZeroSizes) {
  // Width from the constructor's 100 x 100, depth, mask switch and colour.
  EXPECT_EQ(std::tuple(Box.Surface().Width(), Box.Depth(), Box.EnableMask(), Box.MaskColor),
            std::tuple(100, 32, false, clRed));
  Box.SetBounds(24, 16, 220, 60);
  EXPECT_EQ(std::tuple(Box.Surface().Width(), Box.Surface().Height(), Box.x()),
            std::tuple(220, 60, 24));
  void* bits = Box.Surface().Bits();
  Box.SetBounds(24, 16, 0, 60);
  EXPECT_EQ(Box.Surface().Width(), 220);
  EXPECT_EQ(Box.Surface().Bits(), bits);
  Box.SetBounds(24, 16, 220, 60);
  Box.SetDepth(32);  // unchanged depth keeps the memory
  EXPECT_EQ(Box.Surface().Bits(), bits);
  // The paint box shares the surface's lock.
  EXPECT_EQ(Box.Lock(), Box.Surface().Lock());
}

TEST_F(TPaintBoxTest, RefusedDepthLeavesTheControlAsItWas) {
  Box.SetBounds(0, 0, 20, 10);
  void* bits = Box.Surface().Bits();
  EXPECT_THROW(Box.SetDepth(7), EDIBSurfaceError);
  EXPECT_EQ(Box.Depth(), 32);
  EXPECT_EQ(Box.Surface().Bits(), bits);
  // Later resizes still work at the depth the surface has.
  Box.SetBounds(0, 0, 30, 12);
  EXPECT_EQ(Box.Surface().Width(), 30);
  EXPECT_EQ(Box.Surface().BitCount(), 32);
}

// Records what the copy to the screen finds in the surface.
class TWatchedPaintBox : public TDIBPaintBox {
public:
  std::vector<uint32_t> Copied;  // pixel (1, 0) at each copy

protected:
  void paintEvent(QPaintEvent* Event) override {
    TDIBPaintBox::paintEvent(Event);
    Copied.push_back(ScreenImage().pixel(1, 0));
  }
};

TEST_F(TPaintBoxTest, PaintCallsOnPaintFirstAndShowsWhatItDrew) {
  TWatchedPaintBox box;
  box.SetBounds(0, 0, 8, 4);
  box.show();
  ProcessUntil([&] { return box.windowHandle() && box.windowHandle()->isExposed(); }, 1000);
  QCoreApplication::processEvents();  // the window system's first paint
  box.Copied.clear();
  int calls = 0;
  box.OnPaint = [&](TDIBPaintBox* sender) {
    EXPECT_EQ(sender, &box);
    ++calls;
    sender->Surface().Canvas().SetPixel(1, 0, 0x0000FF);  // red at the top
  };
  box.Paint();
  EXPECT_EQ(calls, 1);
  // The copy ran once, after OnPaint had drawn.
  ASSERT_EQ(box.Copied.size(), 1u);
  EXPECT_EQ(box.Copied[0], 0xFFFF0000u);
  const QImage& shown = box.ScreenImage();
  EXPECT_EQ(shown.pixel(1, 0), 0xFFFF0000u);  // rows flipped, fourth byte forced opaque
  EXPECT_EQ(shown.pixel(1, 3), 0xFF000000u);
}

TEST_F(TPaintBoxTest, ScreenImageFlipsRowsAndForcesOpaque) {
  Box.SetBounds(0, 0, 3, 2);
  *Box.Surface().PixelAddress(0, 0) = 0x00123456;  // bottom-left in memory row 0
  *Box.Surface().PixelAddress(2, 1) = 0x7F654321;  // top-right
  const QImage& shown = Box.ScreenImage();
  EXPECT_EQ(shown.pixel(0, 1), 0xFF123456u);
  EXPECT_EQ(shown.pixel(2, 0), 0xFF654321u);
}

TEST_F(TPaintBoxTest, EnableMaskPaintsOnlyWhenVisible) {
  int calls = 0;
  Box.OnPaint = [&](TDIBPaintBox*) { ++calls; };
  Box.SetEnableMask(true);
  EXPECT_EQ(calls, 0);
  Box.show();
  Box.SetEnableMask(false);
  EXPECT_EQ(calls, 1);
}

TEST_F(TPaintBoxTest, OnPaintErrorLeavesTheLock) {
  Box.OnPaint = [](TDIBPaintBox*) { throw std::runtime_error("boom"); };
  EXPECT_THROW(Box.Paint(), std::runtime_error);
  Box.OnPaint = nullptr;
  Box.SetBounds(0, 0, 10, 10);  // SetSize takes the same lock: it must be free
  EXPECT_EQ(Box.Surface().Width(), 10);
}

// A background provider that shows a fixed colour, for the mask step.
struct TPlainBackGround : IDIBBackGround {
  void CopyBackGround(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width,
                      int32_t Height) override {
    Asked = {X, Y, Width, Height};
    for (int32_t y = 0; y < Height; ++y)
      for (int32_t x = 0; x < Width; ++x) Target.Canvas().SetPixel(x, y, 0x00336699);
  }
  QRect Asked;
};

TEST_F(TPaintBoxTest, MaskStepReplacesTheMaskColourByTheBackground) {
  QWidget parent;
  TDIBPaintBox box(&parent);
  box.SetBounds(5, 6, 4, 2);
  TPlainBackGround behind;
  box.BackGround = &behind;
  box.Surface().Canvas().SetPixel(0, 0, clRed);  // masked
  box.Surface().Canvas().SetPixel(1, 0, 0x000080);  // not the mask colour
  *box.Surface().PixelAddress(2, 0) = 0xAAFF0000;  // red with a fourth byte: masked too
  parent.show();
  box.SetEnableMask(true);
  EXPECT_EQ(behind.Asked, QRect(5, 6, 4, 2));
  EXPECT_EQ(box.Surface().Canvas().Pixel(0, 0), 0x00336699u);
  EXPECT_EQ(box.Surface().Canvas().Pixel(1, 0), 0x000080u);
  EXPECT_EQ(*box.Surface().PixelAddress(2, 0), ColorToPixel(0x00336699));
}

TEST_F(TPaintBoxTest, CopyBackGroundAndDrawTo) {
  Box.SetBounds(24, 16, 220, 60);
  TDIBCanvas& canvas = Box.Surface().Canvas();
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 220; ++x) canvas.SetPixel(x, y, uint32_t(x | y << 8));

  TDIBSurface target(3, 2, 32);
  Box.CopyBackGround(target, 30, 20, 3, 2);  // parent (30, 20) is surface (6, 4)
  EXPECT_EQ(target.Canvas().Pixel(0, 0), uint32_t(6 | 4 << 8));
  EXPECT_EQ(target.Canvas().Pixel(2, 1), uint32_t(8 | 5 << 8));

  TDIBSurface wide(10, 10, 32);
  Box.DrawTo(wide, 4, 5, 3, 2);  // surface top-left block to (4, 5)
  EXPECT_EQ(wide.Canvas().Pixel(4, 5), 0u);
  EXPECT_EQ(wide.Canvas().Pixel(6, 6), uint32_t(2 | 1 << 8));
  EXPECT_EQ(wide.Canvas().Pixel(7, 6), 0u);
}

}  // namespace

#include <gtest/gtest.h>

#include <QImage>
#include <QWindow>
#include <stdexcept>
#include <vector>

#include "DIBpbox.h"
#include "qt_test_app.h"

namespace {

class TPaintBoxTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { TestApp(); }
};

TEST_F(TPaintBoxTest, BoundsDriveTheSurfaceExceptZeroSizes) {
  TDIBPaintBox box;
  EXPECT_EQ(box.Surface().Width(), 100);  // the constructor's 100 x 100
  EXPECT_EQ(box.Depth(), 32);
  EXPECT_FALSE(box.EnableMask());
  EXPECT_EQ(box.MaskColor, clRed);
  box.SetBounds(24, 16, 220, 60);
  EXPECT_EQ(box.Surface().Width(), 220);
  EXPECT_EQ(box.Surface().Height(), 60);
  EXPECT_EQ(box.x(), 24);
  void* bits = box.Surface().Bits();
  box.SetBounds(24, 16, 0, 60);
  EXPECT_EQ(box.Surface().Width(), 220);
  EXPECT_EQ(box.Surface().Bits(), bits);
  box.SetBounds(24, 16, 220, 60);
  box.SetDepth(32);  // unchanged depth keeps the memory
  EXPECT_EQ(box.Surface().Bits(), bits);
  // The paint box shares the surface's lock.
  EXPECT_EQ(box.Lock(), box.Surface().Lock());
}

TEST_F(TPaintBoxTest, RefusedDepthLeavesTheControlAsItWas) {
  TDIBPaintBox box;
  box.SetBounds(0, 0, 20, 10);
  void* bits = box.Surface().Bits();
  EXPECT_THROW(box.SetDepth(7), EDIBSurfaceError);
  EXPECT_EQ(box.Depth(), 32);
  EXPECT_EQ(box.Surface().Bits(), bits);
  // Later resizes still work at the depth the surface has.
  box.SetBounds(0, 0, 30, 12);
  EXPECT_EQ(box.Surface().Width(), 30);
  EXPECT_EQ(box.Surface().BitCount(), 32);
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
  TDIBPaintBox box;
  box.SetBounds(0, 0, 3, 2);
  *box.Surface().PixelAddress(0, 0) = 0x00123456;  // bottom-left in memory row 0
  *box.Surface().PixelAddress(2, 1) = 0x7F654321;  // top-right
  const QImage& shown = box.ScreenImage();
  EXPECT_EQ(shown.pixel(0, 1), 0xFF123456u);
  EXPECT_EQ(shown.pixel(2, 0), 0xFF654321u);
}

TEST_F(TPaintBoxTest, EnableMaskPaintsOnlyWhenVisible) {
  TDIBPaintBox box;
  int calls = 0;
  box.OnPaint = [&](TDIBPaintBox*) { ++calls; };
  box.SetEnableMask(true);
  EXPECT_EQ(calls, 0);
  box.show();
  box.SetEnableMask(false);
  EXPECT_EQ(calls, 1);
}

TEST_F(TPaintBoxTest, OnPaintErrorLeavesTheLock) {
  TDIBPaintBox box;
  box.OnPaint = [](TDIBPaintBox*) { throw std::runtime_error("boom"); };
  EXPECT_THROW(box.Paint(), std::runtime_error);
  box.OnPaint = nullptr;
  box.SetBounds(0, 0, 10, 10);  // SetSize takes the same lock: it must be free
  EXPECT_EQ(box.Surface().Width(), 10);
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
  TDIBPaintBox box;
  box.SetBounds(24, 16, 220, 60);
  TDIBCanvas& canvas = box.Surface().Canvas();
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 220; ++x) canvas.SetPixel(x, y, uint32_t(x | y << 8));

  TDIBSurface target(3, 2, 32);
  box.CopyBackGround(target, 30, 20, 3, 2);  // parent (30, 20) is surface (6, 4)
  EXPECT_EQ(target.Canvas().Pixel(0, 0), uint32_t(6 | 4 << 8));
  EXPECT_EQ(target.Canvas().Pixel(2, 1), uint32_t(8 | 5 << 8));

  TDIBSurface wide(10, 10, 32);
  box.DrawTo(wide, 4, 5, 3, 2);  // surface top-left block to (4, 5)
  EXPECT_EQ(wide.Canvas().Pixel(4, 5), 0u);
  EXPECT_EQ(wide.Canvas().Pixel(6, 6), uint32_t(2 | 1 << 8));
  EXPECT_EQ(wide.Canvas().Pixel(7, 6), 0u);
}

}  // namespace

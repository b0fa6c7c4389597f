#include <gtest/gtest.h>

#if __has_include(<QImage>)  // the picture drawn from a QImage is Linux-only
#include <QImage>
#endif
#include <cstring>
#include <tuple>
#include <utility>

#include "DIBSurf.h"
#include "rendo/reference.h"
#include "rendoif.h"
#include "ucpuid.h"

namespace {

// The engine bound from its library, released at the end.
class DIBSurfaceOnEngine : public ::testing::Test {
protected:
  void SetUp() override {
    DetectCpuFeatures();
    LoadEngineFrom(RENDO_LIBRARY_FOLDER);
    ASSERT_TRUE(Engine);
  }
  void TearDown() override { ReleaseEngine(); }

  // The engine's runs over its target at a row stride: pixels per run, runs.
  static std::pair<uint32_t, uint32_t> Span(int32_t stride) {
    uint32_t count = 0, rows = 0;
    Engine->GetSpan(&count, &rows, stride);
    return {count, rows};
  }
};

TEST(DIBSurface, HeaderAndMemoryOfTheHistorySurface) {
  TDIBSurface surface(220, 60, 32);
  const TBitmapInfoHeader& h = surface.Header();
  // Size, width, height (positive: bottom-up), planes, bits, compression, image size.
  EXPECT_EQ(std::tuple(h.biSize, h.biWidth, h.biHeight, h.biPlanes, h.biBitCount, h.biCompression,
                       h.biSizeImage),
            std::tuple(40u, 220, 60, 1, 32, 0u, 0u));
  EXPECT_TRUE(surface.Created());
  EXPECT_EQ(surface.ImageBytes(), 52800u);
  ASSERT_NE(surface.Bits(), nullptr);
  // The whole image is addressable and starts zeroed.
  const auto* bytes = static_cast<const uint8_t*>(surface.Bits());
  for (size_t i = 0; i < 52800; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(DIBSurface, SetSizeKeepsOrReplacesTheMemory) {
  TDIBSurface surface(220, 60, 32);
  void* bits = surface.Bits();
  TDIBCanvas& canvas = surface.Canvas();
  surface.SetSize(220, 60, 32);
  EXPECT_EQ(surface.Bits(), bits);

  surface.SetSize(30, 20, 32);
  EXPECT_EQ(std::pair(surface.Width(), surface.Height()), std::pair(30, 20));
  EXPECT_EQ(&surface.Canvas(), &canvas);  // one canvas for the surface's life
  // The earlier canvas draws into the new memory.
  canvas.SetPixel(0, 0, 0x00102030);
  EXPECT_EQ(*surface.PixelAddress(0, 19), 0x00302010u);
}

TEST(DIBSurface, BadSizesRaiseAndKeepTheSection) {
  TDIBSurface surface(8, 8, 32);
  void* bits = surface.Bits();
  for (auto [w, h, depth] : {std::tuple{0, 8, 32}, {8, -1, 32}, {8, 8, 7}, {1 << 20, 1 << 20, 32}})
    EXPECT_THROW(surface.SetSize(w, h, depth), EDIBSurfaceError) << w << "x" << h << "x" << depth;
  EXPECT_EQ(surface.Bits(), bits);
  EXPECT_EQ(surface.Width(), 8);
  EXPECT_THROW(TDIBSurface(0, 0, 32), EDIBSurfaceError);
  // The lock was left on the way out: the next resize still works.
  surface.SetSize(9, 9, 32);
  EXPECT_EQ(surface.Width(), 9);
}

TEST(DIBSurface, CanvasOriginIsTheLastMemoryRow) {
  TDIBSurface surface(220, 60, 32);
  TDIBCanvas& canvas = surface.Canvas();
  canvas.SetPixel(0, 0, 0x00FF0000);  // pure blue as a colour value
  EXPECT_EQ(*surface.PixelAddress(0, 59), 0x000000FFu);
  EXPECT_EQ(surface.PixelAddress(0, 0), surface.Bits());
  EXPECT_EQ(surface.PixelAddress(3, 2), static_cast<uint32_t*>(surface.Bits()) + 443);
  EXPECT_EQ(canvas.Pixel(0, 0), 0x00FF0000u);
}

TEST(DIBSurface, LineToLeavesOutItsEndPoint) {
  TDIBSurface surface(220, 60, 32);
  TDIBCanvas& canvas = surface.Canvas();
  canvas.Pen.Style = TPenStyle::psSolid;
  canvas.Pen.Color = 24 * 65793;  // grey 24
  canvas.MoveTo(5, 59);
  canvas.LineTo(5, 30);
  for (int y = 0; y < 60; ++y) EXPECT_EQ(canvas.Pixel(5, y), y >= 31 ? 24 * 65793u : 0u) << y;
  // In memory: rows 0..28 from the bottom.
  for (int row : {0, 28, 29}) EXPECT_EQ(*surface.PixelAddress(5, row), row < 29 ? 0x00181818u : 0u);
  EXPECT_EQ(canvas.PenPosY, 30);

  // A line to where the pen already is paints nothing; a clear pen paints nothing.
  canvas.MoveTo(7, 59);
  canvas.LineTo(7, 59);
  EXPECT_EQ(canvas.Pixel(7, 59), 0u);
  canvas.Pen.Style = TPenStyle::psClear;
  canvas.LineTo(7, 0);
  EXPECT_EQ(canvas.Pixel(7, 30), 0u);

  // Horizontal and diagonal lines, clipped at the edges.
  canvas.Pen.Style = TPenStyle::psSolid;
  canvas.Pen.Color = 0x000000FF;
  canvas.MoveTo(-3, 0);
  canvas.LineTo(3, 0);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(canvas.Pixel(x, 0), x < 3 ? 0x0000FFu : 0u) << x;
  canvas.MoveTo(10, 10);
  canvas.LineTo(13, 13);
  for (int d : {10, 12, 13}) EXPECT_EQ(canvas.Pixel(d, d), d < 13 ? 0x0000FFu : 0u) << d;
}

#if __has_include(<QImage>)
TEST(DIBSurface, DrawPutsAPictureUnscaledAtAPoint) {
  TDIBSurface surface(4, 3, 32);
  QImage picture(2, 2, QImage::Format_ARGB32);
  const QRgb kPixels[] = {0x80102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};  // row by row
  for (int i = 0; i < 4; ++i) picture.setPixel(i % 2, i / 2, kPixels[i]);
  surface.Canvas().Draw(3, 2, picture);  // only its top-left pixel is inside
  EXPECT_EQ(*surface.PixelAddress(3, 0), 0x00102030u);
  EXPECT_EQ(*surface.PixelAddress(2, 0), 0u);
  surface.Canvas().Draw(0, 0, picture);
  EXPECT_EQ(*surface.PixelAddress(0, 2), 0x00102030u);  // picture top row -> last memory row
  EXPECT_EQ(*surface.PixelAddress(1, 2), 0x00405060u);
  EXPECT_EQ(*surface.PixelAddress(0, 1), 0x00708090u);
}
#endif

TEST_F(DIBSurfaceOnEngine, BindTargetPassesRowLength880) {
  TDIBSurface surface(220, 60, 32);
  surface.BindTarget(Engine.get());
  // The engine merges rows only when the target's stride is exactly width * 4 = 880.
  EXPECT_EQ(Span(880), std::pair(13200u, 1u));
  EXPECT_EQ(Span(884), std::pair(220u, 60u));
  // The engine works on the surface's own memory, and holds no reference of its own.
  std::memset(surface.Bits(), 50, surface.ImageBytes());
  std::vector<uint32_t> history(13200, 0x01010101);
  Engine->SubtractSaturated(history.data(), 13200);
  if (CpuHasMMX) {
    EXPECT_EQ(*surface.PixelAddress(219, 59), 0x31313131u);
  }
  EXPECT_EQ(Engine->AddRef(), 3u);
  Engine->Release();
}

// A block transfer within one surface reads every source row before it is overwritten,
// whichever way the block moves (scrolling a picture by drawing it onto itself).
TEST(DIBSurface, CopyWithinOneSurfaceScrollsBothWays) {
  TDIBSurface surface(3, 4, 32);
  auto fill = [&] {
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x) surface.Canvas().SetPixel(x, y, TColor(0x10 * (y + 1) + x));
  };
  fill();
  surface.Canvas().Draw(0, 1, surface);  // down one picture row
  for (int y = 1; y < 4; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(surface.Canvas().Pixel(x, y), TColor(0x10 * y + x)) << x << "," << y;
  EXPECT_EQ(surface.Canvas().Pixel(2, 0), TColor(0x12));  // not covered by the block
  fill();
  surface.Canvas().Draw(1, -1, surface);  // up one row and right one column
  for (int y = 0; y < 3; ++y)
    for (int x = 1; x < 3; ++x)
      EXPECT_EQ(surface.Canvas().Pixel(x, y), TColor(0x10 * (y + 2) + x - 1)) << x << "," << y;
}

// The engine writes four bytes per pixel at Width * 4 bytes per row; a surface of another
// depth holds fewer, so binding it would let every engine operation run past its memory.
TEST_F(DIBSurfaceOnEngine, BindTargetRefusesDepthsOtherThan32) {
  TDIBSurface strip(220, 60, 32);
  strip.BindTarget(Engine.get());
  for (int32_t depth : {8, 24}) {
    TDIBSurface other(64, 10, depth);
    EXPECT_THROW(other.BindTarget(Engine.get()), EDIBSurfaceError) << depth;
  }
  // The engine keeps the last good binding, and the refusal leaves no reference behind.
  EXPECT_EQ(Span(880), std::pair(13200u, 1u));
  EXPECT_EQ(Engine->AddRef(), 3u);
  Engine->Release();
}

// Without the library the program draws through the reference frames; they must give the
// engine's pixels exactly, for both variants and a padded layout as well as the strip's.
TEST_F(DIBSurfaceOnEngine, ReferenceFramesMatchTheEngine) {
  if (!CpuHasMMX) GTEST_SKIP() << "engine switched off on this processor";
  void* cpu = nullptr;
  ASSERT_EQ(Engine->QueryInterface(&IID_ICpuFeatures, &cpu), RENDO_S_OK);
  for (int sse : {0, 1})
    for (int32_t stride : {880, 884}) {
      static_cast<ICpuFeatures*>(cpu)->SetSseEnabled(sse);
      std::vector<uint32_t> a(221 * 60), b, history(221 * 60);
      uint32_t x = 7;
      for (auto& p : a) p = (x = x * 1664525u + 1013904223u);
      for (auto& p : history) p = (x = x * 1664525u + 1013904223u) & 0x1F1F1F1F;
      b = a;
      Engine->SetTarget(a.data(), stride, 219, 60);
      Engine->SubtractSaturated(history.data(), 13142);
      Engine->Desaturate(a.data(), stride, 77);
      rendo_ref::SubtractSaturatedRun(b.data(), history.data(), 13142);
      rendo_ref::DesaturateTarget(b.data(), stride, 219, 60, b.data(), stride, 77, sse != 0);
      ASSERT_EQ(a, b) << "sse " << sse << " stride " << stride;
    }
  static_cast<ICpuFeatures*>(cpu)->SetSseEnabled(CpuUseSSE ? -1 : 0);
  static_cast<ICpuFeatures*>(cpu)->Release();
}

}  // namespace

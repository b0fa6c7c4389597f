// The surface in memory of its own: a zeroed block of 32-bit words, the canvas drawing
// into it pixel by pixel and copies made row by row.
#include "DIBSurf_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "synchronize.h"

// Canvas ------------------------------------------------------------------------------

uint32_t* TDIBCanvas::At(int32_t X, int32_t Y) const {
  if (FSurface.BitCount() != 32 || FSurface.Bits() == nullptr) return nullptr;
  if (X < 0 || Y < 0 || X >= FSurface.Width() || Y >= FSurface.Height()) return nullptr;
  // Top-down picture row Y is memory row Height - 1 - Y.
  return FSurface.PixelAddress(X, FSurface.Height() - 1 - Y);
}

void TDIBCanvas::LineTo(int32_t X, int32_t Y) {
  const int32_t x0 = PenPosX, y0 = PenPosY;
  PenPosX = X;
  PenPosY = Y;
  if (Pen.Style == TPenStyle::psClear) return;
  const uint32_t pixel = ColorToPixel(Pen.Color);
  // Bresenham over the major axis; the loop stops one step short of the end point.
  const int64_t dx = std::abs(int64_t(X) - x0), dy = std::abs(int64_t(Y) - y0);
  const int32_t sx = X > x0 ? 1 : -1, sy = Y > y0 ? 1 : -1;
  int64_t x = x0, y = y0;
  if (dx == 0) {
    // Vertical: the columns of the history strip. Clip the run, then step by rows.
    if (x0 < 0 || x0 >= FSurface.Width()) return;
    const int64_t first = sy > 0 ? std::max<int64_t>(y0, 0) : std::min<int64_t>(y0, FSurface.Height() - 1);
    const int64_t last = sy > 0 ? std::min<int64_t>(int64_t(Y) - 1, FSurface.Height() - 1)
                                : std::max<int64_t>(int64_t(Y) + 1, 0);
    for (int64_t yy = first; sy > 0 ? yy <= last : yy >= last; yy += sy)
      if (auto* p = At(x0, int32_t(yy))) *p = pixel;
    return;
  }
  if (dx >= dy) {
    int64_t err = dx / 2;
    for (int64_t i = 0; i < dx; ++i) {
      if (auto* p = At(int32_t(x), int32_t(y))) *p = pixel;
      x += sx;
      err -= dy;
      if (err < 0) {
        y += sy;
        err += dx;
      }
    }
  } else {
    int64_t err = dy / 2;
    for (int64_t i = 0; i < dy; ++i) {
      if (auto* p = At(int32_t(x), int32_t(y))) *p = pixel;
      y += sy;
      err -= dx;
      if (err < 0) {
        x += sx;
        err += dy;
      }
    }
  }
}

void TDIBCanvas::Draw(int32_t X, int32_t Y, const TDIBSurface& Graphic) {
  CopyPixels(FSurface, X, Y, Graphic.Width(), Graphic.Height(), Graphic, 0, 0);
}

TColor TDIBCanvas::Pixel(int32_t X, int32_t Y) const {
  const uint32_t* p = At(X, Y);
  if (p == nullptr) return clBlack;
  return ColorToPixel(*p & 0x00FFFFFFu);  // the swap is its own inverse
}

void TDIBCanvas::SetPixel(int32_t X, int32_t Y, TColor Color) {
  if (auto* p = At(X, Y)) *p = ColorToPixel(Color);
}

// Surface -----------------------------------------------------------------------------

TDIBSurface::TDIBSurface(int32_t Width, int32_t Height, int32_t BitCount)
    : FLock(new TSynchronize()) {
  FHeader.biSize = sizeof(TBitmapInfoHeader);
  FHeader.biPlanes = 1;
  FHeader.biCompression = 0;  // BI_RGB
  SetSize(Width, Height, BitCount);
}

TDIBSurface::~TDIBSurface() = default;

void TDIBSurface::MakeSection(int32_t Width, int32_t Height, int32_t BitCount, uint64_t ImageBytes) {
  std::unique_ptr<uint32_t[]> memory(new (std::nothrow) uint32_t[(ImageBytes + 3) / 4]());
  if (memory == nullptr) ThrowDIBNoMemory();
  FBits = std::move(memory);
  FBitsAddress = FBits.get();
}

void CopyClippedBlock(TDIBSurface& Target, int64_t x, int64_t y, int64_t w, int64_t h, const TDIBSurface& Source,
                      int64_t sx, int64_t sy) {
  ClipSpan(sx, x, w, Target.Width());
  ClipSpan(sy, y, h, Target.Height());
  if (w <= 0 || h <= 0) return;
  // Within one surface a block moved down the picture would overwrite source rows before
  // reading them; walk its rows from the bottom then (memmove handles each row's overlap).
  const bool upwards = &Target == &Source && y > sy;
  for (int64_t step = 0; step < h; ++step) {
    const int64_t row = upwards ? h - 1 - step : step;
    const uint32_t* from = Source.PixelAddress(int32_t(sx), int32_t(Source.Height() - 1 - (sy + row)));
    uint32_t* to = Target.PixelAddress(int32_t(x), int32_t(Target.Height() - 1 - (y + row)));
    std::memmove(to, from, size_t(w) * 4);
  }
}

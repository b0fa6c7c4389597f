// The surface's rules on every platform: the sizes and depths a surface is made with and
// its errors, the pen's position, the canvas, the engine's binding and clipping a block
// to its source. The memory and the drawing are the backends' (DIBSurf_backend.h).
#include "DIBSurf_backend.h"

#include "synchronize.h"

namespace {

constexpr const char* kBadFormat = "ビットマップの大きさまたは色深度が正しくありません。";

// Larger images are refused rather than attempted: 1 GiB of pixels is far beyond any
// surface this program makes and keeps size arithmetic away from overflow.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;

bool KnownDepth(int32_t BitCount) {
  switch (BitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
  }
}

uint64_t RowBytesFor(int32_t Width, int32_t BitCount) {
  return (uint64_t(uint32_t(Width)) * uint32_t(BitCount) + 31) / 32 * 4;
}

}  // namespace

void ThrowDIBNoMemory() { throw EDIBSurfaceError("ビットマップのメモリを確保できませんでした。"); }

void TDIBCanvas::MoveTo(int32_t X, int32_t Y) {
  PenPosX = X;
  PenPosY = Y;
}

size_t TDIBSurface::RowBytes() const { return size_t(RowBytesFor(Width(), FHeader.biBitCount)); }

void TDIBSurface::SetSize(int32_t Width, int32_t Height, int32_t BitCount) {
  TLockHold hold(FLock.get());
  if (FCreated && Height == FHeader.biHeight && Width == FHeader.biWidth &&
      uint16_t(BitCount) == FHeader.biBitCount)
    return;

  // The new memory is made before anything of the old section is given up, so a
  // failure leaves the surface as it was.
  if (Width < 1 || Height < 1 || !KnownDepth(BitCount)) throw EDIBSurfaceError(kBadFormat);
  const uint64_t bytes = RowBytesFor(Width, BitCount) * uint64_t(Height);
  if (bytes > kMaxImageBytes) ThrowDIBNoMemory();
  MakeSection(Width, Height, BitCount, bytes);

  FCreated = true;
  FBitCount = BitCount;
  FHeader.biWidth = Width;
  FHeader.biHeight = Height;
  FHeader.biBitCount = uint16_t(BitCount);
  // An existing canvas reads the surface at each call, so it draws into the new memory.
}

TDIBCanvas& TDIBSurface::Canvas() {
  if (FCanvas == nullptr) FCanvas = std::make_unique<TDIBCanvas>(*this);
  return *FCanvas;
}

void TDIBSurface::BindTarget(IPixelEngine* Engine) {
  if (Engine == nullptr) return;
  // The engine works on four bytes per pixel and Width * 4 bytes per row; memory of any
  // other depth is smaller than that, and the engine would write past it.
  if (FBitCount != 32) throw EDIBSurfaceError(kBadFormat);
  TInterfaceRef<IPixelEngine> hold(Engine);
  hold->SetTarget(Bits(), Width() * 4, uint32_t(Width()), uint32_t(Height()));
}

void ClipSpan(int64_t& A, int64_t& B, int64_t& Len, int64_t LimitB) {
  if (B < 0) {
    A -= B;
    Len += B;
    B = 0;
  }
  if (B + Len > LimitB) Len = LimitB - B;
}

// Cut in 64-bit arithmetic: no sum of the arguments overflows.
void CopyPixels(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height,
                const TDIBSurface& Source, int32_t SourceX, int32_t SourceY) {
  if (Target.BitCount() != 32 || Source.BitCount() != 32) return;
  int64_t x = X, y = Y, sx = SourceX, sy = SourceY, w = Width, h = Height;
  ClipSpan(x, sx, w, Source.Width());
  ClipSpan(y, sy, h, Source.Height());
  if (w <= 0 || h <= 0) return;
  CopyClippedBlock(Target, x, y, w, h, Source, sx, sy);
}

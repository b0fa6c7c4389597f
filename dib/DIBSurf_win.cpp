// The surface as GDI makes it: a DIB section from CreateDIBSection, selected into a memory
// device context of its own (CreateCompatibleDC), the canvas drawing with GDI on that
// context and copies made with BitBlt. GDI batches drawing, so every canvas call ends with
// GdiFlush: what it drew is in Bits when it returns.
#include "DIBSurf.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "synchronize.h"

namespace {

constexpr const char* kNoMemory = "ビットマップのメモリを確保できませんでした。";
constexpr const char* kBadFormat = "ビットマップの大きさまたは色深度が正しくありません。";
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

HDC DcOf(const TDIBSurface& S) { return static_cast<HDC>(S.DC()); }

}  // namespace

// Canvas ------------------------------------------------------------------------------

void TDIBCanvas::MoveTo(int32_t X, int32_t Y) {
  PenPosX = X;
  PenPosY = Y;
}

// GDI's LineTo leaves out the end point, as the canvas's rule says.
void TDIBCanvas::LineTo(int32_t X, int32_t Y) {
  const int32_t X0 = PenPosX, Y0 = PenPosY;
  PenPosX = X;
  PenPosY = Y;
  if (Pen.Style == TPenStyle::psClear) return;
  const HDC Dc = DcOf(FSurface);
  const HPEN Pen1 = CreatePen(PS_SOLID, 1, COLORREF(Pen.Color));
  const HGDIOBJ Old = SelectObject(Dc, Pen1);
  MoveToEx(Dc, X0, Y0, nullptr);
  ::LineTo(Dc, X, Y);
  SelectObject(Dc, Old);
  DeleteObject(Pen1);
  GdiFlush();
}

void TDIBCanvas::Draw(int32_t X, int32_t Y, const TDIBSurface& Graphic) {
  BitBlt(DcOf(FSurface), X, Y, Graphic.Width(), Graphic.Height(), DcOf(Graphic), 0, 0, SRCCOPY);
  GdiFlush();
}

TColor TDIBCanvas::Pixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= FSurface.Width() || Y >= FSurface.Height()) return clBlack;
  const COLORREF C = GetPixel(DcOf(FSurface), X, Y);
  return C == CLR_INVALID ? clBlack : TColor(C);
}

void TDIBCanvas::SetPixel(int32_t X, int32_t Y, TColor Color) {
  SetPixelV(DcOf(FSurface), X, Y, COLORREF(Color));
  GdiFlush();
}

// Surface -----------------------------------------------------------------------------

TDIBSurface::TDIBSurface(int32_t Width, int32_t Height, int32_t BitCount) : FLock(new TSynchronize()) {
  FDC = CreateCompatibleDC(nullptr);
  FHeader.biSize = sizeof(TBitmapInfoHeader);
  FHeader.biPlanes = 1;
  FHeader.biCompression = BI_RGB;
  SetSize(Width, Height, BitCount);
}

TDIBSurface::~TDIBSurface() {
  FCanvas.reset();
  if (FOldBitmap) SelectObject(static_cast<HDC>(FDC), FOldBitmap);
  if (FBitmap) DeleteObject(FBitmap);
  DeleteDC(static_cast<HDC>(FDC));
}

size_t TDIBSurface::RowBytes() const { return size_t(RowBytesFor(Width(), FHeader.biBitCount)); }

void TDIBSurface::SetSize(int32_t Width, int32_t Height, int32_t BitCount) {
  TLockHold Hold(FLock.get());
  if (FCreated && Height == FHeader.biHeight && Width == FHeader.biWidth && uint16_t(BitCount) == FHeader.biBitCount)
    return;
  // The new section is made before the old one is given up, so a failure leaves the
  // surface as it was.
  if (Width < 1 || Height < 1 || !KnownDepth(BitCount)) throw EDIBSurfaceError(kBadFormat);
  if (RowBytesFor(Width, BitCount) * uint64_t(Height) > kMaxImageBytes) throw EDIBSurfaceError(kNoMemory);
  struct {
    BITMAPINFOHEADER Header;
    RGBQUAD Colours[256];  // zero: a black table for the depths that have one
  } Info{};
  static_assert(sizeof(BITMAPINFOHEADER) == sizeof(TBitmapInfoHeader));
  std::memcpy(&Info.Header, &FHeader, sizeof FHeader);
  Info.Header.biWidth = Width;
  Info.Header.biHeight = Height;
  Info.Header.biBitCount = WORD(BitCount);
  void* Memory = nullptr;
  const HBITMAP Section = CreateDIBSection(static_cast<HDC>(FDC), reinterpret_cast<BITMAPINFO*>(&Info),
                                           BitCount == 8 ? DIB_PAL_COLORS : DIB_RGB_COLORS, &Memory, nullptr, 0);
  if (Section == nullptr || Memory == nullptr) throw EDIBSurfaceError(kNoMemory);

  const HGDIOBJ Previous = SelectObject(static_cast<HDC>(FDC), Section);
  if (FOldBitmap == nullptr) FOldBitmap = Previous;  // the bitmap the context was made with
  if (FBitmap) DeleteObject(FBitmap);
  FBitmap = Section;
  FBitsAddress = Memory;
  FCreated = true;
  FBitCount = BitCount;
  FHeader.biWidth = Width;
  FHeader.biHeight = Height;
  FHeader.biBitCount = uint16_t(BitCount);
  // An existing canvas draws on the same context, which now holds the new section.
}

TDIBCanvas& TDIBSurface::Canvas() {
  if (FCanvas == nullptr) FCanvas = std::make_unique<TDIBCanvas>(*this);
  return *FCanvas;
}

void TDIBSurface::BindTarget(IPixelEngine* Engine) {
  if (Engine == nullptr) return;
  if (FBitCount != 32) throw EDIBSurfaceError(kBadFormat);
  TInterfaceRef<IPixelEngine> Hold(Engine);
  Hold->SetTarget(Bits(), Width() * 4, uint32_t(Width()), uint32_t(Height()));
}

// BitBlt clips to the target and copies overlapping blocks within one context correctly;
// the source side is clipped here, as GDI leaves what lies outside it undefined.
void CopyPixels(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height, const TDIBSurface& Source,
                int32_t SourceX, int32_t SourceY) {
  if (Target.BitCount() != 32 || Source.BitCount() != 32) return;
  int64_t x = X, y = Y, sx = SourceX, sy = SourceY, w = Width, h = Height;
  auto Clip = [](int64_t& A, int64_t& B, int64_t& Len, int64_t LimitB) {
    if (B < 0) {
      A -= B;
      Len += B;
      B = 0;
    }
    if (B + Len > LimitB) Len = LimitB - B;
  };
  Clip(x, sx, w, Source.Width());
  Clip(y, sy, h, Source.Height());
  if (w <= 0 || h <= 0) return;
  BitBlt(DcOf(Target), int(x), int(y), int(w), int(h), DcOf(Source), int(sx), int(sy), SRCCOPY);
  GdiFlush();
}

// The surface as GDI makes it: a DIB section from CreateDIBSection, selected into a memory
// device context of its own (CreateCompatibleDC), the canvas drawing with GDI on that
// context and copies made with BitBlt. GDI batches drawing, so every canvas call ends with
// GdiFlush: what it drew is in Bits when it returns.
#include "DIBSurf_backend.h"

#include <windows.h>

#include <cstring>

#include "synchronize.h"

namespace {

HDC DcOf(const TDIBSurface& S) { return static_cast<HDC>(S.DC()); }

}  // namespace

// Canvas ------------------------------------------------------------------------------

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

void TDIBSurface::MakeSection(int32_t Width, int32_t Height, int32_t BitCount, uint64_t) {
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
  if (Section == nullptr || Memory == nullptr) ThrowDIBNoMemory();

  const HGDIOBJ Previous = SelectObject(static_cast<HDC>(FDC), Section);
  if (FOldBitmap == nullptr) FOldBitmap = Previous;  // the bitmap the context was made with
  if (FBitmap) DeleteObject(FBitmap);
  FBitmap = Section;
  FBitsAddress = Memory;
  // An existing canvas draws on the same context, which now holds the new section.
}

// BitBlt clips to the target and copies overlapping blocks within one context correctly;
// the source side was cut before, as GDI leaves what lies outside it undefined.
void CopyClippedBlock(TDIBSurface& Target, int64_t X, int64_t Y, int64_t Width, int64_t Height,
                      const TDIBSurface& Source, int64_t SourceX, int64_t SourceY) {
  BitBlt(DcOf(Target), int(X), int(Y), int(Width), int(Height), DcOf(Source), int(SourceX), int(SourceY), SRCCOPY);
  GdiFlush();
}

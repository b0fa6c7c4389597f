#pragma once
// TDIBSurface: an off-screen 32-bit bitmap whose pixel memory the program, the canvas
// and the pixel engine all address directly.
//
// Memory layout is that of a bottom-up device-independent bitmap: each pixel one
// little-endian word 0x00RRGGBB (bytes blue, green, red, fourth), rows Width * 4 bytes
// with no gap, and the FIRST row in memory is the BOTTOM row of the picture. Bits and
// PixelAddress see memory rows (memory row r is picture row Height - 1 - r); the canvas
// works in top-down picture coordinates like any drawing surface.
//
// Two backends behind this header, sharing DIBSurf.cpp (sizes, errors, binding, clipping):
// DIBSurf_linux.cpp (the surface owns its memory, the canvas draws by software with GDI's
// rules) and DIBSurf_win.cpp (a real DIB section made by CreateDIBSection and selected
// into a memory device context of its own, the canvas drawing with GDI on that context,
// copies by BitBlt). The picture drawn from a QImage exists on Linux only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <exception>
#include <stdexcept>

#include "rendo/rendo.h"
#include "speedipc.h"

class QImage;
class TDIBSurface;

// A colour as drawing code names it: 0x00BBGGRR (red in the low byte). The canvas turns
// it into the pixel word 0x00RRGGBB when it draws.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;

inline uint32_t ColorToPixel(TColor Color) {
  return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

// BITMAPINFOHEADER, 40 bytes.
struct TBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

// The surface's memory could not be made (bad size or depth, or no memory).
class EDIBSurfaceError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TPenStyle { psSolid, psClear };

struct TDIBPen {
  TColor Color = clBlack;
  TPenStyle Style = TPenStyle::psSolid;
};

// The drawing rules the program relies on, on 32-bit surfaces, in top-down coordinates:
// one-pixel solid pens, MoveTo/LineTo where a line does not paint its end point, and
// drawing a picture unscaled at a point. Everything is clipped to the surface. The canvas
// follows its surface through resizes (it reads the current memory at each call).
class TDIBCanvas {
public:
  explicit TDIBCanvas(TDIBSurface& Surface) : FSurface(Surface) {}
  TDIBCanvas(const TDIBCanvas&) = delete;
  TDIBCanvas& operator=(const TDIBCanvas&) = delete;

  TDIBPen Pen;
  int32_t PenPosX = 0;
  int32_t PenPosY = 0;

  void MoveTo(int32_t X, int32_t Y);
  // Bresenham from the pen position towards (X, Y), the end point excluded; the pen
  // position becomes (X, Y).
  void LineTo(int32_t X, int32_t Y);
  // Copies a picture unscaled with its top-left corner at (X, Y). The fourth byte of the
  // copied pixels is 0, as when a picture without alpha is drawn into a 32-bit bitmap.
  void Draw(int32_t X, int32_t Y, const QImage& Graphic);
  void Draw(int32_t X, int32_t Y, const TDIBSurface& Graphic);
  TColor Pixel(int32_t X, int32_t Y) const;  // clBlack outside the surface
  void SetPixel(int32_t X, int32_t Y, TColor Color);

private:
  uint32_t* At(int32_t X, int32_t Y) const;  // null outside the surface
  TDIBSurface& FSurface;
};

class TDIBSurface {
public:
  // Makes the first section at once; raises EDIBSurfaceError if it cannot.
  TDIBSurface(int32_t Width, int32_t Height, int32_t BitCount);
  ~TDIBSurface();
  TDIBSurface(const TDIBSurface&) = delete;
  TDIBSurface& operator=(const TDIBSurface&) = delete;

  // Makes the section match the size and depth; nothing happens when it already does.
  // A new section's pixels are zero. Runs under Lock. Raises EDIBSurfaceError (and keeps
  // the current section) for a width or height below 1, a depth GDI does not know
  // (1, 4, 8, 16, 24, 32) or when memory runs out: a surface never has null Bits.
  // Every Bits/PixelAddress pointer and engine binding is stale after a change.
  void SetSize(int32_t Width, int32_t Height, int32_t BitCount);

  int32_t Width() const { return FHeader.biWidth; }
  int32_t Height() const { return FHeader.biHeight; }
  int32_t BitCount() const { return FBitCount; }
  bool Created() const { return FCreated; }
  void* Bits() const { return FBitsAddress; }
  // The memory device context holding the section (HDC); null on Linux.
  void* DC() const { return FDC; }
  const TBitmapInfoHeader& Header() const { return FHeader; }
  // Bytes per memory row (rows of a DIB are padded to 32 bits) and of the whole image.
  size_t RowBytes() const;
  size_t ImageBytes() const { return RowBytes() * size_t(Height()); }
  ISynchronize* Lock() const { return FLock.get(); }
  const TInterfaceRef<ISynchronize>& LockRef() const { return FLock; }

  // Created on first use; the same object afterwards.
  TDIBCanvas& Canvas();

  // Bits advanced by X + Y * Width() pixels (memory rows; no bounds check, 32-bit only).
  uint32_t* PixelAddress(int32_t X, int32_t Y) const {
    return static_cast<uint32_t*>(Bits()) + (ptrdiff_t(X) + ptrdiff_t(Y) * Width());
  }

  // Makes this surface the engine's target: SetTarget(Bits, Width * 4, Width, Height),
  // holding an extra reference for the call. The engine keeps the raw pointer: bind
  // again after every SetSize that changed the section. Raises EDIBSurfaceError for a
  // surface that is not 32 bits deep (the engine would run past its memory).
  void BindTarget(IPixelEngine* Engine);

private:
  // The backend's part of SetSize: new zeroed memory of ImageBytes for that size, in
  // FBitsAddress (and the backend's handles), the old one given up only once it is made;
  // raises EDIBSurfaceError when it cannot be had.
  void MakeSection(int32_t Width, int32_t Height, int32_t BitCount, uint64_t ImageBytes);

  TInterfaceRef<ISynchronize> FLock;
  std::unique_ptr<TDIBCanvas> FCanvas;
  std::unique_ptr<uint32_t[]> FBits;  // Linux: the memory itself
  void* FBitsAddress = nullptr;       // what Bits() gives: FBits, or the section's memory
  void* FDC = nullptr;                // Windows: HDC, the section (HBITMAP) selected into
  void* FBitmap = nullptr;            // it, and the bitmap it was made with (HGDIOBJ)
  void* FOldBitmap = nullptr;
  TBitmapInfoHeader FHeader{};
  int32_t FBitCount = 0;
  bool FCreated = false;
};

// Enter on construction, Leave on destruction. While an exception is already unwinding,
// an error from Leave is dropped (the first error is the one the user sees); otherwise
// it propagates like any lock error.
class TLockHold {
public:
  explicit TLockHold(ISynchronize* Lock) : FLock(Lock), FUnwinding(std::uncaught_exceptions()) { FLock->Enter(); }
  ~TLockHold() noexcept(false) {
    if (std::uncaught_exceptions() > FUnwinding) {
      try {
        FLock->Leave();
      } catch (...) {
      }
    } else {
      FLock->Leave();
    }
  }
  TLockHold(const TLockHold&) = delete;
  TLockHold& operator=(const TLockHold&) = delete;

private:
  ISynchronize* FLock;
  int FUnwinding;
};

// Copies a Width x Height block of whole pixels between two 32-bit surfaces, in top-down
// picture coordinates, clipped to both (a block transfer with source copy). Source and
// Target may be the same surface, the block overlapping itself.
void CopyPixels(TDIBSurface& Target, int32_t X, int32_t Y, int32_t Width, int32_t Height,
                const TDIBSurface& Source, int32_t SourceX, int32_t SourceY);

// Drawing primitives (pixels, lines, spans, rectangles, 1-bit masks, bitmap-font text)
// and image effects (blur, noise bands, jitter, elliptical cut, mosaic, emboss, sepia)
// of the engine object.
//
// Coordinates: the target is a bottom-up bitmap. The two line operations address memory
// rows directly (y counted from the bits pointer); the spans, rectangles, masks and
// glyphs take y from the top of the picture and draw into memory row height - 1 - y.
//
// Row pitch: DrawLine, FillRect, the masks and the effects step rows by the target's
// stride. DrawLineBlend, and the first pixel of DrawVerticalLine and DrawHorizontalLine,
// count rows of width pixels instead (callers written for packed targets rely on that);
// for any stride of at least width x 4 bytes those pixels still lie inside the surface.
// Nothing is clipped except where a comment says so: coordinates and sizes inside the
// target are the caller's guarantee, asserted in debug and sanitizer builds.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine.h"
#include "kernels_flat.h"
#include "kernels_draw.h"
#include "kernels_draw_ref.h"

namespace dref = rendo_draw_ref;
using rendo_kernels::ActiveDrawKernels;

namespace {

// The noise, jitter and ellipse operations keep one table entry per row and handle at
// most this many rows; later rows are left unchanged.
constexpr uint32_t kTableRows = 4096;

uint32_t* PixelAt(uint8_t* bits, int32_t stride, int64_t row, int64_t x) {
  return reinterpret_cast<uint32_t*>(bits + row * int64_t(stride) + x * 4);
}

[[maybe_unused]] bool Inside(uint32_t width, uint32_t height, int64_t x, int64_t row) {
  return x >= 0 && row >= 0 && x < int64_t(width) && row < int64_t(height);
}

[[maybe_unused]] bool Disjoint(const void* a, size_t aBytes, const void* b, size_t bBytes) {
  const auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  return pa + aBytes <= pb || pb + bBytes <= pa;
}

// Walks a line from (x0, y0) to (x1, y1), both included, calling put(x, y):
// a horizontal or vertical line from its smaller end; otherwise Bresenham from (x0, y0)
// along the major axis with the error compared after each add (y-major: e += ax, on
// e >= ay step x and e -= ay; x-major: e += ay, on e >= ax step y and e -= ax). A
// diagonal (ax == ay) is walked as y-major.
template <typename TPut>
void WalkLine(int64_t x0, int64_t y0, int64_t x1, int64_t y1, TPut put) {
  const int64_t dx = x1 - x0, dy = y1 - y0;
  const int64_t ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  if (dy == 0) {
    const int64_t x = std::min(x0, x1);
    for (int64_t i = 0; i <= ax; ++i) put(x + i, y0);
    return;
  }
  if (dx == 0) {
    const int64_t y = std::min(y0, y1);
    for (int64_t i = 0; i <= ay; ++i) put(x0, y + i);
    return;
  }
  const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  int64_t x = x0, y = y0, e = 0;
  if (ay >= ax) {
    for (int64_t i = 0; i <= ay; ++i) {
      put(x, y);
      e += ax;
      y += sy;
      if (e >= ay) {
        x += sx;
        e -= ay;
      }
    }
  } else {
    for (int64_t i = 0; i <= ax; ++i) {
      put(x, y);
      x += sx;
      e += ay;
      if (e >= ax) {
        y += sy;
        e -= ax;
      }
    }
  }
}

}  // namespace

// The generator -----------------------------------------------------------------------

// 1 is the C library's initial seed. A test (or a reproduction of a reported picture) sets
// KORVEL_RENDO_RAND_SEED before creating the engine object to start its sequence elsewhere.
uint32_t TPixelEngine::DrawInitialSeed() {
  if (const char* seed = std::getenv("KORVEL_RENDO_RAND_SEED"); seed != nullptr && *seed != 0)
    return uint32_t(std::strtoul(seed, nullptr, 0));
  return 1;
}

uint32_t TPixelEngine::DrawNextRandom() { return dref::NextRandom15(DrawRandomState); }

// Lines -------------------------------------------------------------------------------

// Solid line in the pen colour on memory rows (y from the bits pointer), both ends drawn.
void TPixelEngine::DrawLine(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) {
  assert(Inside(Width, Height, from->X, from->Y) && Inside(Width, Height, to->X, to->Y));
  const uint32_t color = pen->Color;
  WalkLine(from->X, from->Y, to->X, to->Y, [&](int64_t x, int64_t y) { *PixelAt(Bits, Stride, y, x) = color; });
}

// Line blended towards the pen colour (dref::LineBlendPixel) on memory rows. Unlike
// DrawLine the walk starts at the end with the smaller x (x-major lines) or the smaller y
// (y-major lines), so a line and its reverse cover the same pixels.
void TPixelEngine::DrawLineBlend(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) {
  assert(Inside(Width, Height, from->X, from->Y) && Inside(Width, Height, to->X, to->Y));
  int64_t x0 = from->X, y0 = from->Y, x1 = to->X, y1 = to->Y;
  const int64_t ax = std::abs(x1 - x0), ay = std::abs(y1 - y0);
  if (ay < ax ? x1 < x0 : y1 < y0) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const uint32_t color = pen->Color, alpha = pen->Alpha;
  const int32_t pitch = int32_t(Width * 4);
  WalkLine(x0, y0, x1, y1, [&](int64_t x, int64_t y) {
    uint32_t* p = PixelAt(Bits, pitch, y, x);
    *p = dref::LineBlendPixel(*p, color, alpha);
  });
  ClearMmxState();  // whatever the batch mode
}

// Spans and rectangles ------------------------------------------------------------------

// Column at x = left from picture row bottom up to picture row top, one PutPixel (or
// BlendPixel for mode 3) per pixel through the object's table. The first pixel is found
// with rows of width pixels, each further one a stride higher in memory.
void TPixelEngine::DrawVerticalLine(const TRendoPen* pen, const TRendoRect* rect) {
  const int64_t rows = int64_t(rect->Bottom) - rect->Top + 1;
  if (rows <= 0) return;
  const int64_t firstRow = int64_t(Height) - 1 - rect->Bottom;
  assert(Inside(Width, Height, rect->Left, firstRow) && Inside(Width, Height, rect->Left, firstRow + rows - 1));
  IPixelEngine* self = this;
  const uint32_t color = pen->Color, alpha = pen->Alpha;
  const int32_t mode = pen->Mode;
  uint8_t* first = reinterpret_cast<uint8_t*>(PixelAt(Bits, int32_t(Width * 4), firstRow, rect->Left));
  for (int64_t i = 0; i < rows; ++i) {
    uint32_t* p = PixelAt(first, Stride, i, 0);
    if (mode == 3)
      self->BlendPixel(p, color, alpha);
    else
      self->PutPixel(p, color, mode);
  }
}

// Rebinds the target to the `rows` x (right - left + 1) sub-rectangle whose lowest memory
// row is picture row bottom (found with rows `pitch` bytes apart; the sub-target keeps the
// stride), applies the pen's mode to it in place through the table (Fill, AddColor,
// SubtractColor, BlendColor) and restores the binding from the save slot. A mode above 3
// binds and restores without drawing.
void TPixelEngine::DrawSpan(const TRendoPen* pen, const TRendoRect* rect, int32_t rows, int32_t pitch) {
  const int64_t width = int64_t(rect->Right) - rect->Left + 1;
  if (width <= 0 || rows <= 0) return;
  const int64_t firstRow = int64_t(Height) - 1 - rect->Bottom;
  assert(Inside(Width, Height, rect->Left, firstRow) &&
         Inside(Width, Height, rect->Left + width - 1, firstRow + rows - 1));
  IPixelEngine* self = this;
  SavedBits = Bits;
  SavedStride = Stride;
  SavedWidth = Width;
  SavedHeight = Height;
  uint8_t* start = reinterpret_cast<uint8_t*>(PixelAt(Bits, pitch, firstRow, rect->Left));
  self->SetTarget(start, Stride, uint32_t(width), uint32_t(rows));
  switch (pen->Mode) {
    case 0: self->Fill(pen->Color); break;
    case 1: self->AddColor(start, Stride, pen->Color); break;
    case 2: self->SubtractColor(start, Stride, pen->Color); break;
    case 3: self->BlendColor(start, Stride, pen->Color, pen->Alpha); break;
    default: break;
  }
  self->SetTarget(SavedBits, SavedStride, SavedWidth, SavedHeight);
}

// One row at picture row bottom from left to right. right < left draws nothing (the
// width would otherwise wrap to a run of some four billion pixels).
void TPixelEngine::DrawHorizontalLine(const TRendoPen* pen, const TRendoRect* rect) {
  DrawSpan(pen, rect, 1, int32_t(Width * 4));
}

void TPixelEngine::FillRect(const TRendoPen* pen, const TRendoRect* rect) {
  if (rect->Bottom < rect->Top || rect->Right < rect->Left) return;
  DrawSpan(pen, rect, int32_t(int64_t(rect->Bottom) - rect->Top + 1), Stride);
}

// Pixels and masks ----------------------------------------------------------------------

// Mode 0 stores the colour whatever the switches; the saturating add (1) and subtract (2)
// follow the MMX gate. Other modes do nothing.
void TPixelEngine::PutPixel(uint32_t* p, uint32_t color, int32_t mode) {
  if (mode == 0) {
    *p = color;
    return;
  }
  if ((mode != 1 && mode != 2) || !MmxGate()) return;
  dref::ApplyMode(p, color, mode);
  EndOperation();
}

// dst[i] takes the mode for every set mask bit bitOffset + i, i < count. Not gated.
void TPixelEngine::PutMaskBits(uint32_t* dst, const uint32_t* bits, int32_t bitOffset, int32_t count,
                               uint32_t color, int32_t mode) {
  assert(bitOffset >= 0);
  if (mode >= 0 && mode <= 2 && count > 0) dref::PutMaskBits_Ref(dst, bits, bitOffset, count, color, mode);
  EndOperation();
}

// A width x height mask at pos: mask row k lands on picture row pos.y - k, i.e. memory
// row height - 1 - pos.y + k, rows past the top of the picture are cut.
void TPixelEngine::DrawMask(const uint32_t* bits, const TRendoSize* size, const TRendoPoint* pos, uint32_t color,
                            int32_t mode) {
  IPixelEngine* self = this;
  const int64_t firstRow = int64_t(Height) - 1 - pos->Y;
  for (int64_t k = 0; k < size->Height && firstRow + k < int64_t(Height); ++k) {
    assert(firstRow + k >= 0 && pos->X >= 0 && int64_t(pos->X) + size->Width <= int64_t(Width));
    self->PutMaskBits(PixelAt(Bits, Stride, firstRow + k, pos->X), bits, int32_t(k * size->Width), size->Width,
                      color, mode);
  }
}

// Glyph `index` of the font at pos, its rows cut like DrawMask's.
void TPixelEngine::DrawGlyph(const TRendoFont* font, int32_t index, const TRendoPoint* pos, uint32_t color,
                             int32_t mode) {
  IPixelEngine* self = this;
  const TRendoGlyph glyph = font->Glyphs[index];
  const int64_t firstRow = int64_t(Height) - 1 - pos->Y;
  for (int64_t k = 0; k < font->Height && firstRow + k < int64_t(Height); ++k) {
    assert(firstRow + k >= 0 && pos->X >= 0 && int64_t(pos->X) + glyph.Width <= int64_t(Width));
    self->PutMaskBits(PixelAt(Bits, Stride, firstRow + k, pos->X), font->Bits,
                      int32_t(glyph.FirstBit + k * font->Pitch), glyph.Width, color, mode);
  }
}

// Each character found in the font's character string is drawn and advances x by its
// glyph's width plus the spacing; a character the font lacks is skipped and takes no
// room. Returns the string's length.
int32_t TPixelEngine::DrawText(const TRendoFont* font, const char* text, const TRendoPoint* pos, uint32_t color,
                               int32_t mode) {
  if (text == nullptr) return 0;
  IPixelEngine* self = this;
  int32_t length = 0;
  int32_t x = pos->X;
  for (const char* c = text; *c != 0; ++c, ++length) {
    const char* at = std::strchr(font->Chars, *c);
    if (at == nullptr) continue;
    const int32_t index = int32_t(at - font->Chars);
    const TRendoPoint at2{x, pos->Y};
    self->DrawGlyph(font, index, &at2, color, mode);
    x += font->Spacing + font->Glyphs[index].Width;
  }
  return length;
}

// Effects -------------------------------------------------------------------------------

// Four-neighbour average of rows 1 to height - 2, source and target both taken as flat
// arrays with rows exactly width pixels apart (the target's stride is not used); the
// walk is continuous, so a row's first pixel takes the previous row's last as its left
// neighbour. Rows 0 and height - 1 stay.
//
// In place (source = target) the result is the blur of the picture as it was: the rows a
// target row reads (the one above, its own, the one below) are kept unchanged in a
// three-row buffer, so no kernel reads a pixel it has already written. A source that
// overlaps the target in any other way is not supported.
void TPixelEngine::Blur(const void* src) {
  if (!MmxGate()) return;
  if (Height >= 3 && Width != 0) {
    const size_t width = Width, count = width * (Height - 2);
    auto* target = reinterpret_cast<uint32_t*>(Bits);
    const auto kernel = ActiveDrawKernels().Blur;
    if (src == Bits) {
      std::vector<uint32_t> rows(target, target + 3 * width);  // rows r - 1, r, r + 1 as they were
      for (size_t r = 1; r + 1 < Height; ++r) {
        kernel(target + r * width, rows.data() + width, width, width);
        if (r + 2 >= Height) break;
        std::memmove(rows.data(), rows.data() + width, 2 * width * 4);
        std::memcpy(rows.data() + 2 * width, target + (r + 2) * width, width * 4);
      }
    } else {
      assert(Disjoint(Bits + width * 4, count * 4, src, width * Height * 4));
      kernel(target + width, static_cast<const uint32_t*>(src) + width, count, width);
    }
  }
  EndOperation();
}

namespace {

// The noise bands over the first min(height, 4096) rows, from 3 draws per row taken in
// order before any pixel changes: row k uses the low bytes of draws 3k (r0), 3k + 2 (r1)
// and 3k + 1 (r2). The byte accumulator starts at 0, gains r0 at each row's start and
// carries over from row to row; the kernel walks the row's pairs. An odd last pixel of a
// row is not written.
void NoiseRows(rendo_kernels::TNoiseKernel kernel, const uint8_t* draws, uint32_t rows, uint8_t* bits,
               int32_t stride, uint32_t width, const uint8_t* src, int32_t srcStride, uint32_t amount) {
  uint8_t g = 0;
  const size_t pairs = width / 2;
  for (uint32_t k = 0; k < rows; ++k) {
    const uint8_t r0 = draws[3 * k], r1 = draws[3 * k + 2], r2 = draws[3 * k + 1];
    const uint32_t steps = uint32_t(r0) | uint32_t(r1) << 8 | uint32_t(r2) << 16;
    g = uint8_t(g + r0);
    if (pairs != 0)
      g = kernel(reinterpret_cast<uint32_t*>(bits + int64_t(k) * stride),
                 reinterpret_cast<const uint32_t*>(src + int64_t(k) * srcStride), pairs, g, steps, amount);
  }
}

}  // namespace

// amount 0 does nothing (and draws nothing); amounts above 255 act as 255.
void TPixelEngine::AddNoise(const void* src, int32_t srcStride, uint32_t amount) {
  if (!MmxGate() || amount == 0) return;
  const uint32_t rows = std::min(Height, kTableRows);
  uint8_t draws[3 * kTableRows];
  for (uint32_t i = 0; i < 3 * rows; ++i) draws[i] = uint8_t(DrawNextRandom());
  NoiseRows(ActiveDrawKernels().AddNoise, draws, rows, Bits, Stride, Width, static_cast<const uint8_t*>(src),
            srcStride, std::min(amount, 255u));
  ClearMmxState();  // whatever the batch mode
}

void TPixelEngine::SubtractNoise(const void* src, int32_t srcStride, uint32_t amount) {
  if (!MmxGate() || amount == 0) return;
  const uint32_t rows = std::min(Height, kTableRows);
  uint8_t draws[3 * kTableRows];
  for (uint32_t i = 0; i < 3 * rows; ++i) draws[i] = uint8_t(DrawNextRandom());
  NoiseRows(ActiveDrawKernels().SubtractNoise, draws, rows, Bits, Stride, Width, static_cast<const uint8_t*>(src),
            srcStride, std::min(amount, 255u));
  ClearMmxState();
}

// Each of the first min(height, 4096) rows is the source row shifted by s pixels, with
// s = (draw mod 2 amount) - amount, one draw per row, all drawn first; the first memory
// row takes the value drawn last. Pixels shifted in are 0. amount 0 does nothing.
// amount must not exceed the width (asserted); a larger shift clears the whole row
// instead of writing past it.
void TPixelEngine::Jitter(const void* src, int32_t srcStride, uint32_t amount) {
  if (!MmxGate() || amount == 0) return;
  assert(amount <= Width);
  const uint32_t rows = std::min(Height, kTableRows);
  uint16_t draws[kTableRows];
  for (uint32_t i = 0; i < rows; ++i) draws[i] = uint16_t(DrawNextRandom());
  const size_t width = Width;
  for (uint32_t i = 0; i < rows; ++i) {
    const int64_t s = int64_t(draws[rows - 1 - i] % (2 * uint64_t(amount))) - int64_t(amount);
    uint32_t* d = PixelAt(Bits, Stride, i, 0);
    const auto* from = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + int64_t(i) * srcStride);
    const size_t n = size_t(std::min<int64_t>(s < 0 ? -s : s, int64_t(width)));
    if (s >= 0) {
      std::memmove(d + n, from, (width - n) * 4);
      std::memset(d, 0, n * 4);
    } else {
      std::memmove(d, from + n, (width - n) * 4);
      std::memset(d + width - n, 0, n * 4);
    }
  }
}

// An ellipse of the given diameters centred at (width / 2, height / 2): per memory row,
// the pixels inside come from innerSrc and, when copyOuter's low byte is set, those
// before and after it from outerSrc (otherwise they stay). Single-precision geometry:
//   d = height / 2 - row,  q = (1 - d^2 / (h / 2)^2) * (w / 2)^2
//   q < 0: the row is all outside; else m = sqrt(q), L = floor(width / 2 - m),
//   R = floor(width / 2 + m): inside is L..R, or the whole row when L < 0 or R >= width.
// At most 4096 rows. A diameter of 0 or less copies innerSrc whole (through Copy) when
// copyOuter is set, and does nothing otherwise.
void TPixelEngine::CopyEllipse(const void* outerSrc, const void* innerSrc, int32_t outerStride, int32_t innerStride,
                               int32_t ellipseWidth, int32_t ellipseHeight, uint32_t copyOuter, int32_t) {
  if (!MmxGate()) return;
  const bool outer = (copyOuter & 0xFF) != 0;
  if (ellipseWidth <= 0 || ellipseHeight <= 0) {
    if (outer) static_cast<IPixelEngine*>(this)->Copy(innerSrc, innerStride);
    EndOperation();
    return;
  }
  const auto copy = rendo_kernels::ActiveFlatKernels().CopyFlat;
  const float cx = float(Width) / 2.0f, cy = float(Height) / 2.0f;
  const float rx = float(ellipseWidth) / 2.0f, ry = float(ellipseHeight) / 2.0f;
  const float rx2 = rx * rx, ry2 = ry * ry, widthF = float(Width);
  const uint32_t rows = std::min(Height, kTableRows);
  const auto* outerRow = static_cast<const uint8_t*>(outerSrc);
  const auto* innerRow = static_cast<const uint8_t*>(innerSrc);
  for (uint32_t i = 0; i < rows; ++i, outerRow += outerStride, innerRow += innerStride) {
    const float d = cy - float(i);
    const float q = (1.0f - d * d / ry2) * rx2;
    size_t before = Width, inside = 0;
    if (q >= 0.0f) {
      const float m = std::sqrt(q);
      const float left = cx - m, right = cx + m;
      if (left < 0.0f || right >= widthF) {
        before = 0;
        inside = Width;
      } else {
        const auto l = size_t(std::floor(left)), r = size_t(std::floor(right));
        before = l;
        inside = r - l + 1;
      }
    }
    uint32_t* dst = PixelAt(Bits, Stride, i, 0);
    const auto* o = reinterpret_cast<const uint32_t*>(outerRow);
    const auto* in = reinterpret_cast<const uint32_t*>(innerRow);
    const size_t afterStart = before + inside;
    if (inside != 0) copy(dst + before, in + before, inside);
    if (outer) {
      if (before != 0) copy(dst, o, before);
      if (afterStart < Width) copy(dst + afterStart, o + afterStart, Width - afterStart);
    }
  }
  EndOperation();
}

// block x block cells from the target's first pixel, each filled with the source pixel
// at the cell's origin; cells at the right and in the last rows are cut at the edges.
// block 0 or less does nothing. Source and target may be the same pixels.
void TPixelEngine::Mosaic(const void* src, int32_t srcStride, int32_t block) {
  if (block <= 0 || Width == 0) return;
  const int64_t b = block, width = Width, height = Height;
  for (int64_t y0 = 0; y0 < height; y0 += b) {
    const auto* from = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + y0 * srcStride);
    uint32_t* first = PixelAt(Bits, Stride, y0, 0);
    // Each cell reads its origin before writing its own pixels, the only ones that hold it.
    for (int64_t x0 = 0; x0 < width; x0 += b) std::fill_n(first + x0, std::min(b, width - x0), from[x0]);
    for (int64_t y = y0 + 1; y < std::min(y0 + b, height); ++y)
      std::memcpy(PixelAt(Bits, Stride, y, 0), first, size_t(width) * 4);
  }
}

// Per row: pixels 1 to width - 2 become the grey relief of the brightest channel
// (dref::Emboss_Ref), the two end pixels 0x00808080. Source and target may be the same.
void TPixelEngine::Emboss(const void* src, int32_t srcStride) {
  const auto kernel = ActiveDrawKernels().Emboss;
  const size_t width = Width;
  for (uint32_t row = 0; row < Height && width != 0; ++row) {
    uint32_t* d = PixelAt(Bits, Stride, row, 0);
    const auto* s = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + int64_t(row) * srcStride);
    if (width >= 3) kernel(d + 1, s + 1, width - 2);
    d[0] = 0x00808080u;
    d[width - 1] = 0x00808080u;
  }
  EndOperation();
}

// Brown tint from the brightest channel (dref::Sepia_Ref); fourth byte 0.
void TPixelEngine::Sepia(const void* src, int32_t srcStride) {
  const auto kernel = ActiveDrawKernels().Sepia;
  for (uint32_t row = 0; row < Height; ++row)
    kernel(PixelAt(Bits, Stride, row, 0),
           reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + int64_t(row) * srcStride), Width);
}

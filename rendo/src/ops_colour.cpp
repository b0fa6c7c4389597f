// The colour arithmetic, copy, stretch and lookup operations of IPixelEngine.
//
// Each operation here is its frame only: the MMX gate where the operation has one, the
// zero-size check, the runs (GetSpan through the object's own table, or the target's
// width x height), the pixels left over, and the end of the operation. The per-pixel
// results are those of the reference kernels in kernels_colour_ref.h; the dispatcher
// supplies the fastest kernel of the process's level. Operations that pass on to other
// operations (Fill for a zero factor, MixTwo from CrossFade) call them through the
// object's own table, so a caller that replaced a slot sees its replacement used.
#include <algorithm>

#include "engine.h"
#include "kernels_flat.h"
#include "kernels_colour.h"
#include "kernels_colour_ref.h"

using rendo_kernels::ActiveColourKernels;
using rendo_kernels::ActiveFlatKernels;

namespace {

// Pixels gathered ahead of a blend: small enough for the stack, long enough that the
// per-chunk overhead vanishes.
constexpr size_t kChunk = 512;

// A lambda as a TColourRun with its context.
template <typename TFn>
void RunLambda(void* context, uint32_t* target, const uint32_t* source, size_t count) {
  (*static_cast<TFn*>(context))(target, source, count);
}

// x mod m in [0, m) for m > 0.
int64_t FloorMod(int64_t x, int64_t m) {
  const int64_t r = x % m;
  return r < 0 ? r + m : r;
}

// 16.16 step of a nearest-neighbour walk: (size << 16) / count, truncating. Computed in 64
// bits: for sizes below 32768 this is the 32-bit value, above it the walk still ends
// inside the source instead of following an overflowed step.
int64_t StretchStep(int32_t size, int32_t count) { return (int64_t(size) << 16) / count; }

}  // namespace

void TPixelEngine::ColourRows(const void* src, int32_t srcStride, bool pairsOnly, TColourRun run, void* context) {
  uint32_t count = 0, rows = 0;
  static_cast<IPixelEngine*>(this)->GetSpan(&count, &rows, srcStride);
  const size_t n = pairsOnly ? size_t(count) & ~size_t(1) : size_t(count);
  if (n == 0) return;
  uint8_t* t = Bits;
  const uint8_t* s = static_cast<const uint8_t*>(src);
  for (uint32_t r = 0; r < rows; ++r, t += Stride, s += srcStride)
    run(context, reinterpret_cast<uint32_t*>(t), reinterpret_cast<const uint32_t*>(s), n);
}

// Colour arithmetic ---------------------------------------------------------------------

// t = floor(s * f / 256) per lane, pairs only; factor 0 is Fill(0).
void TPixelEngine::FadeToBlack(const void* src, int32_t srcStride, uint32_t factor) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  if (factor == 0) return static_cast<IPixelEngine*>(this)->Fill(0);
  auto run = [factor](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().ScaleAdd(t, s, n, factor, 0); };
  ColourRows(src, srcStride, true, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// t = min(255, floor(s * f / 256) + 255 - f) per lane, pairs only; factor 0 is
// Fill(0x00FFFFFF) (the formula would also set the fourth byte).
void TPixelEngine::FadeToWhite(const void* src, int32_t srcStride, uint32_t factor) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  if (factor == 0) return static_cast<IPixelEngine*>(this)->Fill(0x00FFFFFFu);
  const uint32_t addend = rendo_ref::FadeToWhiteAddend(factor);
  auto run = [factor, addend](uint32_t* t, const uint32_t* s, size_t n) {
    ActiveColourKernels().ScaleAdd(t, s, n, factor, addend);
  };
  ColourRows(src, srcStride, true, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// t = min(255, s + c) per lane, every pixel.
void TPixelEngine::AddColor(const void* src, int32_t srcStride, uint32_t color) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  auto run = [color](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().AddColor(t, s, n, color); };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// t = max(0, s - c) per lane, every pixel.
void TPixelEngine::SubtractColor(const void* src, int32_t srcStride, uint32_t color) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  auto run = [color](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().SubtractColor(t, s, n, color); };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// t = min(255, t + floor(s * f / 256)) per lane over the target's own rows (no GetSpan),
// pairs only: an odd last pixel of each row stays.
void TPixelEngine::AddScaled(const void* src, int32_t srcStride, uint32_t factor) {
  if (!MmxGate()) return;
  const size_t n = size_t(Width) & ~size_t(1);
  if (n != 0) {
    uint8_t* t = Bits;
    const uint8_t* s = static_cast<const uint8_t*>(src);
    for (uint32_t r = 0; r < Height; ++r, t += Stride, s += srcStride)
      ActiveColourKernels().AddScaled(reinterpret_cast<uint32_t*>(t), reinterpret_cast<const uint32_t*>(s), n,
                                      factor);
  }
  EndOperation();
}

// MixTwo with weight for A and its bitwise complement (each byte 255 - w, the fourth lane
// 255 - w3 too) for B, through the table.
void TPixelEngine::CrossFade(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB, uint32_t weight) {
  if (!MmxGate()) return;
  static_cast<IPixelEngine*>(this)->MixTwo(srcA, strideA, srcB, strideB, weight, ~weight);
}

// t = min(255, floor(a * wA / 256) + floor(b * wB / 256)) per lane over the target's own
// rows (no GetSpan), every pixel. Both processor variants give this result; they differ
// only in how they group the pixels.
void TPixelEngine::MixTwo(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB, uint32_t weightA,
                          uint32_t weightB) {
  if (!MmxGate()) return;
  if (Width != 0) {
    uint8_t* t = Bits;
    const uint8_t* a = static_cast<const uint8_t*>(srcA);
    const uint8_t* b = static_cast<const uint8_t*>(srcB);
    for (uint32_t r = 0; r < Height; ++r, t += Stride, a += strideA, b += strideB)
      ActiveColourKernels().MixTwo(reinterpret_cast<uint32_t*>(t), reinterpret_cast<const uint32_t*>(a),
                                   reinterpret_cast<const uint32_t*>(b), Width, weightA, weightB);
  }
  EndOperation();
}

// t = 255 - s in all four bytes, every pixel.
void TPixelEngine::Invert(const void* src, int32_t srcStride) {
  if (!MmxGate()) return;
  auto run = [](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().Invert(t, s, n); };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// The whole 32-bit colour into every pixel of the target's runs (GetSpan with the
// target's own stride: a packed target is one run).
void TPixelEngine::Fill(uint32_t color) {
  if (!MmxGate()) return;
  uint32_t count = 0, rows = 0;
  static_cast<IPixelEngine*>(this)->GetSpan(&count, &rows, Stride);
  uint8_t* t = Bits;
  if (count != 0)
    for (uint32_t r = 0; r < rows; ++r, t += Stride) ActiveColourKernels().Fill(reinterpret_cast<uint32_t*>(t), count, color);
  EndOperation();
}

// Per-channel gain, 256 = unity (see ScaleChannels_Ref for the lane arithmetic and the
// gains of 2048 or more); pairs only. All three gains 0 is Fill(0).
void TPixelEngine::ScaleChannels(const void* src, int32_t srcStride, int32_t red, int32_t green, int32_t blue) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  if (red == 0 && green == 0 && blue == 0) return static_cast<IPixelEngine*>(this)->Fill(0);
  const uint64_t gains = rendo_ref::ChannelGains(red, green, blue);
  auto run = [gains](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().ScaleChannels(t, s, n, gains); };
  ColourRows(src, srcStride, true, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// t = min(255, floor(s * (255 - a) / 256) + floor(c * a / 256)) per lane, every pixel;
// the source weight is the integer 0x00FFFFFF - alpha (see ComplementWeight).
void TPixelEngine::BlendColor(const void* src, int32_t srcStride, uint32_t color, uint32_t alpha) {
  if (!MmxGate() || Width == 0 || Height == 0) return;
  const uint32_t weight = rendo_ref::ComplementWeight(alpha);
  const uint32_t addend = rendo_ref::BlendColorAddend(color, alpha);
  auto run = [weight, addend](uint32_t* t, const uint32_t* s, size_t n) {
    ActiveColourKernels().ScaleAdd(t, s, n, weight, addend);
  };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
  EndOperation();
}

// The BlendColor formula on the one pixel at p; the target is not used.
void TPixelEngine::BlendPixel(uint32_t* p, uint32_t color, uint32_t alpha) {
  if (!MmxGate()) return;
  *p = rendo_ref::BlendPixelValue(*p, color, alpha);
  EndOperation();
}

// Copies and lookups ----------------------------------------------------------------------

// target = source, every pixel of every run (the flat copy's kernel).
void TPixelEngine::Copy(const void* src, int32_t srcStride) {
  if (!MmxGate()) return;
  auto run = [](uint32_t* t, const uint32_t* s, size_t n) { ActiveFlatKernels().CopyFlat(t, s, n); };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
  // The SSE variant clears the MMX state whatever the batch mode.
  if (ColourSsePath())
    ClearMmxState();
  else
    EndOperation();
}

// t = palette[low byte of s]; not gated.
void TPixelEngine::MapPalette(const void* src, int32_t srcStride, const uint32_t* palette) {
  auto run = [palette](uint32_t* t, const uint32_t* s, size_t n) { ActiveColourKernels().MapPalette(t, s, n, palette); };
  ColourRows(src, srcStride, false, RunLambda<decltype(run)>, &run);
}

// Target pixel k (row by row, k running on across rows) = the word at base + offsets[k]
// bytes; rows by the target's stride. Not gated.
void TPixelEngine::GatherOffsets(const void* base, const int32_t* offsets) {
  if (Width == 0) return;
  uint8_t* t = Bits;
  for (uint32_t r = 0; r < Height; ++r, t += Stride, offsets += Width)
    ActiveColourKernels().GatherOffsets(reinterpret_cast<uint32_t*>(t), static_cast<const uint8_t*>(base), offsets,
                                        Width);
}

// 32-bit pixels to packed 3-byte pixels, floor(width / 4) groups of four per row, source
// and target advancing continuously (the target's stride is not used). The fourth bytes
// are ORed into the next blue byte (see PackTo24_Ref). Not gated.
void TPixelEngine::PackTo24(const void* src, int32_t) {
  const size_t groups = size_t(Width / 4) * Height;
  if (groups != 0) ActiveColourKernels().PackTo24(Bits, static_cast<const uint32_t*>(src), groups);
  ClearMmxState();  // whatever the batch mode
}

// Stretching ------------------------------------------------------------------------------
//
// Nearest neighbour in 16.16 fixed point: output i takes source pixel (i * step) >> 16 with
// step = (source size << 16) / destination size, truncating, so the walk never reaches the
// source size. Nothing is drawn for a destination size of 0 or less, nor for a source size
// of 0 or less (its walk would read before or past the source).

namespace {

// One blended output row: out[i] = blend(src[(pos + i * step) >> 16], under[i]); the SSE
// variant mixes with alpha and 0x00FFFFFF - alpha, the plain one steps from u towards s.
// The stretched pixels go through a stack chunk, so under may be the target row itself.
void StretchBlendRow(uint32_t* out, const uint32_t* row, const uint32_t* under, size_t count, int64_t step,
                     uint32_t alpha, bool ssePath) {
  const auto& k = ActiveColourKernels();
  uint32_t chunk[kChunk];
  int64_t position = 0;
  for (size_t i = 0; i < count; i += kChunk) {
    const size_t n = std::min(kChunk, count - i);
    k.StretchGather(chunk, row, n, position, step);
    position += step * int64_t(n);
    if (ssePath)
      k.MixTwo(out + i, chunk, under + i, n, alpha, rendo_ref::ComplementWeight(alpha));
    else
      k.Lerp(out + i, chunk, under + i, n, alpha);
  }
}

}  // namespace

// The first count pixels at the target's bits pointer, whatever its width. Not gated.
void TPixelEngine::StretchRow(const uint32_t* src, int32_t count, int32_t srcCount) {
  if (count <= 0 || srcCount <= 0) return;
  ActiveColourKernels().StretchGather(reinterpret_cast<uint32_t*>(Bits), src, size_t(count), 0,
                                      StretchStep(srcCount, count));
  EndOperation();
}

void TPixelEngine::StretchRowBlend(const uint32_t* src, const uint32_t* under, int32_t count, int32_t srcCount,
                                   uint32_t alpha) {
  if (count <= 0 || srcCount <= 0) return;
  StretchBlendRow(reinterpret_cast<uint32_t*>(Bits), src, under, size_t(count), StretchStep(srcCount, count), alpha,
                  ColourSsePath());
  EndOperation();
}

// srcWidth x srcHeight source, rows srcWidth pixels apart, into width x height target
// pixels, target rows by its stride. A target row that samples the same source row as the
// one before it is a copy of that row (the same pixels, fewer reads), unless the target
// lies over the source.
void TPixelEngine::Stretch(const uint32_t* src, int32_t width, int32_t srcWidth, int32_t height, int32_t srcHeight) {
  if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  const auto& k = ActiveColourKernels();
  const int64_t hStep = StretchStep(srcWidth, width), vStep = StretchStep(srcHeight, height);
  const uint8_t* srcEnd = reinterpret_cast<const uint8_t*>(src + int64_t(srcWidth) * srcHeight);
  uint8_t* t = Bits;
  const uint32_t* previous = nullptr;
  int64_t previousRow = -1;
  int64_t v = 0;
  for (int32_t y = 0; y < height; ++y, v += vStep, t += Stride) {
    auto* out = reinterpret_cast<uint32_t*>(t);
    const int64_t sourceRow = v >> 16;
    const bool apart = t + int64_t(width) * 4 <= reinterpret_cast<const uint8_t*>(src) || t >= srcEnd;
    if (sourceRow == previousRow && previous != nullptr && apart)
      ActiveFlatKernels().CopyFlat(out, previous, size_t(width));
    else
      k.StretchGather(out, src + sourceRow * srcWidth, size_t(width), 0, hStep);
    previous = apart ? out : nullptr;
    previousRow = sourceRow;
  }
  ClearMmxState();  // whatever the batch mode
}

// As Stretch, each output blended with the under-image, which is read one pixel per target
// pixel from the start of its row, its row start advancing by srcWidth pixels (not width)
// per target row.
void TPixelEngine::StretchBlend(const uint32_t* src, const uint32_t* under, int32_t width, int32_t srcWidth,
                                int32_t height, int32_t srcHeight, uint32_t alpha) {
  if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return;
  const bool ssePath = ColourSsePath();
  const int64_t hStep = StretchStep(srcWidth, width), vStep = StretchStep(srcHeight, height);
  uint8_t* t = Bits;
  int64_t v = 0;
  for (int32_t y = 0; y < height; ++y, v += vStep, t += Stride, under += srcWidth)
    StretchBlendRow(reinterpret_cast<uint32_t*>(t), src + (v >> 16) * srcWidth, under, size_t(width), hStep, alpha,
                    ssePath);
  EndOperation();
}

// Wrapping texture scroll over the whole target. The texture row is (v >> 16) mod
// srcHeight; along a row u wraps modulo srcWidth << 16. A walk that wraps u at most once
// per step (one conditional subtraction) is exact for uStart below 2 x srcWidth and
// 0 <= uStep < srcWidth << 16 and reads outside the texture for anything else; reducing
// uStart and uStep modulo the period first gives the same texels inside that range and a
// wrapped texel for every other walk. v advances in 32-bit arithmetic; a negative row
// index wraps upwards.
// Without an under-image the texels are stored unchanged; with one,
// out = min(255, floor(t * a / 256) + floor(u * b / 256)), b = 0x00FFFFFF - alpha. Not gated.
void TPixelEngine::TileBlend(const void* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, int32_t uStart,
                             int32_t vStart, int32_t uStep, int32_t vStep, const void* under, int32_t underStride,
                             uint32_t alpha) {
  if (Width == 0 || Height == 0 || srcWidth <= 0 || srcHeight <= 0) return;
  const auto& k = ActiveColourKernels();
  const int64_t period = int64_t(srcWidth) << 16;
  const int64_t u0 = FloorMod(uStart, period), step = FloorMod(uStep, period);
  const uint32_t weight = rendo_ref::ComplementWeight(alpha);
  const auto* texture = static_cast<const uint8_t*>(src);
  const auto* underRow = static_cast<const uint8_t*>(under);
  uint8_t* t = Bits;
  uint32_t v = uint32_t(vStart);
  for (uint32_t y = 0; y < Height; ++y, v += uint32_t(vStep), t += Stride) {
    const int64_t row = FloorMod(int32_t(v) >> 16, srcHeight);
    const auto* texels = reinterpret_cast<const uint32_t*>(texture + row * srcStride);
    auto* out = reinterpret_cast<uint32_t*>(t);
    if (under == nullptr) {
      rendo_ref::TileGather_Ref(out, texels, Width, u0, step, period);
      continue;
    }
    const auto* u = reinterpret_cast<const uint32_t*>(underRow);
    uint32_t chunk[kChunk];
    int64_t position = u0;
    for (size_t i = 0; i < Width; i += kChunk) {
      const size_t n = std::min(kChunk, size_t(Width) - i);
      rendo_ref::TileGather_Ref(chunk, texels, n, position, step, period);
      position = (position + step * int64_t(n)) % period;
      k.MixTwo(out + i, chunk, u + i, n, alpha, weight);
    }
    underRow += underStride;
  }
  EndOperation();
}

// Scalar reference kernels: these define what every operation computes.
//
// Public and header-only, free of anything else in the library, so the program can draw
// the same pixels without librendo.so (target korvel_rendo_ref) and the SIMD kernels can
// be checked against exactly this code. Byte lanes: every pixel is four bytes (blue, green,
// red, fourth) treated alike unless a comment says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rendo_ref {

// t = min(t + s, 255) per byte, fourth byte included.
inline void AddSaturated_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  auto* t = reinterpret_cast<uint8_t*>(dst);
  auto* s = reinterpret_cast<const uint8_t*>(src);
  for (size_t i = 0; i < count * 4; ++i) {
    unsigned v = unsigned(t[i]) + s[i];
    t[i] = uint8_t(v > 255 ? 255 : v);
  }
}

// t = max(t - s, 0) per byte, fourth byte included.
inline void SubtractSaturated_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  auto* t = reinterpret_cast<uint8_t*>(dst);
  auto* s = reinterpret_cast<const uint8_t*>(src);
  for (size_t i = 0; i < count * 4; ++i) t[i] = uint8_t(t[i] > s[i] ? t[i] - s[i] : 0);
}

// t = max(s - t, 0) per byte, fourth byte included.
inline void ReverseSubtractSaturated_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  auto* t = reinterpret_cast<uint8_t*>(dst);
  auto* s = reinterpret_cast<const uint8_t*>(src);
  for (size_t i = 0; i < count * 4; ++i) t[i] = uint8_t(s[i] > t[i] ? s[i] - t[i] : 0);
}

// t = s, whole pixels. memmove keeps dst == src harmless.
inline void CopyFlat_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  if (count != 0 && dst != src) std::memmove(dst, src, count * 4);
}

// Desaturate, per pixel with bytes B, G, R, A and level 0..255 (the engine clamps):
//   grey  = floor((B + G + R) * 21845 / 65536)          (21845 = 0x5555 ~ 65536 / 3)
//   out_c = grey + floor((c - grey) * level / 256)       c in B, G, R; floor toward -inf
// The result lies between grey and c, so it always fits a byte. The original 16-bit lane
// arithmetic can wrap the product, but only by multiples of 65536, which move the result
// by multiples of 256 and vanish in the stored byte; plain int arithmetic is exact here.
// The two variants differ in the fourth byte only:
//   SSE path:   a = floor(3A * 21845 / 65536),  out_A = a + floor((A - a) * level / 256)
//   plain path: out_A = grey + floor((A - grey) * level / 256)
inline uint32_t DesaturateLane(int value, int grey, int level) {
  return uint32_t(grey + (((value - grey) * level) >> 8)) & 0xFFu;
}

inline uint32_t DesaturatePixel(uint32_t p, int level, bool ssePath) {
  const int b = int(p & 0xFF), g = int((p >> 8) & 0xFF), r = int((p >> 16) & 0xFF), a = int(p >> 24);
  const int grey = ((b + g + r) * 21845) >> 16;
  const int fourthGrey = ssePath ? (3 * a * 21845) >> 16 : grey;
  return DesaturateLane(b, grey, level) | DesaturateLane(g, grey, level) << 8 |
         DesaturateLane(r, grey, level) << 16 | DesaturateLane(a, fourthGrey, level) << 24;
}

inline void DesaturateSsePath_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  for (size_t i = 0; i < count; ++i) dst[i] = DesaturatePixel(src[i], int(level), true);
}

inline void DesaturatePlainPath_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level) {
  for (size_t i = 0; i < count; ++i) dst[i] = DesaturatePixel(src[i], int(level), false);
}

// The operation frames of the flat run and of Desaturate, shared by the engine (with the
// kernels of its level) and by a caller that must draw the same pixels without the
// library (the program when librendo.so is missing, with the reference kernels).

// The pixels a saturating flat run processes: its whole groups of four; nothing for a
// count below four or negative.
inline size_t WholeGroups(int32_t count) { return count > 0 ? size_t(count) & ~size_t(3) : 0; }

// The runs of a target for a source: one run of width x height pixels when both lie
// exactly width pixels apart (and there is more than one row), else one run per row.
inline void SpanOf(uint32_t width, uint32_t height, int32_t stride, int32_t srcStride, uint32_t* count,
                   uint32_t* rows) {
  const int64_t packed = int64_t(width) * 4;
  if (height > 1 && int64_t(srcStride) == packed && int64_t(stride) == packed) {
    *count = width * height;
    *rows = 1;
  } else {
    *count = width;
    *rows = height;
  }
}

using TDesaturateKernel = void (*)(uint32_t* dst, const uint32_t* src, size_t count, uint32_t level);

// Desaturate over `rows` runs of `count` pixels: whole pairs of each run (an odd last
// pixel stays), the level clamped to 255; target and source advance by their strides.
inline void DesaturateRuns(void* bits, int32_t stride, const void* src, int32_t srcStride, uint32_t count,
                           uint32_t rows, uint32_t level, TDesaturateKernel kernel) {
  if (level > 255) level = 255;
  const size_t pairs = size_t(count) & ~size_t(1);
  auto* t = static_cast<uint8_t*>(bits);
  auto* s = static_cast<const uint8_t*>(src);
  for (uint32_t r = 0; r < rows && pairs != 0; ++r, t += stride, s += srcStride)
    kernel(reinterpret_cast<uint32_t*>(t), reinterpret_cast<const uint32_t*>(s), pairs, level);
}

// The engine's SubtractSaturated and Desaturate with its MMX switch on, on the reference.
inline void SubtractSaturatedRun(uint32_t* target, const uint32_t* src, int32_t count) {
  if (const size_t n = WholeGroups(count); n != 0) SubtractSaturated_Ref(target, src, n);
}

inline void DesaturateTarget(void* bits, int32_t stride, uint32_t width, uint32_t height, const void* src,
                             int32_t srcStride, uint32_t level, bool ssePath) {
  uint32_t count = 0, rows = 0;
  SpanOf(width, height, stride, srcStride, &count, &rows);
  DesaturateRuns(bits, stride, src, srcStride, count, rows, level,
                 ssePath ? DesaturateSsePath_Ref : DesaturatePlainPath_Ref);
}

}  // namespace rendo_ref

// Scalar reference kernels of the colour arithmetic, copy, stretch and lookup
// operations: these define what the operations compute, and the SSE2/AVX2 kernels of
// kernels_colour_*.cpp are checked against exactly this code.
//
// Header-only and free of anything else in the library (target korvel_rendo_ref).
// A factor, weight or alpha is a 32-bit value whose four bytes weight the four byte
// lanes of a pixel (byte 0 blue, 1 green, 2 red, 3 the fourth byte); a colour is a
// pixel. The scaled lane of a byte s by a weight byte f is floor(s * f / 256), 0..254;
// the product s * f <= 65025 fits an unsigned 16-bit lane, which is what the SIMD
// kernels rely on. Kernels process exactly the count they are given; pairs, groups
// and left-over pixels are the engine's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rendo_ref {

inline uint32_t Lane(uint32_t p, int i) { return (p >> (8 * i)) & 0xFFu; }

// Per lane floor(s * f / 256); the pixel of the four scaled lanes.
inline uint32_t ScalePixel(uint32_t s, uint32_t f) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) out |= ((Lane(s, i) * Lane(f, i)) >> 8) << (8 * i);
  return out;
}

// Per lane min(255, a + b) and max(0, a - b).
inline uint32_t AddPixel(uint32_t a, uint32_t b) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t v = Lane(a, i) + Lane(b, i);
    out |= (v > 255 ? 255 : v) << (8 * i);
  }
  return out;
}

inline uint32_t SubtractPixel(uint32_t a, uint32_t b) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t x = Lane(a, i), y = Lane(b, i);
    out |= (x > y ? x - y : 0) << (8 * i);
  }
  return out;
}

// t = min(255, floor(s * f / 256) + k) per lane. Three operations are this kernel with
// their own f and k (helpers below):
//   FadeToBlack  f = factor, k = 0
//   FadeToWhite  f = factor, k = 255 - f per lane (all four lanes: the fourth byte of the
//                usual factor 0x00RRGGBB is 0, so it becomes 255)
//   BlendColor   f = 0x00FFFFFF - alpha, k = floor(colour * alpha / 256) per lane
inline void ScaleAdd_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor, uint32_t addend) {
  for (size_t i = 0; i < count; ++i) dst[i] = AddPixel(ScalePixel(src[i], factor), addend);
}

inline uint32_t FadeToWhiteAddend(uint32_t factor) { return ~factor; }  // 255 - f in every byte

// The source weight of BlendColor, BlendPixel, the SSE variant of the stretch blends and
// TileBlend: the integer difference 0x00FFFFFF - alpha. No byte borrows from the next, so
// the colour bytes are 255 - alpha and the fourth byte is (0 - alpha3) mod 256.
inline uint32_t ComplementWeight(uint32_t alpha) { return 0x00FFFFFFu - alpha; }

inline uint32_t BlendColorAddend(uint32_t color, uint32_t alpha) { return ScalePixel(color, alpha); }

// BlendPixel: the BlendColor formula on one pixel.
inline uint32_t BlendPixelValue(uint32_t p, uint32_t color, uint32_t alpha) {
  return AddPixel(ScalePixel(p, ComplementWeight(alpha)), BlendColorAddend(color, alpha));
}

// t = min(255, t + floor(s * f / 256)) per lane.
inline void AddScaled_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t factor) {
  for (size_t i = 0; i < count; ++i) dst[i] = AddPixel(dst[i], ScalePixel(src[i], factor));
}

// t = min(255, s + c) and t = max(0, s - c) per lane.
inline void AddColor_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  for (size_t i = 0; i < count; ++i) dst[i] = AddPixel(src[i], color);
}

inline void SubtractColor_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint32_t color) {
  for (size_t i = 0; i < count; ++i) dst[i] = SubtractPixel(src[i], color);
}

// t = min(255, floor(a * wA / 256) + floor(b * wB / 256)) per lane. Also the blend of
// TileBlend and of the SSE variant of StretchBlend/StretchRowBlend, with a the stretched
// or tiled source, b the under-image, wA = alpha and wB = ComplementWeight(alpha).
inline void MixTwo_Ref(uint32_t* dst, const uint32_t* a, const uint32_t* b, size_t count, uint32_t weightA,
                       uint32_t weightB) {
  for (size_t i = 0; i < count; ++i) dst[i] = AddPixel(ScalePixel(a[i], weightA), ScalePixel(b[i], weightB));
}

// The plain variant of the stretch blends: t = u + floor((s - u) * alpha / 256) per lane,
// the floor towards minus infinity (an arithmetic shift of the 16-bit lane; the lane's
// wrap-around only moves the value by multiples of 256, which the stored byte drops).
// The result lies between u and s, so it always fits a byte. The fourth lane uses the
// top byte of alpha: with the usual alpha 0x00RRGGBB the fourth byte of u stays.
inline void Lerp_Ref(uint32_t* dst, const uint32_t* s, const uint32_t* u, size_t count, uint32_t alpha) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t out = 0;
    for (int l = 0; l < 4; ++l) {
      const int x = int(Lane(s[i], l)), y = int(Lane(u[i], l)), a = int(Lane(alpha, l));
      out |= uint32_t(y + (((x - y) * a) >> 8)) << (8 * l);
    }
    dst[i] = out;
  }
}

// t = 255 - s in all four bytes.
inline void Invert_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  for (size_t i = 0; i < count; ++i) dst[i] = ~src[i];
}

// t = color, the whole 32-bit word.
inline void Fill_Ref(uint32_t* dst, size_t count, uint32_t color) {
  for (size_t i = 0; i < count; ++i) dst[i] = color;
}

// ScaleChannels: 16-bit lane gains (blue, green, red, upper half of red), each shifted
// left by 4 within its 16 bits; the source byte s zero-extended and shifted left by 4.
// The signed 16 x 16 multiply keeping the high half gives floor(16s * 16g / 65536) =
// floor(s * g / 256) for 0 <= g <= 2047; packing clamps it to 0..255. A gain of 2048 or
// more wraps the signed lane (2048 becomes -32768: the channel comes out 0). The fourth
// byte's gain is the red gain's upper half, 0 for any red gain below 65536.
// The four lanes travel packed in one 64-bit word, lane i in bits 16i..16i+15.
inline uint64_t ChannelGains(int32_t red, int32_t green, int32_t blue) {
  const uint32_t raw[4] = {uint32_t(blue) & 0xFFFFu, uint32_t(green) & 0xFFFFu, uint32_t(red) & 0xFFFFu,
                           uint32_t(red) >> 16};
  uint64_t lanes = 0;
  for (int i = 0; i < 4; ++i) lanes |= uint64_t(uint16_t(raw[i] << 4)) << (16 * i);
  return lanes;
}

inline void ScaleChannels_Ref(uint32_t* dst, const uint32_t* src, size_t count, uint64_t gains) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t out = 0;
    for (int l = 0; l < 4; ++l) {
      const int g = int16_t(uint16_t(gains >> (16 * l)));
      const int v = (int(Lane(src[i], l)) * 16 * g) >> 16;
      out |= uint32_t(v < 0 ? 0 : v > 255 ? 255 : v) << (8 * l);
    }
    dst[i] = out;
  }
}

// t = palette[low byte of s]; the upper three bytes of the source do not matter.
inline void MapPalette_Ref(uint32_t* dst, const uint32_t* src, size_t count, const uint32_t* palette) {
  for (size_t i = 0; i < count; ++i) dst[i] = palette[src[i] & 0xFFu];
}

// t[k] = the 32-bit word at base + offsets[k] bytes (any alignment).
inline void GatherOffsets_Ref(uint32_t* dst, const uint8_t* base, const int32_t* offsets, size_t count) {
  for (size_t i = 0; i < count; ++i) std::memcpy(&dst[i], base + offsets[i], 4);
}

// Nearest-neighbour row: t[i] = row[(position + i * step) >> 16], 16.16 fixed point. The
// engine keeps position and step in 64 bits so that sources of 32768 pixels or more, whose
// size no longer fits a shifted 32-bit number, still never index past the row; below that
// the values are those of 32-bit arithmetic.
inline void StretchGather_Ref(uint32_t* dst, const uint32_t* row, size_t count, int64_t position, int64_t step) {
  for (size_t i = 0; i < count; ++i, position += step) dst[i] = row[size_t(position >> 16)];
}

// Wrapping texture row: u and uStep both in [0, period) where period = srcWidth << 16;
// t[i] = row[u >> 16], then u += uStep, less period once if it reaches it.
inline void TileGather_Ref(uint32_t* dst, const uint32_t* row, size_t count, int64_t u, int64_t uStep,
                           int64_t period) {
  for (size_t i = 0; i < count; ++i) {
    dst[i] = row[size_t(u >> 16)];
    u += uStep;
    if (u >= period) u -= period;
  }
}

// Four 32-bit pixels (16 bytes) become 12 bytes: blue, green, red of each. The fourth
// bytes are merged, not removed: the fourth byte of each of the first three pixels is
// ORed into the blue byte of the next pixel's triple, the fourth pixel's is dropped, so
// the output is the plain 24-bit image only when the fourth bytes are 0.
inline void PackTo24_Ref(uint8_t* dst, const uint32_t* src, size_t groups) {
  for (size_t g = 0; g < groups; ++g, src += 4, dst += 12) {
    uint32_t carry = 0;
    for (int p = 0; p < 4; ++p) {
      dst[3 * p] = uint8_t(Lane(src[p], 0) | carry);
      dst[3 * p + 1] = uint8_t(Lane(src[p], 1));
      dst[3 * p + 2] = uint8_t(Lane(src[p], 2));
      carry = Lane(src[p], 3);
    }
  }
}

}  // namespace rendo_ref

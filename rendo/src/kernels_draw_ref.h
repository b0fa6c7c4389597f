// Scalar reference kernels of the drawing primitives and image effects: these define
// what the operations compute. Header-only like the flat family's reference
// (rendo/reference.h), so the SIMD kernels can be checked against exactly this code.
//
// Byte lanes as everywhere in the engine: blue, green, red, fourth byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rendo_draw_ref {

inline uint32_t AddPixelSaturated(uint32_t t, uint32_t c) {
  uint32_t out = 0;
  for (int i = 0; i < 32; i += 8) {
    const uint32_t v = ((t >> i) & 0xFF) + ((c >> i) & 0xFF);
    out |= (v > 255 ? 255 : v) << i;
  }
  return out;
}

inline uint32_t SubtractPixelSaturated(uint32_t t, uint32_t c) {
  uint32_t out = 0;
  for (int i = 0; i < 32; i += 8) {
    const uint32_t a = (t >> i) & 0xFF, b = (c >> i) & 0xFF;
    out |= (a > b ? a - b : 0) << i;
  }
  return out;
}

// The three pixel modes of PutPixel and PutMaskBits: 0 store, 1 add, 2 subtract (both
// saturating per byte, fourth byte included). Other modes leave the pixel.
inline void ApplyMode(uint32_t* p, uint32_t color, int32_t mode) {
  switch (mode) {
    case 0: *p = color; break;
    case 1: *p = AddPixelSaturated(*p, color); break;
    case 2: *p = SubtractPixelSaturated(*p, color); break;
    default: break;
  }
}

// One row from a 1-bit mask: dst[i] takes the mode for every set mask bit bitOffset + i,
// i < count, where mask bit n is bit (n mod 32) of word floor(n / 32), least significant
// first. Walked a mask word at a time visiting only the set bits, in increasing order;
// only the words holding bits of the row are read.
inline void PutMaskBits_Ref(uint32_t* dst, const uint32_t* bits, int64_t bitOffset, int64_t count, uint32_t color,
                            int32_t mode) {
  int64_t n = bitOffset;
  for (int64_t i = 0; i < count;) {
    const int shift = int(n & 31);
    const int64_t room = 32 - shift;
    const int take = int(room < count - i ? room : count - i);
    uint32_t word = bits[n >> 5] >> shift;
    if (take < 32) word &= (1u << take) - 1u;
    for (; word != 0; word &= word - 1) ApplyMode(dst + i + __builtin_ctz(word), color, mode);
    i += take;
    n += take;
  }
}

// DrawLineBlend's pixel: per colour lane with m the pen colour and k = (255 - alpha) * 128
// (at most 32640, so a signed 16-bit lane), out = clamp(m + 2 * floor((p - m) * k / 65536),
// 0, 255): the high half of a signed 16 x 16 multiply, doubled. The fourth byte is m's.
// Moves p towards m: alpha 255 gives m, alpha 0 leaves p within one step of itself.
inline uint32_t LineBlendPixel(uint32_t p, uint32_t m, uint32_t alpha) {
  const int k = (255 - int(alpha & 0xFF)) * 128;
  uint32_t out = m & 0xFF000000u;
  for (int i = 0; i < 24; i += 8) {
    const int pc = int((p >> i) & 0xFF), mc = int((m >> i) & 0xFF);
    int v = mc + 2 * (((pc - mc) * k) >> 16);
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    out |= uint32_t(v) << i;
  }
  return out;
}

// Blur: dst[i] = floor((s[i-1] + s[i+1] + s[i-width] + s[i+width]) / 4) per byte lane,
// fourth byte included, for i in 0..count-1. src points at the source pixel of dst[0];
// the caller guarantees that src[-width-1 .. count+width] exists and that dst does not
// overlap the source (a pixel is read after its neighbour's output would be written).
inline void Blur_Ref(uint32_t* dst, const uint32_t* src, size_t count, size_t width) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t l = src[i - 1], r = src[i + 1], u = src[i - width], d = src[i + width];
    uint32_t out = 0;
    for (int b = 0; b < 32; b += 8) {
      const uint32_t sum = ((l >> b) & 0xFF) + ((r >> b) & 0xFF) + ((u >> b) & 0xFF) + ((d >> b) & 0xFF);
      out |= (sum >> 2) << b;
    }
    dst[i] = out;
  }
}

// Noise bands over one row of `pairs` pixel pairs. g is the byte accumulator on entry
// (already advanced by the row's first step); pair j takes d = max(0, g - (255 - amount))
// and then g += byte (j mod 3) of steps (mod 256). Each colour byte c of both pixels of
// the pair becomes min(255, c + d) (Add) or max(0, c - d) (Subtract); the fourth byte is the
// source's. Returns g after the row. amount is 1..255 (the engine clamps). dst may be src.
template <bool Add>
inline uint8_t Noise_Ref(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                         uint32_t amount) {
  const int threshold = 255 - int(amount);
  for (size_t j = 0; j < pairs; ++j) {
    const int d = int(g) > threshold ? int(g) - threshold : 0;
    for (size_t k = 2 * j; k < 2 * j + 2; ++k) {
      const uint32_t p = src[k];
      uint32_t out = p & 0xFF000000u;
      for (int b = 0; b < 24; b += 8) {
        int c = int((p >> b) & 0xFF);
        c = Add ? (c + d > 255 ? 255 : c + d) : (c - d < 0 ? 0 : c - d);
        out |= uint32_t(c) << b;
      }
      dst[k] = out;
    }
    g = uint8_t(g + (steps >> (8 * (j % 3))));
  }
  return g;
}

inline uint8_t AddNoise_Ref(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                            uint32_t amount) {
  return Noise_Ref<true>(dst, src, pairs, g, steps, amount);
}

inline uint8_t SubtractNoise_Ref(uint32_t* dst, const uint32_t* src, size_t pairs, uint8_t g, uint32_t steps,
                                 uint32_t amount) {
  return Noise_Ref<false>(dst, src, pairs, g, steps, amount);
}

// Brightest colour channel of a pixel.
inline uint8_t MaxChannel(uint32_t p) {
  const uint8_t b = uint8_t(p), g = uint8_t(p >> 8), r = uint8_t(p >> 16);
  const uint8_t m = b > g ? b : g;
  return m > r ? m : r;
}

// Emboss, inner part of a row: with M the brightest channel of each source pixel,
// dst[i] = grey (v, v, v, 0), v = floor((M[i-1] - M[i+1]) / 2) + 128 (floor towards minus
// infinity: an arithmetic shift), for i in 0..count-1. src points at the source pixel of
// dst[0]; src[-1] and src[count] are read. dst may be src: each source pixel is read
// before the output one place to its left is written.
inline void Emboss_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  if (count == 0) return;
  uint8_t left = MaxChannel(src[-1]);
  uint8_t centre = MaxChannel(src[0]);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t right = MaxChannel(src[i + 1]);
    const uint32_t v = uint32_t(((int(left) - int(right)) >> 1) + 128);
    dst[i] = v | v << 8 | v << 16;
    left = centre;
    centre = right;
  }
}

// Sepia: M the brightest channel; out = (blue floor(60M / 100), green floor(85M / 100),
// red M, fourth byte 0). dst may be src.
inline void Sepia_Ref(uint32_t* dst, const uint32_t* src, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t m = MaxChannel(src[i]);
    dst[i] = (60 * m / 100) | (85 * m / 100) << 8 | m << 16;
  }
}

// The engine's generator behind the noise and jitter draws: the linear congruential
// generator of the C standard's example rand(), state * 1103515245 + 12345 modulo 2^32,
// giving bits 16..30 of the new state: values 0..32767.
inline uint32_t NextRandom15(uint32_t& state) {
  state = state * 1103515245u + 12345u;
  return (state >> 16) & 0x7FFFu;
}

}  // namespace rendo_draw_ref

// IPixelEffects and RenderTunnel: the aligned allocator, window translucency, the
// lighting ramp, the tunnel-map generators and the tunnel renderer.
//
// None of these is gated by the MMX switch. RenderTunnel clears the MMX state at its end
// whatever the batch mode.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "kernels_3d.h"
#include "window_alpha.h"

namespace {

// Tunnel maps ---------------------------------------------------------------------------

// The constant the generators use where they mean pi. It is deliberately not pi
// (3.14159265...): it is about 3.9e-6 larger, and the maps are defined with this value.
// With the true pi, (theta + kPi) * 40.74 moves by about 1.6e-4, enough to carry some
// angles across a byte boundary and change their texel, so it must not be "corrected".
constexpr double kPi = 3.14159654;

// Low 8 bits of a formula truncated towards zero; a value with no integer (NaN, infinite
// or beyond 2^53) gives 0.
uint32_t Low8(double v) {
  if (!(std::fabs(v) < 9.0e15)) return 0;
  return uint32_t(int64_t(v)) & 0xFFu;
}

uint16_t Coordinate(double u, double v) { return uint16_t(Low8(u) | Low8(v) << 8); }

// A shade s as the grey s * 0x010101 (fourth byte 0). The shade formulas stay within
// 0..255 except at the far corners of the lens maps; there the grey saturates instead of
// wrapping to a dark pixel. NaN gives black.
uint32_t Grey(double s) {
  if (!(s > 0.0)) return 0;
  const uint32_t g = s >= 255.0 ? 255u : uint32_t(s);
  return g * 0x010101u;
}

// Walks the height x width pixels in row order with x and y the offset from the centre
// (column - floor(width / 2), row - floor(height / 2)), r and theta their polar form, and
// stores what `pixel` returns (coordinate entry, shade entry).
template <typename TPixel>
void WalkCentred(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, TPixel pixel) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const float y = float(row - height / 2);
    for (int32_t col = 0; col < width; ++col, ++k) {
      const float x = float(col - width / 2);
      const float r = float(std::sqrt(double(x) * x + double(y) * y));
      const float theta = float(std::atan2(double(y), double(x)));
      const auto [uv, shade] = pixel(row, x, y, r, theta);
      uvMap[k] = uv;
      shadeMap[k] = shade;
    }
  }
}

struct TEntry {
  uint16_t Uv;
  uint32_t Shade;
};

// R of the lens maps: sqrt(h * (h / 2) / 2 + w * (w / 2) / 2) in integer products, about
// half the diagonal. It is 0 only for a 1 x 1 map, whose one pixel (r = 0) is then taken
// at the centre of the lens.
double LensRadius(int32_t width, int32_t height) {
  const int64_t h = height, w = width;
  return std::sqrt(double(h * (h / 2) / 2 + w * (w / 2) / 2));
}

double LensRatio(float r, double radius) { return radius > 0.0 ? double(r) / radius : 0.0; }

}  // namespace

// RenderTunnel ------------------------------------------------------------------------------

// Every target pixel from the next coordinate and shade entries; the maps are read
// continuously (width x height entries), the target row by row at its stride.
void TPixelEngine::RenderTunnel(const uint32_t* texture, const uint16_t* uvMap, const uint32_t* shadeMap,
                                uint32_t uOffset, uint32_t vOffset) {
  if (Bits == nullptr || Width == 0 || Height == 0) return ClearMmxState();
  const uint32_t offsets = (uOffset & 0xFFu) | (vOffset & 0xFFu) << 8;
  const auto kernel = rendo_kernels::Active3DKernels().RenderTunnel;
  // A packed target is one long run for the kernel.
  const bool packed = int64_t(Stride) == int64_t(Width) * 4;
  const size_t run = packed ? size_t(Width) * Height : Width;
  const uint32_t rows = packed ? 1 : Height;
  uint8_t* row = Bits;
  for (uint32_t r = 0; r < rows; ++r, row += Stride, uvMap += run, shadeMap += run)
    kernel(reinterpret_cast<uint32_t*>(row), texture, uvMap, shadeMap, run, offsets);
  ClearMmxState();
}

// IPixelEffects -----------------------------------------------------------------------------

// The caller's pointer is preceded by a pointer-sized word holding the address malloc
// returned (a 64-bit address does not fit the 32-bit word of a 32-bit process). The word
// may be unaligned when the alignment is 4, hence the byte copies.
void* TPixelEngine::AlignedAlloc(uint32_t size, uint32_t alignment) {
  if ((alignment & (alignment - 1)) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  const size_t align = std::max<size_t>(alignment, 4);
  constexpr size_t kWord = sizeof(void*);
  void* block = std::malloc(size_t(size) + align + kWord);
  if (block == nullptr) return nullptr;
  const uintptr_t result = (reinterpret_cast<uintptr_t>(block) + align + kWord) & ~uintptr_t(align - 1);
  std::memcpy(reinterpret_cast<void*>(result - kWord), &block, kWord);
  return reinterpret_cast<void*>(result);
}

void TPixelEngine::AlignedFree(void* p) {
  if (p == nullptr) return;
  const uintptr_t base = reinterpret_cast<uintptr_t>(p) & ~uintptr_t(3);
  void* block = nullptr;
  std::memcpy(&block, reinterpret_cast<const void*>(base - sizeof(void*)), sizeof(void*));
  std::free(block);
}

// Alpha 0..255 makes the window translucent to opaque, 256 in the low 16 bits removes the
// translucency (SetWindowOpacity). Returns 1 when the display accepted the requests, 0 on
// failure.
int32_t TPixelEngine::SetWindowAlpha(void* window, uint32_t alpha) {
  return rendo_window::SetWindowOpacity(reinterpret_cast<uintptr_t>(window), alpha);
}

// Entry i of count: k = cos((count - i - 1) * pi / 512) (so the last entry has k = 1),
// highlight = specular * k^power, and per channel c of color
//   value = truncate(ambient * c / 255 + highlight + c * k), at most 255.
// Beyond 257 entries k turns negative; a value below 0 (or NaN, from pow of a negative
// base) is stored as 0 instead of a wrapped byte.
int32_t TPixelEngine::BuildLightRamp(uint32_t* table, int32_t count, uint32_t color, int32_t ambient,
                                     int32_t specular, float power) {
  if (table == nullptr) return count;
  const float channel[3] = {float(color & 0xFFu), float((color >> 8) & 0xFFu), float(color >> 16)};
  for (int32_t i = 0; i < count; ++i) {
    const double k = std::cos(double(count - i - 1) * 0.006135921875);
    const double highlight = double(specular) * std::pow(k, double(power));
    uint32_t entry = 0;
    for (int c = 0; c < 3; ++c) {
      const double value = double(ambient) * channel[c] / 255.0 + highlight + double(channel[c]) * k;
      const uint32_t v = !(value > 0.0) ? 0u : value >= 255.0 ? 255u : uint32_t(value);
      entry |= v << (8 * c);
    }
    table[i] = entry;
  }
  return count;
}

// The round tunnel around (originX, originY):
//   depth = (200 - r) * 15360 / (r * 768 + 4000);  v = depth;  u = (theta + pi') * 256 / (2 pi')
//   shade = 255 - min(255, max(depth, 0)^0.95)
void TPixelEngine::BuildTunnelMap1(uint16_t* uvMap, uint32_t* shadeMap, int32_t originX, int32_t originY,
                                   int32_t width, int32_t height, float scaleX, float scaleY) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const float y = float(double(row) - originY) * scaleY;
    for (int32_t col = 0; col < width; ++col, ++k) {
      const float x = float(double(col) - originX) * scaleX;
      const float r = float(std::sqrt(double(x) * x + double(y) * y));
      const float theta = float(std::atan2(double(y), double(x)));
      const float depth = float((200.0 - r) * 15360.0 / (double(r) * 768.0 + 4000.0));
      uvMap[k] = Coordinate((theta + kPi) * 40.7436150283, depth);
      shadeMap[k] = Grey(255.0 - std::min(255.0, std::pow(std::max(double(depth), 0.0), 0.95)));
    }
  }
}

// Floor and ceiling: the depth from the row alone, two turns of the texture per circle.
void TPixelEngine::BuildTunnelMap2(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  WalkCentred(uvMap, shadeMap, width, height, [](int32_t, float, float y, float, float theta) {
    const double ay = std::fabs(double(y));
    const float d = float((1000.0 - ay) * 7680.0 / (ay * 768.0 + 10000.0));
    return TEntry{Coordinate((theta + kPi) * 81.4872300566, d),
                  Grey(255.0 - std::min(255.0, std::pow(std::max(double(d), 0.0), 0.95)))};
  });
}

// The waving tunnel: with t = row / (height / 2) + 1 running from 1 to 3 down the map,
// each row is pushed sideways, y' = scaleB * (sin(0.22 pi' t) * y - phase), and each
// column squeezed, x' = scaleA * (x * cos(0.14 pi' t) - offset); the tunnel is then round
// in (x', y'): v = r^0.9, u = (atan2(y', x') + pi') * 256 / (2 pi') * 2, and the shade
// grows with ln(r^2) from black at the vanishing point:
//   shade = clamp(ln(r^2 / (64 scaleA scaleB)) * (24 / (scaleA + scaleB) + 32), 0, 255).
// Animating phase and offset sways the tunnel's far end.
void TPixelEngine::BuildTunnelMap3(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                                   float scaleA, float scaleB, int32_t offset, int32_t phase) {
  const double half = double(height) / 2.0;
  const double area = 64.0 * double(scaleA) * double(scaleB);
  const double gain = 24.0 / (double(scaleA) + double(scaleB)) + 32.0;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t row, float x, float y, float, float) {
    const double t = double(row) / half + 1.0;
    const float ys = float(double(scaleB) * (std::sin(t * 0.22 * kPi) * y - double(phase)));
    const float xs = float(double(scaleA) * (double(x) * std::cos(t * 0.14 * kPi) - double(offset)));
    const float r = float(std::sqrt(double(xs) * xs + double(ys) * ys));
    // Scales of opposite signs or zero have no logarithm: black.
    const double shade = area > 0.0 ? std::log(double(r) * r / area) * gain : 0.0;
    return TEntry{Coordinate((std::atan2(double(ys), double(xs)) + kPi) * 81.4872300566, std::pow(double(r), 0.9)),
                  Grey(std::clamp(shade, 0.0, 255.0))};
  });
}

// A rectangular room: the walls meet the view's diagonals at the corner angles A1..A4;
// top and bottom walls take their depth from |y|, the side walls from |x|.
void TPixelEngine::BuildTunnelMap4(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  const double w = width, h = height, turn = 2.0 * kPi;
  const double a1 = std::atan2(h, w), a2 = std::atan2(h, -w);
  const double a3 = std::atan2(-h, w) + turn, a4 = std::atan2(-h, -w) + turn;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float x, float y, float, float) {
    double theta = std::atan2(double(y), double(x));
    if (theta < 0) theta += turn;
    const bool topOrBottom = y != 0.0f && std::fabs(double(x) / double(y)) <= w / h;
    double c, u;
    if (topOrBottom) {
      c = std::fabs(double(y));
      u = (a1 <= theta && theta <= a2) ? 256.0 * (a2 - theta) / (a2 - a1) : 256.0 * (theta - a3) / (a4 - a3);
    } else {
      c = std::fabs(double(x));
      if (a2 <= theta && theta <= a3)
        u = 256.0 * (a2 - theta) / (a3 - a2);
      else if (0.0 <= theta && theta <= a1)
        u = 128.0 * (a1 - theta) / a1;
      else if (a4 <= theta && theta <= turn)
        u = 128.0 * (a4 - theta) / (turn - a4);
      else
        u = theta;
    }
    const float depth = float((200.0 - c) * 230400.0 / (c * 768.0 + 60000.0));
    const double shade = 255.0 - std::min(255.0, std::pow(std::max(double(depth), 0.0) * 2.0 / 3.0, 0.9));
    return TEntry{Coordinate(u, depth), Grey(shade)};
  });
}

// A swirl: the angle turns by twist * (256 - r) / 256; brighter outwards.
void TPixelEngine::BuildTunnelMap5(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) {
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double phi = double(theta) + double(twist) * (256.0 - r) / 256.0;
    return TEntry{Coordinate(r * std::cos(phi), r * std::sin(phi)), Grey(std::min(255.0, double(r) * 1.5))};
  });
}

// A swirl whose u and v turn in opposite senses, in a vignette: full inside a quarter
// of the height, falling off to 0.35 of the height, darker beyond (darkest on the rows
// above height / 40 from the centre).
void TPixelEngine::BuildTunnelMap6(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) {
  const double h = height;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float y, float r, float theta) {
    const double v = r * std::sin(double(theta) + double(twist) * (256.0 - r) / 256.0);
    const double u = r * std::cos(double(theta) + double(twist) * r / 256.0);
    double shade;
    if (r <= h / 4.0)
      shade = 255.0;
    else if (r < 0.35 * h)
      shade = 255.0 - (r - h / 4.0) * 2.5;
    else if (y < h / 40.0)
      shade = 170.0 - r;
    else
      shade = 255.0 - 1.2 * r;
    return TEntry{Coordinate(u, v), Grey(std::max(shade, 0.0))};
  });
}

// A plane tilted by tilt degrees (0..80): v runs down the rows, u spreads the columns
// with a row factor k; the shade grows with sin(tilt) * row where the texture covers the
// pixel (0 <= u <= 256) and is black elsewhere. At tilt 0 the plane is seen edge on and
// k is 0 / 0: u is stored as 0 (and the shade, sin 0 * row, is 0).
void TPixelEngine::BuildTunnelMap7(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                                   float tiltDegrees) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  const float tilt = tiltDegrees > 0.0f ? std::min(tiltDegrees, 80.0f) : 0.0f;  // NaN as 0
  const float alpha = float(double(tilt) * 0.0055555557 * kPi);
  const double ca = std::cos(double(alpha)), sa = std::sin(double(alpha));
  const double w = width, h = height;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const double v = 256.0 - 256.0 * row / (ca * h);
    const double factor = sa == 0.0 ? 0.0 : 1.0 / (ca * w + ((sa * row) / (h * sa)) * (w - ca * w));
    const double lit = std::min(255.0, std::trunc(sa * row));
    for (int32_t col = 0; col < width; ++col, ++k) {
      const double u = sa == 0.0 ? 0.0 : 128.0 + 256.0 * double(col - width / 2) * factor;
      uvMap[k] = Coordinate(u, v);
      shadeMap[k] = (u >= 0.0 && u <= 256.0) ? Grey(lit) : 0u;
    }
  }
}

// A spherical lens: d = sin(pi' r / R) bulges the texture out from the centre.
void TPixelEngine::BuildTunnelMap8(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  const double radius = LensRadius(width, height);
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double d = std::sin(LensRatio(r, radius) * kPi), e = 128.0 * d;
    return TEntry{Coordinate(e * std::cos(double(theta)), 255.0 - e * std::sin(double(theta))),
                  Grey((1.0 - 0.4 * d) * 255.0)};
  });
}

// A lens of adjustable power: g = (r / R)^power, texture radius 128 * sqrt(2) * g.
void TPixelEngine::BuildTunnelMap9(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float power) {
  const double radius = LensRadius(width, height);
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double g = std::pow(LensRatio(r, radius), double(power)), e = 181.01933568 * g;
    return TEntry{Coordinate(e * std::cos(double(theta)), 255.0 - e * std::sin(double(theta))),
                  Grey((1.0 - 0.4 * g) * 255.0)};
  });
}

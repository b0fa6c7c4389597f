// Writes the history strip's background picture: a 24-bit BMP of the strip's size, an evening sky
// over green hills. Colourful on purpose, so the strip's fade to grey and back is visible.
// Usage: make_background OUT.bmp [OUT2.bmp ...]
#include "uHistory.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, uint16_t(v));
  Put16(b, uint16_t(v >> 16));
}
uint8_t Clamp(double v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
}  // namespace

int main(int argc, char** argv) {
  constexpr int W = kStripWidth, H = kStripHeight;
  constexpr int rowBytes = W * 3;  // BMP rows are padded to 4 bytes: none needed here
  static_assert(rowBytes % 4 == 0);
  const double pi = 3.14159265358979323846;

  std::vector<uint8_t> pixels;
  for (int y = 0; y < H; ++y) {  // rows bottom-up, as BMP stores them
    const int top = H - 1 - y;
    const double s = top / double(H - 1);
    for (int x = 0; x < W; ++x) {
      const double t = x / double(W - 1);
      // Hue sweeps left to right; the sky lightens towards the top.
      double r = 40 + 180 * (0.5 + 0.5 * std::sin(2 * pi * (t * 0.8 + 0.05))) * (1 - 0.5 * s);
      double g = 60 + 150 * (0.5 + 0.5 * std::sin(2 * pi * (t * 0.8 + 0.38))) * (1 - 0.3 * s);
      double b = 90 + 150 * (0.5 + 0.5 * std::sin(2 * pi * (t * 0.8 + 0.72))) * (0.6 + 0.4 * (1 - s));
      const double hill = 44 + 8 * std::sin(x / 17.0) + 5 * std::sin(x / 7.3);
      if (top > hill) {
        r *= 0.35;
        g = g * 0.7 + 50;
        b *= 0.3;
      }
      pixels.push_back(Clamp(b));
      pixels.push_back(Clamp(g));
      pixels.push_back(Clamp(r));
    }
  }

  std::vector<uint8_t> file;
  file.push_back('B');
  file.push_back('M');
  Put32(file, uint32_t(54 + pixels.size()));
  Put32(file, 0);
  Put32(file, 54);
  Put32(file, 40);  // BITMAPINFOHEADER
  Put32(file, W);
  Put32(file, H);   // positive: bottom-up
  Put16(file, 1);
  Put16(file, 24);
  Put32(file, 0);   // no compression
  Put32(file, uint32_t(pixels.size()));
  Put32(file, 2835);  // 72 dpi
  Put32(file, 2835);
  Put32(file, 0);
  Put32(file, 0);
  file.insert(file.end(), pixels.begin(), pixels.end());

  for (int i = 1; i < argc; ++i) {
    std::FILE* out = std::fopen(argv[i], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
      std::fprintf(stderr, "make_background: cannot write %s\n", argv[i]);
      return 1;
    }
  }
  return argc > 1 ? 0 : 2;
}

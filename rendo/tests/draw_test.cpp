// Drawing primitives and image effects through the binary interface only: rendo/rendo.h
// and librendo.so, run once per kernel level (KORVEL_KERNEL_LEVEL).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "engine_fixture.h"

namespace {

// The engine's generator as documented: the C standard's example rand(), seed 1.
struct TRand15 {
  uint32_t State = 1;
  uint32_t Next() {
    State = State * 1103515245u + 12345u;
    return (State >> 16) & 0x7FFF;
  }
};

TRendoPen Pen(uint32_t color, int32_t mode, uint32_t alpha = 0) {
  const uint32_t d = 0xDEADBEEFu;  // the caller's words are never read
  return {{d, d, d, d}, color, mode, {d, d}, alpha};
}

using TDraw = TEngineTest;
using TPoints = std::set<std::pair<int, int>>;

TPoints Drawn(const std::vector<uint32_t>& t, int pitch, uint32_t background) {
  TPoints out;
  for (size_t i = 0; i < t.size(); ++i)
    if (t[i] != background) out.insert({int(i % pitch), int(i / pitch)});
  return out;
}

// Lines -----------------------------------------------------------------------------

// DrawLine walks from its first point, y the memory row at the stride; DrawLineBlend starts
// at the smaller end, its pixel index x + y * width whatever the stride, and at alpha 255
// draws the pen's colour. Nothing but the pen's colour is drawn.
TEST_F(TDraw, LinesWalkMemoryRowsWithBothEnds) {
  struct TCase {
    bool Blend;
    TRendoPoint From, To;
    uint32_t Pitch;
    TPoints Want;  // (x, y) in rows 6 pixels apart for DrawLine, 4 for DrawLineBlend
    uint32_t Fourth = 0;
  };
  const TPoints shallow = {{0, 0}, {1, 0}, {2, 0}, {3, 1}};
  const TCase cases[] = {
      {false, {0, 0}, {3, 1}, 6, shallow},
      {false, {0, 0}, {1, 3}, 6, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
      {false, {2, 2}, {2, 2}, 6, {{2, 2}}},
      {false, {3, 1}, {0, 1}, 6, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
      {false, {1, 3}, {1, 0}, 6, {{1, 0}, {1, 1}, {1, 2}, {1, 3}}},
      // Walked from its first point: the reverse of the first case is another set.
      {false, {3, 1}, {0, 0}, 6, {{3, 1}, {2, 1}, {1, 1}, {0, 0}}},
      {false, {0, 3}, {3, 0}, 6, {{0, 3}, {1, 2}, {2, 1}, {3, 0}}},
      {true, {0, 0}, {3, 1}, 4, shallow, 9},
      {true, {3, 1}, {0, 0}, 4, shallow, 9},  // the reverse covers the same pixels
      {true, {1, 3}, {0, 0}, 4, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},  // y-major, from the smaller y
      {true, {0, 0}, {3, 1}, 6, shallow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.Blend ? "blend " : "") << c.From.X << "," << c.From.Y
                                    << " -> " << c.To.X << "," << c.To.Y << " pitch " << c.Pitch);
    auto target = Target(4, 4, 0, c.Pitch);
    const TRendoPen pen = c.Blend ? Pen(Pixel(255, 255, 255, c.Fourth), 0, 255)
                                  : Pen(0x00ABCDEF, 7);  // DrawLine reads no mode
    (Engine->*(c.Blend ? &IPixelEngine::DrawLineBlend : &IPixelEngine::DrawLine))(&pen, &c.From,
                                                                                  &c.To);
    EXPECT_EQ(Drawn(target, c.Blend ? 4 : 6, 0), c.Want);
    for (uint32_t p : target) EXPECT_TRUE(p == 0 || p == pen.Color);
  }
}

TEST_F(TDraw, DrawLineBlendMovesTowardsThePen) {
  // out = clamp(m + 2 floor((p - m) k / 65536)), k = (255 - alpha) * 128; fourth byte m's.
  struct TCase {
    uint32_t P, M, Alpha, Want;
  };
  const TCase cases[] = {
      {Pixel(200, 0, 100, 77), Pixel(0, 200, 100, 5), 255, Pixel(0, 200, 100, 5)},
      // alpha 128: k = 16256; (200 * 16256) >> 16 = 49 -> 98; (-200 * 16256) >> 16 = -50 -> 100
      {Pixel(200, 0, 100, 77), Pixel(0, 200, 100, 5), 128, Pixel(98, 100, 100, 5)},
      // alpha 0: k = 32640; 255 - 255 would give -256 + 255 = -1, clamped to 0
      {Pixel(0, 255, 10, 0), Pixel(255, 0, 10, 1), 0, Pixel(0, 254, 10, 1)},
      // only the low byte of the pen's alpha word counts
      {Pixel(200, 0, 100, 77), Pixel(0, 200, 100, 5), 0x1280, Pixel(98, 100, 100, 5)},
  };
  for (const auto& c : cases) {
    auto target = Target(2, 1, c.P);
    const TRendoPen pen = Pen(c.M, 0, c.Alpha);
    const TRendoPoint a{0, 0};
    Engine->DrawLineBlend(&pen, &a, &a);
    EXPECT_EQ(target[0], c.Want) << std::hex << c.P << " " << c.M << " " << c.Alpha << " got " << target[0];
    EXPECT_EQ(target[1], c.P);
  }
}

// Spans, rectangles, pixels -----------------------------------------------------------

// Picture row y is memory row height - 1 - y. The vertical line's first pixel is found with
// rows of width pixels, each further one a stride higher; the horizontal line's row with
// rows of width pixels whatever the stride; FillRect's rows lie a stride apart. Each case
// draws on a fresh target and lists the buffer pixels that change (to Want, compared under
// Mask); every mode restores the target binding.
TEST_F(TDraw, LinesAndRectanglesLandOnTheirMemoryRows) {
  using TOp = void (IPixelEngine::*)(const TRendoPen*, const TRendoRect*);
  const TOp column = &IPixelEngine::DrawVerticalLine, row = &IPixelEngine::DrawHorizontalLine;
  const TOp fill = &IPixelEngine::FillRect;
  struct TCase {
    const char* Name;
    TOp Op;
    uint32_t Width, Height, Pitch, Fill;
    TRendoPen Pen;
    TRendoRect Rect;
    std::vector<uint32_t> Changed;
    uint32_t Want, Mask = 0xFFFFFFFFu;
  };
  const uint32_t grey = Pixel(100, 100, 100), green = Pixel(10, 240, 100, 1);
  const TRendoPen add = Pen(Pixel(200, 1, 0, 0), 1), magenta = Pen(0x00FF00FF, 0);
  const TRendoRect rect{1, 1, 3, 2};  // picture rows 1..2 = memory rows 2..3
  const std::vector<uint32_t> inRect = {13, 14, 15, 19, 20, 21};
  const TCase cases[] = {
      // column x = 1, picture rows 1..3: memory row 2 at pitch 4, then a stride up
      {"column add", column, 4, 6, 5, grey, add, {1, 1, 3, 3}, {9, 14, 19}, Pixel(255, 101, 100)},
      {"column set", column, 4, 6, 5, grey, Pen(0x00123456, 0), {0, 5, 0, 5}, {0}, 0x00123456},
      // Mode 3 blends each pixel (BlendPixel): alpha 0 leaves floor(p * 255 / 256).
      {"column blend", column, 4, 6, 5, grey, Pen(0x00FFFFFF, 3, 0), {3, 0, 3, 5},
       {3, 8, 13, 18, 23, 28}, Pixel(99, 99, 99)},
      {"column low", column, 4, 4, 6, 0, add, {1, 0, 1, 1}, {9, 15}, Pixel(200, 1, 0, 0)},
      {"fill empty", fill, 5, 5, 6, green, magenta, {2, 0, 1, 4}, {}, 0},
      {"fill upside down", fill, 5, 5, 6, green, magenta, {0, 3, 4, 2}, {}, 0},
      // the top-right pixel of the picture: the last memory row
      {"fill one pixel", fill, 5, 5, 6, green, magenta, {4, 0, 4, 0}, {28}, 0x00FF00FF},
      // Mode 1 adds 32 to every byte, saturating; mode 2 subtracts, mode 3 blends with the
      // pen's per-channel alpha; an unknown mode draws nothing.
      {"fill add", fill, 5, 5, 6, green, Pen(0x00202020, 1), rect, inRect, Pixel(42, 255, 132, 1)},
      {"fill subtract", fill, 5, 5, 6, green, Pen(0x00202020, 2), rect, inRect,
       Pixel(0, 208, 68, 1)},
      {"fill blend", fill, 5, 5, 6, green, Pen(0x00FFFFFF, 3, 0x00FFFFFF), rect, inRect,
       Pixel(254, 254, 254), 0x00FFFFFF},
      {"fill unknown mode", fill, 5, 5, 6, green, Pen(0x00FFFFFF, 9), rect, {}, 0},
      // picture row 0 = memory row 2, top ignored; right < left draws nothing
      {"row", row, 4, 3, 4, 0, Pen(0x00010203, 0), {1, 0, 2, 0}, {9, 10}, 0x00010203},
      {"row reversed", row, 4, 3, 4, 0, Pen(0x00010203, 0), {3, 0, 2, 1}, {}, 0},
      {"row padded", row, 4, 3, 6, 0, Pen(0x00010203, 0), {1, 0, 2, 0}, {9, 10}, 0x00010203},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto target = Target(c.Width, c.Height, c.Fill, c.Pitch);
    (Engine->*c.Op)(&c.Pen, &c.Rect);
    std::vector<uint32_t> want(target.size(), c.Fill);
    for (uint32_t i : c.Changed) {
      want[i] = c.Want;
      target[i] = (target[i] & c.Mask) | (c.Want & ~c.Mask);  // only the masked bytes count
    }
    EXPECT_EQ(target, want);
    uint32_t count = 0, rows = 0;
    Engine->GetSpan(&count, &rows, int32_t(c.Pitch * 4));
    EXPECT_EQ(std::pair(count, rows), c.Pitch == c.Width ? std::pair(c.Width * c.Height, 1u)
                                                         : std::pair(c.Width, c.Height));
  }
}

TEST_F(TDraw, PutPixelModesAndTheGate) {
  uint32_t p = Pixel(250, 10, 0, 200);
  Engine->PutPixel(&p, Pixel(10, 10, 10, 100), 1);
  EXPECT_EQ(p, Pixel(255, 20, 10, 255));
  Engine->PutPixel(&p, Pixel(10, 30, 10, 0), 2);
  EXPECT_EQ(p, Pixel(245, 0, 0, 255));
  Engine->PutPixel(&p, 0x01020304, 4);
  EXPECT_EQ(p, Pixel(245, 0, 0, 255));
  Cpu->SetMmxEnabled(0);
  Engine->PutPixel(&p, 0x00FFFFFF, 1);
  EXPECT_EQ(p, Pixel(245, 0, 0, 255));
  Engine->PutPixel(&p, 0x01020304, 0);  // storing needs no MMX
  EXPECT_EQ(p, 0x01020304u);
}

// Masks and text --------------------------------------------------------------------

TEST_F(TDraw, PutMaskBitsReadsBitsLowFirstAcrossWords) {
  const uint32_t bits[2] = {0x80000001u, 0x00000005u};  // bits 0, 31, 32, 34
  std::vector<uint32_t> row(8, 0x10);
  // Not gated: the MMX switch does not matter.
  Cpu->SetMmxEnabled(0);
  Engine->PutMaskBits(row.data(), bits, 29, 6, 0x01, 1);  // mask bits 29..34 -> pixels 0..5
  EXPECT_EQ(row, (std::vector<uint32_t>{0x10, 0x10, 0x11, 0x11, 0x10, 0x11, 0x10, 0x10}));
  Engine->PutMaskBits(row.data(), bits, 0, 8, 0x77, 0);
  EXPECT_EQ(row, (std::vector<uint32_t>{0x77, 0x10, 0x11, 0x11, 0x10, 0x11, 0x10, 0x10}));
  Engine->PutMaskBits(row.data(), bits, 0, 8, 0x77, 3);  // mode 3 is not a mask mode
  EXPECT_EQ(row[0], 0x77u);
}

TEST_F(TDraw, DrawMaskRowsGoUpAndAreCutAtTheTop) {
  // 3 x 3 mask, all set.
  const uint32_t bits[1] = {0x1FF};
  const TRendoSize size{3, 3};
  auto target = Target(4, 10, 0);
  const TRendoPoint top{1, 0};  // picture row 0 is the last memory row
  Engine->DrawMask(bits, &size, &top, 0x00FFFFFF, 0);
  EXPECT_EQ(Drawn(target, 4, 0), (TPoints{{1, 9}, {2, 9}, {3, 9}}));

  // At picture row 5: mask rows 0, 1, 2 on picture rows 5, 4, 3 (memory rows 4, 5, 6),
  // each row with its own bits.
  std::fill(target.begin(), target.end(), 0);
  const uint32_t diagonal[1] = {0b100'010'001};
  const TRendoPoint mid{0, 5};
  Engine->DrawMask(diagonal, &size, &mid, 7, 0);
  EXPECT_EQ(Drawn(target, 4, 0), (TPoints{{0, 4}, {1, 5}, {2, 6}}));
}

// A 2-row font with glyphs 'A' (width 2) and 'B' (width 3) side by side in one mask row
// of 8 bits: A is bits 0..1, B bits 2..4, the second glyph row starting at bit 8.
struct TTinyFont {
  uint32_t Bits[1] = {0b00000001'00011111u};  // row 0: A = 11, B = 111; row 1: A = 10, B = 000
  TRendoGlyph Glyphs[2] = {{0, 2}, {2, 3}};
  TRendoFont Font{Bits, 8, 2, Glyphs, "AB", 1};
};

TEST_F(TDraw, DrawTextSkipsMissingCharactersAndReturnsTheLength) {
  TTinyFont tiny;
  auto target = Target(12, 3, 0);
  const TRendoPoint pos{1, 2};  // picture row 2 = memory row 0; glyph row 1 on memory row 1
  EXPECT_EQ(Engine->DrawText(&tiny.Font, "AxB?A", &pos, 5, 0), 5);
  // A at x 1..2, B at 1 + 2 + 1 = 4..6, A at 4 + 3 + 1 = 8..9; x and ? take no room.
  EXPECT_EQ(Drawn(target, 12, 0), (TPoints{{1, 0}, {2, 0}, {4, 0}, {5, 0}, {6, 0}, {8, 0}, {9, 0}, {1, 1}, {8, 1}}));
  EXPECT_EQ(Engine->DrawText(&tiny.Font, "", &pos, 5, 0), 0);
  const TRendoPoint glyphPos{0, 0};  // picture row 0 = memory row 2; row 1 cut at the top
  std::fill(target.begin(), target.end(), 0);
  Engine->DrawGlyph(&tiny.Font, 1, &glyphPos, 9, 0);
  EXPECT_EQ(Drawn(target, 12, 0), (TPoints{{0, 2}, {1, 2}, {2, 2}}));
}

// Blur -------------------------------------------------------------------------------

TEST_F(TDraw, BlurWalksContinuouslyAndKeepsTheOuterRows) {
  const uint32_t w = 5, h = 4;
  const auto src = RandomImage(w * h, 3);
  std::vector<uint32_t> target(w * h, 0xCCCCCCCC);
  Engine->SetTarget(target.data(), 999, w, h);  // the stride is not used
  Engine->Blur(src.data());
  ExpectPixels(target, w, [&](uint32_t x, uint32_t y) {
    if (y == 0 || y == h - 1) return 0xCCCCCCCCu;
    const uint32_t k = y * w + x;
    uint32_t want = 0;
    for (int b = 0; b < 32; b += 8) {
      const uint32_t sum = (src[k - 1] >> b & 0xFF) + (src[k + 1] >> b & 0xFF) +
                           (src[k - w] >> b & 0xFF) + (src[k + w] >> b & 0xFF);
      want |= (sum / 4) << b;
    }
    return want;
  });
  // A uniform picture stays uniform; fewer than three rows and the MMX switch off do nothing.
  std::vector<uint32_t> uniform(w * h, 0x80FF7F01), out(w * h, 0);
  Bind(out, w, h);
  Engine->Blur(uniform.data());
  for (uint32_t k = w; k < w * (h - 1); ++k) EXPECT_EQ(out[k], 0x80FF7F01u);
  // In place: the blur of the picture as it was, whatever the kernel level.
  std::vector<uint32_t> picture = RandomImage(37 * 6, 5), copy = picture, want = picture;
  Bind(want, 37, 6);
  Engine->Blur(copy.data());
  Bind(picture, 37, 6);
  Engine->Blur(picture.data());
  EXPECT_EQ(picture, want);
  std::fill(out.begin(), out.end(), 0);
  Bind(out, w, 2);
  Engine->Blur(uniform.data());
  Bind(out, w, h);
  Cpu->SetMmxEnabled(0);
  Engine->Blur(uniform.data());
  EXPECT_EQ(out, std::vector<uint32_t>(w * h, 0));
}

// Noise and jitter --------------------------------------------------------------------

// The noise bands as documented, from a generator started at seed 1.
std::vector<uint32_t> ExpectedNoise(const std::vector<uint32_t>& src, uint32_t width, uint32_t height,
                                    uint32_t amount, bool add, TRand15& rng) {
  std::vector<uint32_t> out = src;
  const uint32_t rows = std::min(height, 4096u);
  std::vector<uint8_t> draws(3 * rows);
  for (auto& d : draws) d = uint8_t(rng.Next());
  uint8_t g = 0;
  const int threshold = 255 - int(amount);
  for (uint32_t k = 0; k < rows; ++k) {
    const uint8_t r[3] = {draws[3 * k], draws[3 * k + 2], draws[3 * k + 1]};
    g = uint8_t(g + r[0]);
    for (uint32_t j = 0; j < width / 2; ++j) {
      const int d = std::max(0, int(g) - threshold);
      for (uint32_t x = 2 * j; x < 2 * j + 2; ++x) {
        uint32_t& p = out[k * width + x];
        uint32_t q = p & 0xFF000000u;
        for (int b = 0; b < 24; b += 8) {
          const int c = int(p >> b & 0xFF);
          q |= uint32_t(add ? std::min(255, c + d) : std::max(0, c - d)) << b;
        }
        p = q;
      }
      g = uint8_t(g + r[j % 3]);
    }
  }
  return out;
}

// Each case on a fresh object, whose generator starts at seed 1 unless the variable sets
// it; in place the target is its own source. An odd last pixel of a row is not written; a
// second call (adding at 255) continues the sequence; no row after the 4096th changes.
TEST_F(TDraw, NoiseBandsFollowTheDrawsInOrder) {
  struct TCase {
    bool Add;
    uint32_t Width, Height, Amount, Fill, SrcSeed;
    bool InPlace = false;
    const char* Seed = nullptr;  // KORVEL_RENDO_RAND_SEED
  };
  std::vector<TCase> cases = {{true, 2, 4098, 255, 0, 0, true},
                              {false, 8, 3, 200, 0, 1, false, "12345"}};
  for (bool add : {true, false})
    for (uint32_t width : {7u, 33u, 64u}) cases.push_back({add, width, 9, 77, 0x5A5A5A5A, width});
  for (const auto& c : cases) {
    const uint32_t w = c.Width;
    SCOPED_TRACE(testing::Message() << (c.Add ? "AddNoise " : "SubtractNoise ") << w << "x"
                                    << c.Height << (c.InPlace ? " in place" : ""));
    if (c.Seed) ::setenv("KORVEL_RENDO_RAND_SEED", c.Seed, 1);
    Destroy();
    Create();
    ::unsetenv("KORVEL_RENDO_RAND_SEED");
    TRand15 rng;
    if (c.Seed) rng.State = uint32_t(std::atoi(c.Seed));
    auto target = Target(w, c.Height, c.Fill);
    const auto src = RandomImage(w * c.Height, c.SrcSeed);
    for (int call = 0; call < 2; ++call) {
      const bool add = call == 1 || c.Add;
      const uint32_t amount = call == 1 ? 255 : c.Amount;
      const std::vector<uint32_t>& in = c.InPlace ? target : src;
      auto want = ExpectedNoise(in, w, c.Height, amount, add, rng);
      for (uint32_t k = 0; k < c.Height && w % 2; ++k) want[k * w + w - 1] = target[k * w + w - 1];
      (Engine->*(add ? &IPixelEngine::AddNoise : &IPixelEngine::SubtractNoise))(
          in.data(), int32_t(w * 4), amount);
      ASSERT_EQ(target, want) << "call " << call;
    }
  }
}

TEST_F(TDraw, NoiseAmountZeroDoesNothingAndAmount255AddsTheAccumulator) {
  auto target = Target(4, 2, 0x11223344);
  const auto before = target;
  Engine->AddNoise(target.data(), 16, 0);
  Engine->SubtractNoise(target.data(), 16, 0);
  EXPECT_EQ(target, before);
  // Nothing was drawn: amount 255 now sees the sequence from its start. Threshold 0:
  // every colour byte of a black picture becomes the accumulator itself.
  auto black = Target(4, 2, 0xAB000000);
  Engine->AddNoise(black.data(), 16, 255);
  TRand15 rng;
  uint8_t d[6];
  for (auto& v : d) v = uint8_t(rng.Next());
  const uint8_t g0 = d[0], g1 = uint8_t(g0 + d[0]);   // row 0 pairs 0 and 1
  const uint8_t g2 = uint8_t(g1 + d[2] + d[3]);      // row 1 starts with its own r0 = d[3]
  const uint8_t g3 = uint8_t(g2 + d[3]);
  auto grey = [](uint8_t v) { return 0xAB000000u | v * 0x010101u; };
  EXPECT_EQ(black, (std::vector<uint32_t>{grey(g0), grey(g0), grey(g1), grey(g1), grey(g2), grey(g2), grey(g3),
                                          grey(g3)}));
}

// With the MMX switch off the gated effects neither draw nor consume random numbers; the
// ungated ones still work.
TEST_F(TDraw, GatedEffectsWaitForTheMmxSwitch) {
  const auto src = RandomImage(4 * 4, 6);
  auto target = Target(4, 4, 0x33333333);
  const auto before = target;
  Cpu->SetMmxEnabled(0);
  Engine->AddNoise(src.data(), 16, 200);
  Engine->SubtractNoise(src.data(), 16, 200);
  Engine->Jitter(src.data(), 16, 2);
  Engine->CopyEllipse(src.data(), src.data(), 16, 16, 3, 3, 1, 0);
  Engine->CopyEllipse(src.data(), src.data(), 16, 16, 0, 0, 1, 0);
  EXPECT_EQ(target, before);
  Engine->Mosaic(src.data(), 16, 1);
  EXPECT_EQ(target, src);
  Cpu->SetMmxEnabled(1);
  Engine->AddNoise(src.data(), 16, 200);
  TRand15 rng;
  EXPECT_EQ(target, ExpectedNoise(src, 4, 4, 200, true, rng));
}

// Row k shifts by draw % (2 amount) - amount, the last draw going to the first row; the
// pixels shifted in are 0. Amount 1 shifts by -1 or 0 only, and both must occur.
TEST_F(TDraw, JitterShiftsRowsWithTheLastDrawFirst) {
  struct TCase {
    uint32_t Width, Height, Amount, Seed;
    bool InPlace;
  };
  for (const TCase c : {TCase{6, 40, 1, 8, false}, {9, 30, 4, 21, true}}) {
    Destroy();
    Create();  // a fresh object's generator starts at seed 1
    const uint32_t w = c.Width, h = c.Height;
    const auto src = RandomImage(w * h, c.Seed);
    std::vector<uint32_t> target = c.InPlace ? src : std::vector<uint32_t>(w * h, 0xEEEEEEEE);
    Bind(target, w, h);
    Engine->Jitter(c.InPlace ? target.data() : src.data(), int32_t(w * 4), c.Amount);
    TRand15 rng;
    std::vector<int> shifts(h);
    for (auto& s : shifts) s = int(rng.Next() % (2 * c.Amount)) - int(c.Amount);
    std::set<int> seen;
    SCOPED_TRACE(testing::Message() << "amount " << c.Amount);
    ExpectPixels(target, w, [&](uint32_t x, uint32_t row) {
      const int s = shifts[h - 1 - row], from = int(x) - s;
      seen.insert(s);
      return from >= 0 && from < int(w) ? src[row * w + from] : 0u;
    });
    if (c.Amount == 1) {
      EXPECT_EQ(seen, (std::set<int>{-1, 0}));
    }
  }
}

// An amount above the width breaks the caller's guarantee: debug builds stop on it; a
// release build shifts the rows out entirely but writes nothing beyond them.
TEST_F(TDraw, JitterAboveTheWidthIsCaughtInDebugAndStaysInsideTheRows) {
  const uint32_t w = 3, h = 8, pitch = 5;
  const auto src = RandomImage(pitch * h, 4);
  auto target = Target(w, h, 0x77777777, pitch);
  EXPECT_DEBUG_DEATH(Engine->Jitter(src.data(), int32_t(pitch * 4), 50), "");
#if defined(NDEBUG)
  for (uint32_t row = 0; row < h; ++row)
    for (uint32_t x = w; x < pitch; ++x) EXPECT_EQ(target[row * pitch + x], 0x77777777u) << x << "," << row;
#endif
}

// Ellipse, mosaic, emboss, sepia ----------------------------------------------------------

TEST_F(TDraw, CopyEllipseRowCounts) {
  // 8 x 5 target, ellipse 6 x 4 centred at (4, 2.5): per row d = 2.5 - i,
  // q = (1 - d^2 / 4) * 9: row 0 outside (q < 0); rows 1 and 4 q = 3.9375, m = 1.98,
  // inside 2..5; rows 2 and 3 q = 8.4375, m = 2.90, inside 1..6.
  const uint32_t w = 8, h = 5;
  auto inside = [](uint32_t x, uint32_t row) {
    if (row == 0) return false;
    return row == 1 || row == 4 ? x >= 2 && x <= 5 : x >= 1 && x <= 6;
  };
  const std::vector<uint32_t> outer(w * h, 0x0000AA00), inner(w * h, 0x000000BB);
  // copyOuter's low byte 0: only the inside changes.
  for (auto [copyOuter, outside] : {std::pair{0x100 | 1, 0x0000AA00u}, {0x100, 0x11111111u}}) {
    auto target = Target(w, h, 0x11111111);
    Engine->CopyEllipse(outer.data(), inner.data(), int32_t(w * 4), int32_t(w * 4), 6, 4, copyOuter, 0);
    SCOPED_TRACE(copyOuter);
    ExpectPixels(target, w, [&](auto x, auto y) { return inside(x, y) ? 0xBBu : outside; });
  }
}

TEST_F(TDraw, CopyEllipseLargerThanTheTargetOrEmpty) {
  const uint32_t w = 7, h = 6, pitch = 9;
  const auto outer = RandomImage(pitch * h, 1), inner = RandomImage(pitch * h, 2);
  auto target = Target(w, h, 0x11111111, pitch);
  auto innerOnly = [&](auto x, auto y) { return x < w ? inner[y * pitch + x] : 0x11111111u; };
  Engine->CopyEllipse(outer.data(), inner.data(), int32_t(pitch * 4), int32_t(pitch * 4), 1000, 1000, 1, 0);
  ExpectPixels(target, pitch, innerOnly);
  // A zero diameter copies innerSrc whole when copyOuter is set, nothing otherwise.
  std::fill(target.begin(), target.end(), 0x11111111);
  const auto untouched = target;
  Engine->CopyEllipse(outer.data(), inner.data(), int32_t(pitch * 4), int32_t(pitch * 4), 0, 5, 0, 0);
  EXPECT_EQ(target, untouched);
  Engine->CopyEllipse(outer.data(), inner.data(), int32_t(pitch * 4), int32_t(pitch * 4), 5, -1, 1, 0);
  ExpectPixels(target, pitch, innerOnly);
}

TEST_F(TDraw, MosaicBlocks) {
  const uint32_t w = 7, h = 5, pitch = 8;
  const auto src = RandomImage(pitch * h, 5);
  auto target = Target(w, h, 0, pitch);
  Engine->Mosaic(src.data(), int32_t(pitch * 4), 1);
  ExpectPixels(target, pitch, [&](auto x, auto y) { return x < w ? src[y * pitch + x] : 0; });
  // block = width: each band of `width` rows takes its first pixel's colour.
  Engine->Mosaic(src.data(), int32_t(pitch * 4), int32_t(w));
  ExpectPixels(target, pitch, [&](uint32_t x, uint32_t) { return x < w ? src[0] : 0; });
  // block 3 in place: cells cut at the right and at the last rows.
  auto inPlace = src;
  Bind(inPlace, w, h, pitch);
  Engine->Mosaic(inPlace.data(), int32_t(pitch * 4), 3);
  ExpectPixels(inPlace, pitch, [&](uint32_t x, uint32_t row) {
    return src[x < w ? row / 3 * 3 * pitch + x / 3 * 3 : row * pitch + x];
  });
  const auto before = inPlace;
  Engine->Mosaic(src.data(), int32_t(pitch * 4), 0);
  EXPECT_EQ(inPlace, before);
}

TEST_F(TDraw, SepiaAndEmbossWorkedPixels) {
  std::vector<uint32_t> target = {Pixel(10, 20, 200, 9), Pixel(255, 3, 4, 255), 0};
  Bind(target, 3, 1);
  Engine->Sepia(target.data(), 12);
  EXPECT_EQ(target, (std::vector<uint32_t>{Pixel(120, 170, 200, 0), Pixel(153, 216, 255, 0), 0}));

  // A uniform row: 128 grey inside, 0x00808080 at both ends.
  auto row = Target(6, 1, Pixel(90, 40, 12, 200));
  Engine->Emboss(row.data(), 24);
  EXPECT_EQ(row, std::vector<uint32_t>(6, 0x00808080u));
  // v = floor((M[x-1] - M[x+1]) / 2) + 128, rounding towards minus infinity; in place.
  std::vector<uint32_t> relief = {Pixel(0, 0, 0), Pixel(0, 9, 0), Pixel(0, 0, 5), Pixel(200, 0, 0), 0};
  Bind(relief, 5, 1);
  Engine->Emboss(relief.data(), 20);
  auto grey = [](uint32_t v) { return v * 0x010101u; };
  EXPECT_EQ(relief, (std::vector<uint32_t>{0x00808080u, grey(125), grey(32), grey(130), 0x00808080u}));
}

}  // namespace

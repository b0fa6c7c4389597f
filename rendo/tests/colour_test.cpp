// The colour arithmetic, copy, stretch and lookup operations through the binary interface
// only (rendo/rendo.h and librendo.so). Expected pixels come from the worked examples or
// from the per-pixel reference formulas applied with the frame written out here (runs,
// pairs, strides), so a frame slip in the engine shows even where the kernels agree.
// Run once per kernel level (KORVEL_KERNEL_LEVEL).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "kernels_colour_ref.h"
#include "engine_fixture.h"

namespace {

using namespace rendo_ref;
using TColour = TEngineTest;

// A target of width x height pixels, rows `stride` pixels apart, starting `offset` pixels
// into its buffer (unaligned starts), with guard pixels after it.
struct TSurface {
  TSurface(uint32_t width, uint32_t height, uint32_t stride, uint32_t offset, uint32_t seed)
      : Width(width), Height(height), Stride(stride), Offset(offset), Buffer(RandomImage(offset + stride * height + 8, seed)) {}
  uint32_t* At(uint32_t x, uint32_t y) { return Buffer.data() + Offset + y * Stride + x; }
  void Bind(IPixelEngine* e) { e->SetTarget(At(0, 0), int32_t(Stride * 4), Width, Height); }
  uint32_t Width, Height, Stride, Offset;
  std::vector<uint32_t> Buffer;
};

// The row frame written out: the runs GetSpan gives (both layouts packed and more than one
// row: one run of width x height), each run's first n pixels (n rounded down to pairs when
// pairsOnly) become f(target pixel, source pixel).
void ExpectRows(TSurface& before, TSurface& after, const uint32_t* src, uint32_t srcStride, bool pairsOnly,
                const std::function<uint32_t(uint32_t, uint32_t)>& f, const char* what) {
  uint32_t count = before.Width, rows = before.Height;
  if (before.Height > 1 && srcStride == before.Width && before.Stride == before.Width) {
    count *= before.Height;
    rows = 1;
  }
  const uint32_t n = pairsOnly ? count & ~1u : count;
  std::vector<uint32_t> want = before.Buffer;
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t& t = want[before.Offset + r * before.Stride + i];
      t = f(t, src[size_t(r) * srcStride + i]);
    }
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(want[i], after.Buffer[i]) << what << ": buffer pixel " << i << " (target starts at " << before.Offset
                                        << ", stride " << before.Stride << ")";
}

struct TRowOp {
  const char* Name;
  bool PairsOnly;
  std::function<void(IPixelEngine*, const void*, int32_t)> Call;
  std::function<uint32_t(uint32_t t, uint32_t s)> Pixel;
};

std::vector<TRowOp> RowOps(const std::vector<uint32_t>& palette) {
  return {
      {"FadeToBlack", true, [](IPixelEngine* e, const void* s, int32_t st) { e->FadeToBlack(s, st, 0x40C08011u); },
       [](uint32_t, uint32_t s) { return ScalePixel(s, 0x40C08011u); }},
      {"FadeToWhite", true, [](IPixelEngine* e, const void* s, int32_t st) { e->FadeToWhite(s, st, 0x00A03C7Fu); },
       [](uint32_t, uint32_t s) { return AddPixel(ScalePixel(s, 0x00A03C7Fu), 0xFF5FC380u); }},
      {"AddColor", false, [](IPixelEngine* e, const void* s, int32_t st) { e->AddColor(s, st, 0x10F00380u); },
       [](uint32_t, uint32_t s) { return AddPixel(s, 0x10F00380u); }},
      {"SubtractColor", false, [](IPixelEngine* e, const void* s, int32_t st) { e->SubtractColor(s, st, 0x10F00380u); },
       [](uint32_t, uint32_t s) { return SubtractPixel(s, 0x10F00380u); }},
      {"BlendColor", false,
       [](IPixelEngine* e, const void* s, int32_t st) { e->BlendColor(s, st, 0xFF20C0E0u, 0x00FF4000u); },
       [](uint32_t, uint32_t s) { return BlendPixelValue(s, 0xFF20C0E0u, 0x00FF4000u); }},
      {"ScaleChannels", true, [](IPixelEngine* e, const void* s, int32_t st) { e->ScaleChannels(s, st, 300, 128, 2047); },
       [](uint32_t, uint32_t s) {
         uint32_t out;
         ScaleChannels_Ref(&out, &s, 1, ChannelGains(300, 128, 2047));
         return out;
       }},
      {"Invert", false, [](IPixelEngine* e, const void* s, int32_t st) { e->Invert(s, st); },
       [](uint32_t, uint32_t s) { return ~s; }},
      {"Copy", false, [](IPixelEngine* e, const void* s, int32_t st) { e->Copy(s, st); },
       [](uint32_t, uint32_t s) { return s; }},
      {"MapPalette", false, [&palette](IPixelEngine* e, const void* s, int32_t st) { e->MapPalette(s, st, palette.data()); },
       [&palette](uint32_t, uint32_t s) { return palette[s & 0xFF]; }},
  };
}

// Worked pixels ------------------------------------------------------------------------

TEST_F(TColour, WorkedPixelsOfTheArithmetic) {
  auto t = Target(2, 1, 0);
  auto run = [&](uint32_t in, const std::function<void(const uint32_t*)>& op) {
    const std::vector<uint32_t> src = {in, in};
    t = {0x5A5A5A5A, 0x5A5A5A5A};
    op(src.data());
    EXPECT_EQ(t[1], t[0]);
    return t[0];
  };
  EXPECT_EQ(run(Pixel(200, 100, 50, 7), [&](auto s) { Engine->FadeToBlack(s, 8, 0x00808080); }), Pixel(100, 50, 25, 0));
  EXPECT_EQ(run(Pixel(200, 100, 50, 7), [&](auto s) { Engine->FadeToBlack(s, 8, 0); }), 0u);
  EXPECT_EQ(run(Pixel(200, 100, 50, 0), [&](auto s) { Engine->FadeToWhite(s, 8, 0x00808080); }),
            Pixel(227, 177, 152, 255));
  EXPECT_EQ(run(Pixel(200, 100, 50, 9), [&](auto s) { Engine->FadeToWhite(s, 8, 0); }), 0x00FFFFFFu);
  EXPECT_EQ(run(Pixel(250, 10, 0, 0), [&](auto s) { Engine->AddColor(s, 8, 0x00101010); }), Pixel(255, 26, 16, 0));
  EXPECT_EQ(run(Pixel(250, 10, 0, 3), [&](auto s) { Engine->SubtractColor(s, 8, 0x00101010); }), Pixel(234, 0, 0, 3));
  EXPECT_EQ(run(Pixel(200, 100, 50, 99), [&](auto s) { Engine->ScaleChannels(s, 8, 256, 256, 256); }),
            Pixel(200, 100, 50, 0));
  EXPECT_EQ(run(Pixel(200, 100, 200, 99), [&](auto s) { Engine->ScaleChannels(s, 8, 512, 0, 0); }), Pixel(0, 0, 255, 0));
  EXPECT_EQ(run(Pixel(200, 100, 200, 99), [&](auto s) { Engine->ScaleChannels(s, 8, 0, 0, 0); }), 0u);
  // A gain of 2048 overflows the signed 16-bit lane: that channel comes out 0.
  EXPECT_EQ(run(Pixel(200, 100, 200, 99), [&](auto s) { Engine->ScaleChannels(s, 8, 2048, 2047, 128); }),
            Pixel(100, 255, 0, 0));
  EXPECT_EQ(run(Pixel(100, 0, 255, 40), [&](auto s) { Engine->BlendColor(s, 8, Pixel(0, 200, 255, 0), 0x00FFFFFF); }),
            Pixel(0, 199, 254, 0));  // source weight 0 in every lane: only the colour term stays

  // CrossFade at 0x00FFFFFF: floor(a * 255 / 256) in the colour lanes, the fourth lane B's.
  const std::vector<uint32_t> b = {Pixel(9, 9, 9, 255), Pixel(9, 9, 9, 255)};
  EXPECT_EQ(run(Pixel(255, 128, 1, 200),
                [&](auto a) { Engine->CrossFade(a, 8, b.data(), 8, 0x00FFFFFF); }),
            Pixel(254, 127, 0, 254));

  // BlendPixel: alpha 0 leaves floor(p * 255 / 256) per colour lane, full alpha the colour's.
  uint32_t p = Pixel(255, 128, 1, 77);
  Engine->BlendPixel(&p, Pixel(10, 20, 30, 40), 0);
  EXPECT_EQ(p, Pixel(254, 127, 0, 0));
  p = Pixel(255, 128, 1, 77);
  Engine->BlendPixel(&p, Pixel(255, 128, 2, 40), 0x00FFFFFF);
  EXPECT_EQ(p, Pixel(254, 127, 1, 0));

  // Invert twice restores the source, all four bytes.
  const auto original = RandomImage(7 * 3, 5);
  std::vector<uint32_t> img = original;
  Engine->SetTarget(img.data(), 28, 7, 3);
  Engine->Invert(img.data(), 28);
  EXPECT_EQ(img[4], ~original[4]);
  Engine->Invert(img.data(), 28);
  EXPECT_EQ(img, original);
}

// Frames -------------------------------------------------------------------------------

// Every row operation on odd widths, padded strides, unaligned starts, packed layouts
// (one merged run) and in place.
TEST_F(TColour, RowOperationsFollowTheirFrame) {
  const auto palette = RandomImage(256, 77);
  struct TLayout {
    uint32_t Width, Height, Stride, SrcStride, Offset;
  };
  const TLayout layouts[] = {{37, 5, 41, 43, 1}, {37, 5, 37, 37, 3}, {36, 4, 36, 36, 0}, {1, 3, 1, 1, 0},
                             {37, 1, 37, 37, 2}, {2, 7, 5, 2, 1},    {64, 3, 64, 70, 0}, {0, 4, 4, 4, 0},
                             {5, 0, 5, 5, 0}};
  uint32_t seed = 100;
  for (const auto& op : RowOps(palette))
    for (const auto& l : layouts) {
      SCOPED_TRACE(testing::Message() << op.Name << " " << l.Width << "x" << l.Height << " stride " << l.Stride
                                      << " src stride " << l.SrcStride << " offset " << l.Offset);
      const auto src = RandomImage(size_t(l.SrcStride) * l.Height + 8, seed++);
      TSurface before(l.Width, l.Height, l.Stride, l.Offset, seed++), after = before;
      after.Bind(Engine);
      op.Call(Engine, src.data() + 1, int32_t(l.SrcStride * 4));
      ExpectRows(before, after, src.data() + 1, l.SrcStride, op.PairsOnly, op.Pixel, "from another source");
      if (HasFatalFailure()) return;

      // In place: the target is its own source.
      TSurface inPlace = before;
      inPlace.Bind(Engine);
      op.Call(Engine, inPlace.At(0, 0), int32_t(l.Stride * 4));
      std::vector<uint32_t> self(before.Buffer.begin() + before.Offset, before.Buffer.end());
      ExpectRows(before, inPlace, self.data(), l.Stride, op.PairsOnly, op.Pixel, "in place");
      if (HasFatalFailure()) return;
    }
}

// AddScaled and MixTwo walk the target's own rows (no merging): on a packed target of odd
// width AddScaled leaves the last pixel of every row, MixTwo does every pixel.
TEST_F(TColour, AddScaledAndMixTwoWalkTheTargetsRows) {
  for (uint32_t offset : {0u, 1u})
    for (uint32_t stride : {7u, 9u}) {
      const auto a = RandomImage(7 * 11 + 8, 1), b = RandomImage(13 * 5 + 8, 2);
      TSurface before(7, 5, stride, offset, 3), after = before;
      auto expectEach = [&](const char* op, const std::function<uint32_t(uint32_t, uint32_t)>& want) {
        for (uint32_t y = 0; y < 5; ++y)
          for (uint32_t x = 0; x < 7; ++x)
            ASSERT_EQ(*after.At(x, y), want(x, y)) << op << " " << x << "," << y << " stride " << stride;
      };
      after.Bind(Engine);
      Engine->AddScaled(a.data() + 1, 11 * 4, 0x80FF4001u);
      expectEach("AddScaled", [&](uint32_t x, uint32_t y) {
        const uint32_t t = *before.At(x, y);
        return x < 6 ? AddPixel(t, ScalePixel(a[1 + y * 11 + x], 0x80FF4001u)) : t;
      });

      (after = before).Bind(Engine);
      Engine->MixTwo(a.data(), 11 * 4, b.data() + 2, 13 * 4, 0x7F00FF80u, 0x80FF0080u);
      expectEach("MixTwo", [&](uint32_t x, uint32_t y) {
        return AddPixel(ScalePixel(a[y * 11 + x], 0x7F00FF80u), ScalePixel(b[2 + y * 13 + x], 0x80FF0080u));
      });

      // In place: A is the target itself.
      (after = before).Bind(Engine);
      Engine->CrossFade(after.At(0, 0), int32_t(stride * 4), b.data(), 13 * 4, 0x11223344u);
      expectEach("CrossFade", [&](uint32_t x, uint32_t y) {
        return AddPixel(ScalePixel(*before.At(x, y), 0x11223344u), ScalePixel(b[y * 13 + x], 0xEEDDCCBBu));
      });
    }
}

// FadeToBlack, MixTwo and TileBlend have an SSE variant that only groups the pixels
// differently: the switch must not change a result (unlike the stretch blends).
TEST_F(TColour, SseSwitchChangesNoResultOfTheAgreeingVariants) {
  const auto a = RandomImage(31 * 6, 21), b = RandomImage(31 * 6, 22), under = RandomImage(31 * 6, 23);
  auto draw = [&](int sse) {
    Cpu->SetSseEnabled(sse);
    std::vector<uint32_t> out, t(31 * 6);
    Engine->SetTarget(t.data(), 31 * 4, 31, 6);
    Engine->FadeToBlack(a.data(), 31 * 4, 0x00C08040);
    out.insert(out.end(), t.begin(), t.end());
    Engine->MixTwo(a.data(), 31 * 4, b.data(), 31 * 4, 0x00C08040, 0x003F7FBF);
    out.insert(out.end(), t.begin(), t.end());
    Engine->TileBlend(a.data(), 31 * 4, 31, 6, 5 << 16, 0, 70000, 65536, under.data(), 31 * 4, 0x00C08040);
    out.insert(out.end(), t.begin(), t.end());
    return out;
  };
  EXPECT_EQ(draw(0), draw(1));
}

TEST_F(TColour, FillWritesTheWholeWordIntoTheTargetOnly) {
  // A padded target, then packed ones: one run of n x 3, every pixel.
  const std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t> cases[] = {
      {5, 8, 1, 0xAB123456u, 4}, {1, 1, 2, 7, 5}, {3, 3, 2, 7, 5},
      {4, 4, 2, 7, 5},           {7, 7, 2, 7, 5}, {33, 33, 2, 7, 5}};
  for (const auto& [n, stride, offset, colour, seed] : cases) {
    TSurface surface(n, 3, stride, offset, seed);
    const TSurface before = surface;
    surface.Bind(Engine);
    Engine->Fill(colour);
    for (uint32_t i = 0; i < surface.Buffer.size(); ++i) {
      const bool inside = i >= offset && (i - offset) / stride < 3 && (i - offset) % stride < n;
      ASSERT_EQ(surface.Buffer[i], inside ? colour : before.Buffer[i]) << n << " " << i;
    }
  }
}

// The calls that pass on to other operations go through the object's own table: a caller
// that replaces a slot sees its replacement used.
namespace patched {
int FillCalls = 0, MixCalls = 0;
uint32_t FillColor = 0, MixA = 0, MixB = 0;
void Fill(void*, uint32_t color) {
  ++FillCalls;
  FillColor = color;
}
void MixTwo(void*, const void*, int32_t, const void*, int32_t, uint32_t wA, uint32_t wB) {
  ++MixCalls;
  MixA = wA;
  MixB = wB;
}
}  // namespace patched

TEST_F(TColour, PassOnCallsGoThroughTheObjectsTable) {
  // A copy of the main table (with the two words before it: offset to top and type
  // information) in which slots 22 (Fill) and 15 (MixTwo) are ours.
  void** object = reinterpret_cast<void**>(Engine);
  void** const original = static_cast<void**>(object[0]);
  std::vector<void*> table(original - 2, original + RENDO_PIXEL_ENGINE_SLOTS);
  table[2 + 22] = reinterpret_cast<void*>(&patched::Fill);
  table[2 + 15] = reinterpret_cast<void*>(&patched::MixTwo);
  object[0] = table.data() + 2;

  std::vector<uint32_t> t(4, 0x01020304), s(4, 0x80808080);
  Engine->SetTarget(t.data(), 16, 4, 1);
  Engine->FadeToBlack(s.data(), 16, 0);
  Engine->FadeToWhite(s.data(), 16, 0);
  EXPECT_EQ(patched::FillColor, 0x00FFFFFFu);
  Engine->ScaleChannels(s.data(), 16, 0, 0, 0);
  EXPECT_EQ(patched::FillCalls, 3);
  EXPECT_EQ(patched::FillColor, 0u);
  Engine->CrossFade(s.data(), 16, s.data(), 16, 0x00FF0080u);
  EXPECT_EQ(patched::MixCalls, 1);
  EXPECT_EQ(std::pair(patched::MixA, patched::MixB), std::pair(0x00FF0080u, 0xFF00FF7Fu));
  EXPECT_EQ(t, std::vector<uint32_t>(4, 0x01020304));  // only the replacements ran

  object[0] = original;
}

TEST_F(TColour, MmxGateStopsTheGatedOperationsOnly) {
  const auto src = RandomImage(64, 8);
  const auto palette = RandomImage(256, 9);
  std::vector<uint32_t> t = RandomImage(64, 10);
  const auto before = t;
  Engine->SetTarget(t.data(), 32, 8, 8);
  Cpu->SetMmxEnabled(0x100);  // low byte 0: off
  // Every row operation but the palette lookup, and those passing on to Fill (weight 0).
  for (const auto& op : RowOps(palette))
    if (std::string_view(op.Name) != "MapPalette") op.Call(Engine, src.data(), 32);
  Engine->FadeToBlack(src.data(), 32, 0);
  Engine->FadeToWhite(src.data(), 32, 0);
  Engine->AddScaled(src.data(), 32, 0x00808080);
  Engine->CrossFade(src.data(), 32, src.data(), 32, 0x00808080);
  Engine->MixTwo(src.data(), 32, src.data(), 32, 0x00808080, 0x00808080);
  Engine->Fill(0);
  Engine->ScaleChannels(src.data(), 32, 0, 0, 0);
  uint32_t p = 0x12345678;
  Engine->BlendPixel(&p, 0, 0x00808080);
  EXPECT_EQ(t, before);
  EXPECT_EQ(p, 0x12345678u);

  // Not gated: the lookups, stretches and the packing still draw.
  Engine->MapPalette(src.data(), 32, palette.data());
  EXPECT_EQ(t[63], palette[src[63] & 0xFF]);
  Engine->StretchRow(src.data(), 3, 3);
  EXPECT_EQ(t[2], src[2]);
  Engine->Stretch(src.data(), 2, 2, 2, 2);
  EXPECT_EQ(t[8], src[2]);
  Engine->TileBlend(src.data(), 32, 8, 8, 0, 0, 65536, 65536, nullptr, 0, 0);
  EXPECT_EQ(t, src);

  Cpu->SetMmxEnabled(1);
  Engine->Fill(0);
  EXPECT_EQ(t, std::vector<uint32_t>(64, 0));
}

// Copies, lookups and packing ----------------------------------------------------------

TEST_F(TColour, MapPaletteUsesOnlyTheLowByte) {
  std::vector<uint32_t> palette(256);
  for (uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x01010101u ^ 0x00FF0000u;
  const std::vector<uint32_t> src = {0x00000000, 0xFFFFFF00, 0x12345601, 0xABCDEFFF, 0xFF0000FE};
  auto t = Target(5, 1, 0);
  Engine->MapPalette(src.data(), 20, palette.data());
  EXPECT_EQ(t, (std::vector<uint32_t>{palette[0], palette[0], palette[1], palette[255], palette[254]}));
}

TEST_F(TColour, GatherOffsetsRunsOnAcrossRowsAndKeepsThePadding) {
  std::vector<uint8_t> base(64);
  for (size_t i = 0; i < base.size(); ++i) base[i] = uint8_t(i);
  const std::vector<int32_t> offsets = {0, 1, 7, -4, 56, 32};  // 3 x 2, unaligned and negative ones
  auto t = Target(3, 2, 0xEEEEEEEE, 5);
  Engine->GatherOffsets(base.data() + 4, offsets.data());
  auto word = [&](int at) {
    uint32_t w;
    std::memcpy(&w, base.data() + at, 4);
    return w;
  };
  EXPECT_EQ(t, (std::vector<uint32_t>{word(4), word(5), word(11), 0xEEEEEEEE, 0xEEEEEEEE, word(0), word(60),
                                      word(36), 0xEEEEEEEE, 0xEEEEEEEE}));
}

TEST_F(TColour, PackTo24MergesTheFourthBytesIntoTheNextBlue) {
  const std::vector<uint32_t> four = {Pixel(1, 2, 3), Pixel(4, 5, 6), Pixel(7, 8, 9), Pixel(10, 11, 12)};
  std::vector<uint8_t> out(16, 0xEE);
  Engine->SetTarget(out.data(), 4, 4, 1);
  Engine->PackTo24(four.data(), 0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i], i + 1);
  EXPECT_EQ(out[12], 0xEE);

  // Fourth bytes 0x10, 0x20, 0x30, 0x40: ORed into blue of pixels 2, 3, 4; the last dropped.
  const std::vector<uint32_t> marked = {Pixel(1, 2, 3, 0x10), Pixel(4, 5, 6, 0x20), Pixel(7, 8, 9, 0x30),
                                        Pixel(10, 11, 12, 0x40)};
  Engine->PackTo24(marked.data(), 0);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 12),
            (std::vector<uint8_t>{1, 2, 3, 4 | 0x10, 5, 6, 7 | 0x20, 8, 9, 10 | 0x30, 11, 12}));

  // Width 5 x 2 rows: one group per row, source and target advancing continuously (the
  // fifth pixel of each row is skipped in neither: the second group is pixels 4..7).
  std::vector<uint32_t> ten;
  for (uint32_t i = 0; i < 10; ++i) ten.push_back(Pixel(3 * i, 3 * i + 1, 3 * i + 2));
  std::vector<uint8_t> packed(40, 0xEE);
  Engine->SetTarget(packed.data(), 1000, 5, 2);
  Engine->PackTo24(ten.data(), 0);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(packed[i], i) << i;
  EXPECT_EQ(packed[24], 0xEE);

  std::vector<uint8_t> none(16, 0xEE);
  Engine->SetTarget(none.data(), 12, 3, 4);  // width below 4: nothing
  Engine->PackTo24(ten.data(), 0);
  EXPECT_EQ(none, std::vector<uint8_t>(16, 0xEE));
}

// Stretching -----------------------------------------------------------------------------

TEST_F(TColour, StretchRowAndStretchWorkedExamples) {
  const std::vector<uint32_t> src = {11, 22, 33, 44};
  std::vector<uint32_t> t(6, 0);
  Engine->SetTarget(t.data(), 4, 1, 1);  // the row is written whatever the target's width
  Engine->StretchRow(src.data(), 4, 2);
  EXPECT_EQ(t, (std::vector<uint32_t>{11, 11, 22, 22, 0, 0}));
  Engine->StretchRow(src.data(), 2, 4);
  EXPECT_EQ(t, (std::vector<uint32_t>{11, 33, 22, 22, 0, 0}));
  for (auto [count, srcCount] : {std::pair{0, 4}, {-3, 4}, {4, 0}, {4, -2}}) {
    Engine->StretchRow(src.data(), count, srcCount);
    EXPECT_EQ(t, (std::vector<uint32_t>{11, 33, 22, 22, 0, 0})) << count << " " << srcCount;
  }

  // 2 x 2 to 4 x 4 in a target with rows 5 pixels apart: 2 x 2 blocks, padding kept.
  const std::vector<uint32_t> two = {1, 2, 3, 4};
  auto big = Target(4, 4, 9, 5);
  Engine->Stretch(two.data(), 4, 2, 4, 2);
  EXPECT_EQ(big, (std::vector<uint32_t>{1, 1, 2, 2, 9, 1, 1, 2, 2, 9, 3, 3, 4, 4, 9, 3, 3, 4, 4, 9}));
  const auto kept = big;
  const int32_t empty[][4] = {{0, 2, 4, 2}, {4, 2, -1, 2}, {4, 0, 4, 2}, {4, 2, 4, -2}};
  for (const auto& e : empty) Engine->Stretch(two.data(), e[0], e[1], e[2], e[3]);
  EXPECT_EQ(big, kept);
}

// Against the 16.16 walk written out: any sizes, up and down, with the truncating step,
// the target's stride, and a source of 40000 pixels (past 32768, where a 32-bit shift of
// the size would overflow) whose every sample stays inside it.
TEST_F(TColour, StretchFollowsTheFixedPointWalk) {
  struct TCase {
    int32_t Width, SrcWidth, Height, SrcHeight;
  };
  for (const TCase c : {TCase{7, 3, 5, 2}, {3, 7, 2, 5}, {33, 33, 3, 3}, {1, 9, 1, 9}, {100, 37, 9, 8},
                        {5, 40000, 2, 1}, {40001, 40000, 1, 1}}) {
    const auto src = RandomImage(size_t(c.SrcWidth) * c.SrcHeight, 11);
    const uint32_t stride = uint32_t(c.Width) + 3;
    std::vector<uint32_t> t(size_t(stride) * c.Height, 0xCCCCCCCC);
    Engine->SetTarget(t.data(), int32_t(stride * 4), 1, 1);
    Engine->Stretch(src.data(), c.Width, c.SrcWidth, c.Height, c.SrcHeight);
    const int64_t hStep = (int64_t(c.SrcWidth) << 16) / c.Width, vStep = (int64_t(c.SrcHeight) << 16) / c.Height;
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x)
        ASSERT_EQ(t[size_t(y) * stride + x], src[size_t((y * vStep) >> 16) * c.SrcWidth + size_t((x * hStep) >> 16)])
            << c.Width << "x" << c.Height << " from " << c.SrcWidth << "x" << c.SrcHeight << " at " << x << "," << y;
  }
}

TEST_F(TColour, StretchBlendVariants) {
  const uint32_t s = Pixel(200, 10, 128, 50), u = Pixel(100, 250, 128, 60);
  const std::vector<uint32_t> src = {s, s}, under = {u, u, u, u};
  auto t = Target(2, 2, 0);

  struct TCase {
    int Sse;
    bool OneRow;  // StretchRowBlend: only the first row is written
    uint32_t Alpha, Want;
  };
  const TCase cases[] = {
      // Plain variant: u + floor((s - u) * a / 256); the fourth byte of u stays with a3 = 0.
      // 100 * 255 / 256 = 99.6; -240 * 255 / 256 = -239.06 -> -240
      {0, false, 0x00FFFFFF, Pixel(100 + 99, 250 - 240, 128, 60)},
      {0, false, 0, u},
      // SSE variant: floor(s * a / 256) + floor(u * (255 - a) / 256); fourth byte 0.
      {1, false, 0x00FFFFFF, Pixel(199, 9, 127, 0)},
      {1, false, 0, Pixel(99, 249, 127, 0)},
      // A fourth alpha byte: plain weights the fourth lane by it, SSE by 256 - a3.
      {0, true, 0x80000000u, Pixel(100, 250, 128, 55)},
      {1, true, 0x80000000u, Pixel(99, 249, 127, 25 + 30)},
  };
  for (const auto& c : cases) {
    Cpu->SetSseEnabled(c.Sse);
    if (c.OneRow)
      Engine->StretchRowBlend(src.data(), under.data(), 2, 2, c.Alpha);
    else
      Engine->StretchBlend(src.data(), under.data(), 2, 1, 2, 2, c.Alpha);
    const size_t written = c.OneRow ? 2 : 4;
    EXPECT_EQ(std::vector<uint32_t>(t.begin(), t.begin() + written), std::vector<uint32_t>(written, c.Want))
        << "sse " << c.Sse << (c.OneRow ? " row" : "") << std::hex << " alpha " << c.Alpha;
  }
}

// The under-image of StretchBlend advances srcWidth pixels per target row, not width; a
// random case against the walk written out, both variants, under = the target itself too.
TEST_F(TColour, StretchBlendWalksTheUnderImageBySrcWidth) {
  const int32_t width = 9, height = 4, srcWidth = 5, srcHeight = 3;
  const auto src = RandomImage(size_t(srcWidth) * srcHeight, 12);
  const auto under = RandomImage(size_t(srcWidth) * (height - 1) + width, 13);
  const uint32_t alpha = 0x00C04010;
  for (int sse : {0, 1}) {
    Cpu->SetSseEnabled(sse);
    auto t = Target(width, height, 0);
    Engine->StretchBlend(src.data(), under.data(), width, srcWidth, height, srcHeight, alpha);
    const int64_t hStep = (int64_t(srcWidth) << 16) / width, vStep = (int64_t(srcHeight) << 16) / height;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t sp = src[size_t((y * vStep) >> 16) * srcWidth + size_t((x * hStep) >> 16)];
        const uint32_t up = under[size_t(y) * srcWidth + x];
        uint32_t want;
        if (sse)
          MixTwo_Ref(&want, &sp, &up, 1, alpha, ComplementWeight(alpha));
        else
          Lerp_Ref(&want, &sp, &up, 1, alpha);
        ASSERT_EQ(t[size_t(y) * width + x], want) << "sse " << sse << " at " << x << "," << y;
      }
  }
  // In place over one row: under is the target.
  std::vector<uint32_t> row = RandomImage(600, 14);
  const auto was = row;
  Engine->SetTarget(row.data(), 2400, 600, 1);
  Engine->StretchRowBlend(src.data(), row.data(), 600, srcWidth, alpha);
  for (int32_t x = 0; x < 600; ++x) {
    const uint32_t sp = src[size_t((x * ((int64_t(srcWidth) << 16) / 600)) >> 16)];
    uint32_t want;
    MixTwo_Ref(&want, &sp, &was[x], 1, alpha, ComplementWeight(alpha));
    ASSERT_EQ(row[x], want) << x;
  }
}

// TileBlend --------------------------------------------------------------------------------

// The one-wrap walk (one conditional subtraction per step), valid for uStart < 2 x srcWidth and
// 0 <= uStep < srcWidth << 16; the texture row (v >> 16) mod srcHeight.
std::vector<uint32_t> OneWrapTile(const std::vector<uint32_t>& tex, int32_t texStride, int32_t srcWidth,
                                  int32_t srcHeight, int32_t uStart, int32_t vStart, int32_t uStep, int32_t vStep,
                                  uint32_t width, uint32_t height) {
  std::vector<uint32_t> out;
  int32_t v = vStart;
  for (uint32_t y = 0; y < height; ++y, v += vStep) {
    const uint32_t* row = tex.data() + size_t((v >> 16) % srcHeight) * texStride;
    int32_t u = uStart;
    for (uint32_t x = 0; x < width; ++x) {
      const int32_t i = u >> 16;
      if (i < srcWidth) {
        out.push_back(row[i]);
        u += uStep;
      } else {
        out.push_back(row[i - srcWidth]);
        u += uStep - (srcWidth << 16);
      }
    }
  }
  return out;
}

struct TWalk {
  int32_t UStart, VStart, UStep, VStep;
};

TEST_F(TColour, TileBlendRepeatsTheTextureAndCopiesTexelsExactly) {
  const int32_t texW = 5, texH = 3, texStride = 7;
  const auto tex = RandomImage(size_t(texStride) * texH, 15);
  const uint32_t width = 23, height = 8;
  auto t = Target(width, height, 0);
  Engine->TileBlend(tex.data(), texStride * 4, texW, texH, 0, 0, 65536, 65536, nullptr, 0, 0x00808080);
  ExpectPixels(t, width, [&](auto x, auto y) { return tex[(y % texH) * texStride + x % texW]; });

  // Inside the one-wrap walk's domain the texels are its texels.
  for (const TWalk w : {TWalk{0, 0, 65536, 65536}, {9 * 65536 + 123, 70000, 3 * 65536 + 9999, 40000},
                        {4 * 65536, 2 * 65536, 5 * 65536 - 1, 3 * 65536}, {65535, 0, 0, 0}, {0, 0, 1, 1}}) {
    Engine->TileBlend(tex.data(), texStride * 4, texW, texH, w.UStart, w.VStart, w.UStep, w.VStep, nullptr, 0, 0);
    ASSERT_EQ(t, OneWrapTile(tex, texStride, texW, texH, w.UStart, w.VStart, w.UStep, w.VStep, width, height))
        << w.UStart << " " << w.UStep;
  }
}

// Outside it (negative steps and starts, steps of several texture widths) every texel is
// the wrapped one: u and v taken modulo the texture, never a read outside it.
TEST_F(TColour, TileBlendWrapsAnyWalkInsideTheTexture) {
  const int32_t texW = 6, texH = 4;
  const auto tex = RandomImage(size_t(texW) * texH, 16);
  const uint32_t width = 600, height = 5;  // rows longer than the blend's chunk
  auto t = Target(width, height, 0);
  auto mod = [](int64_t x, int64_t m) { return ((x % m) + m) % m; };
  for (const TWalk w : {TWalk{-65536 * 3 - 5, -70000, -40000, -65536}, {100 * 65536, 0, 13 * 65536 + 777, 65536 * 9},
                        {INT32_MAX, INT32_MIN, INT32_MAX, 12345}}) {
    Engine->TileBlend(tex.data(), texW * 4, texW, texH, w.UStart, w.VStart, w.UStep, w.VStep, nullptr, 0, 0);
    uint32_t v = uint32_t(w.VStart);
    for (uint32_t y = 0; y < height; ++y, v += uint32_t(w.VStep)) {
      const int64_t row = mod(int32_t(v) >> 16, texH);
      for (uint32_t x = 0; x < width; ++x) {
        const int64_t u = mod(int64_t(w.UStart) + int64_t(w.UStep) * x, int64_t(texW) << 16);
        ASSERT_EQ(t[y * width + x], tex[size_t(row * texW + (u >> 16))]) << x << "," << y << " ustep " << w.UStep;
      }
    }
  }
}

TEST_F(TColour, TileBlendBlendsWithTheUnderImage) {
  const int32_t texW = 7, texH = 2;
  const auto tex = RandomImage(size_t(texW) * texH, 17);
  const uint32_t width = 700, height = 3, underStride = 705;
  const auto under = RandomImage(size_t(underStride) * height, 18);
  auto t = Target(width, height, 0);
  const uint32_t alpha = 0x00FF8001;
  Engine->TileBlend(tex.data(), texW * 4, texW, texH, 3 * 65536, 65536, 2 * 65536 + 5, 65536, under.data(),
                    int32_t(underStride * 4), alpha);
  const auto texels = OneWrapTile(tex, texW, texW, texH, 3 * 65536, 65536, 2 * 65536 + 5, 65536, width, height);
  ExpectPixels(t, width, [&](uint32_t x, uint32_t y) {
    uint32_t want;
    MixTwo_Ref(&want, &texels[y * width + x], &under[y * underStride + x], 1, alpha,
               ComplementWeight(alpha));
    return want;
  });
  // Alpha full with the usual arguments: floor(t * 255 / 256) per colour lane, fourth 0.
  Engine->TileBlend(tex.data(), texW * 4, texW, texH, 0, 0, 65536, 0, under.data(), 0, 0x00FFFFFF);
  EXPECT_EQ(t[0], ScalePixel(tex[0], 0x00FFFFFF));

  // Nothing for an empty texture or target.
  const auto kept = t;
  Engine->TileBlend(tex.data(), texW * 4, 0, texH, 0, 0, 65536, 0, nullptr, 0, 0);
  Engine->TileBlend(tex.data(), texW * 4, texW, -1, 0, 0, 65536, 0, nullptr, 0, 0);
  Engine->SetTarget(t.data(), int32_t(width * 4), 0, height);
  Engine->TileBlend(tex.data(), texW * 4, texW, texH, 0, 0, 65536, 0, nullptr, 0, 0);
  EXPECT_EQ(t, kept);
}

}  // namespace

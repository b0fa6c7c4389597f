// The engine through its binary interface only: rendo/rendo.h and librendo.so.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine_fixture.h"

namespace {

uint8_t Byte(uint32_t p, int i) { return uint8_t(p >> (8 * i)); }

using TEngine = TEngineTest;

// Object model --------------------------------------------------------------------

TEST(RendoObject, CreateInstanceAnswersAllFiveIdentifiersAndCountsReferences) {
  IPixelEngine* engine = nullptr;
  ASSERT_EQ(CreateInstance(&engine), 1);
  ASSERT_NE(engine, nullptr);

  auto* unknown = Query<IRendoUnknown>(engine, IID_IUnknown);
  auto* main = Query<IPixelEngine>(engine, IID_IPixelEngine);
  auto* effects = Query<IPixelEffects>(engine, IID_IPixelEffects);
  auto* cpu = Query<ICpuFeatures>(engine, IID_ICpuFeatures);
  auto* wire = Query<IWireframe3D>(cpu, IID_IWireframe3D);
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(engine));
  EXPECT_EQ(main, engine);

  // The first four words of the object are its four table pointers, and each secondary
  // interface pointer is the address of its word.
  auto* words = reinterpret_cast<void**>(engine);
  EXPECT_EQ((std::vector<void*>{effects, cpu, wire}),
            (std::vector<void*>{words + 1, words + 2, words + 3}));

  // The same answer whichever interface is asked.
  EXPECT_EQ(Query<IWireframe3D>(engine, IID_IWireframe3D), wire);
  EXPECT_EQ(Query<IPixelEngine>(wire, IID_IPixelEngine), engine);
  EXPECT_EQ(Query<IPixelEffects>(effects, IID_IPixelEffects), effects);

  // 1 + eight successful queries.
  EXPECT_EQ(engine->AddRef(), 10u);
  for (uint32_t expected = 9; expected >= 1; --expected) EXPECT_EQ(effects->Release(), expected);
  EXPECT_EQ(wire->Release(), 0u);
}

// AddRef and Release return the new count; a refused query changes none.
TEST(RendoObject, UnknownIdentifierGivesNoInterfaceAndNullAndKeepsTheCount) {
  EXPECT_EQ(CreateInstance(nullptr), RENDO_E_POINTER);  // creates nothing
  IPixelEngine* engine = nullptr;
  ASSERT_EQ(CreateInstance(&engine), 1);
  TGUID other = IID_IPixelEngine;
  other.Data4[7] ^= 1;  // one bit off a known identifier
  void* out = engine;
  EXPECT_EQ(engine->QueryInterface(&other, &out), RENDO_E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(engine->QueryInterface(&IID_IPixelEngine, nullptr), RENDO_E_POINTER);
  EXPECT_EQ(engine->AddRef(), 2u);
  EXPECT_EQ(engine->Release(), 1u);
  EXPECT_EQ(engine->Release(), 0u);
}

// Calls through the raw tables by slot index, as a caller in another language would:
// the Itanium ABI passes the interface pointer as the first argument.
template <typename R, typename... A>
R CallSlot(void* itf, int slot, A... args) {
  auto table = *reinterpret_cast<void* const* const*>(itf);
  return reinterpret_cast<R (*)(void*, A...)>(table[slot])(itf, args...);
}

TEST(RendoObject, RawTableSlotsAreInContractOrder) {
  IPixelEngine* engine = nullptr;
  ASSERT_EQ(CreateInstance(&engine), 1);
  void* cpu = nullptr;
  ASSERT_EQ((CallSlot<int32_t, const TGUID*, void**>(engine, 0, &IID_ICpuFeatures, &cpu)), RENDO_S_OK);
  EXPECT_EQ(CallSlot<uint32_t>(cpu, 1), 3u);  // AddRef through the secondary table
  EXPECT_EQ(CallSlot<uint32_t>(cpu, 2), 2u);  // Release
  CallSlot<void, int32_t>(cpu, 4, 0);         // SetSecondaryFeature
  CallSlot<void, int32_t>(cpu, 5, 0);         // SetSseEnabled (plain variant)
  CallSlot<void, int32_t>(cpu, 3, 1);         // SetMmxEnabled
  CallSlot<void, uint32_t>(engine, 3, 0);     // SetBatchMode

  std::vector<uint32_t> target(8, Pixel(200, 10, 100, 50));
  const std::vector<uint32_t> source(8, Pixel(10, 200, 100, 5));
  CallSlot<void, void*, int32_t, uint32_t, uint32_t>(engine, 4, target.data(), 16, 4, 2);  // SetTarget
  uint32_t count = 0, rows = 0;
  CallSlot<void, uint32_t*, uint32_t*, int32_t>(engine, 5, &count, &rows, 16);  // GetSpan
  EXPECT_EQ(std::pair(count, rows), std::pair(8u, 1u));

  CallSlot<void, const void*, int32_t>(engine, 11, source.data(), 4);  // SubtractSaturated
  EXPECT_EQ(target[0], Pixel(190, 0, 0, 45));
  EXPECT_EQ(target[4], Pixel(200, 10, 100, 50));
  CallSlot<void, const void*, int32_t>(engine, 10, source.data(), 4);  // AddSaturated
  EXPECT_EQ(target[0], Pixel(200, 200, 100, 50));
  CallSlot<void, const void*, int32_t>(engine, 12, source.data(), 4);  // ReverseSubtractSaturated
  EXPECT_EQ(target[0], Pixel(0, 0, 0, 0));
  CallSlot<void, const void*, int32_t>(engine, 16, source.data(), 1);  // CopyFlat
  EXPECT_EQ(target[0], source[0]);
  target[1] = Pixel(0, 0, 255);
  CallSlot<void, const void*, int32_t, uint32_t>(engine, 20, target.data(), 16, 0);  // Desaturate
  EXPECT_EQ(target[1], Pixel(84, 84, 84, 84));  // plain variant: the fourth byte takes the grey

  // Slots of later operations exist and answer in their place.
  TRendoPoint pos{0, 0};
  EXPECT_EQ((CallSlot<int32_t, const TRendoFont*, const char*, const TRendoPoint*, uint32_t, int32_t>(
                engine, 37, nullptr, "", &pos, 0, 0)),
            0);  // DrawText
  void* wire = reinterpret_cast<void**>(engine) + 3;
  EXPECT_EQ(CallSlot<void*>(wire, 3), wire);  // IWireframe3D::Reset returns its own pointer
  void* effects = reinterpret_cast<void**>(engine) + 1;
  void* block = CallSlot<void*, uint32_t, uint32_t>(effects, 3, 16, 16);  // AlignedAlloc
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
  CallSlot<void, void*>(effects, 4, block);  // AlignedFree

  CallSlot<uint32_t>(cpu, 2);
  EXPECT_EQ(CallSlot<uint32_t>(engine, 2), 0u);
}

// Target and span -------------------------------------------------------------------

TEST_F(TEngine, GetSpanMergesRowsOnlyWhenBothLayoutsArePacked) {
  std::vector<uint32_t> target(221 * 60);
  struct TCase {
    uint32_t Height, Pitch;
    int32_t SrcStride;
    uint32_t Count, Rows;
  };
  const TCase cases[] = {{60, 220, 880, 13200, 1}, {60, 220, 884, 220, 60},
                         {60, 221, 880, 220, 60},  // padded target, packed source
                         {1, 220, 880, 220, 1},    {1, 220, 884, 220, 1},  {1, 220, 0, 220, 1},
                         {1, 220, -880, 220, 1}};
  for (const auto& c : cases) {
    Bind(target, 220, c.Height, c.Pitch);
    uint32_t count = 0, rows = 0;
    Engine->GetSpan(&count, &rows, c.SrcStride);
    EXPECT_EQ(std::pair(count, rows), std::pair(c.Count, c.Rows))
        << "220 x " << c.Height << " pitch " << c.Pitch << " source stride " << c.SrcStride;
  }
}

// Flat-run family ---------------------------------------------------------------------

TEST_F(TEngine, SubtractSaturatedWorksInWholeGroupsOfFour) {
  const std::vector<uint32_t> source(13204, Pixel(1, 1, 1, 1));
  for (int32_t count : {13200, 13202, 3, 0, -4}) {
    std::vector<uint32_t> target(13204, Pixel(9, 9, 9, 9));
    Bind(target, 220, 60);
    Engine->SubtractSaturated(source.data(), count);
    const int32_t changed = count > 0 ? count / 4 * 4 : 0;
    for (int32_t i = 0; i < 13204; ++i)
      ASSERT_EQ(target[i], i < changed ? Pixel(8, 8, 8, 8) : Pixel(9, 9, 9, 9)) << "count " << count << " pixel " << i;
  }
}

TEST_F(TEngine, FlatRunIgnoresStrideWidthAndHeight) {
  // A target bound as 3 x 2 with a padded stride still takes 8 pixels as one run.
  std::vector<uint32_t> target(8, Pixel(50, 50, 50, 50));
  const std::vector<uint32_t> source(8, Pixel(5, 5, 5, 5));
  Bind(target, 3, 2, 16);
  Engine->AddSaturated(source.data(), 8);
  for (uint32_t p : target) EXPECT_EQ(p, Pixel(55, 55, 55, 55));
}

TEST_F(TEngine, SaturationLimitsOfTheFlatFamily) {
  const std::vector<uint32_t> source = {Pixel(200, 10, 0, 255), Pixel(10, 200, 255, 0), Pixel(255, 255, 0, 1),
                                        Pixel(0, 1, 2, 3)};
  const std::vector<uint32_t> start = {Pixel(10, 200, 0, 0), Pixel(200, 10, 255, 255), Pixel(1, 255, 0, 0),
                                       Pixel(3, 2, 1, 0)};
  struct TCase {
    const char* Name;
    void (IPixelEngine::*Op)(const void*, int32_t);
    std::vector<std::pair<int, uint32_t>> Want;  // pixel index, value
  };
  const TCase cases[] = {
      // 10 - 200 -> 0, 200 - 10 -> 190
      {"Subtract", &IPixelEngine::SubtractSaturated,
       {{0, Pixel(0, 190, 0, 0)}, {1, Pixel(190, 0, 0, 255)}, {3, Pixel(3, 1, 0, 0)}}},
      // source 200 - target 10 -> 190
      {"ReverseSubtract", &IPixelEngine::ReverseSubtractSaturated,
       {{0, Pixel(190, 0, 0, 255)}, {1, Pixel(0, 190, 0, 0)}}},
      {"Add", &IPixelEngine::AddSaturated,
       {{0, Pixel(210, 210, 0, 255)}, {1, Pixel(210, 210, 255, 255)}, {2, Pixel(255, 255, 0, 1)}}},
  };
  for (const auto& c : cases) {
    std::vector<uint32_t> target = start;
    Bind(target, 4, 1);
    (Engine->*c.Op)(source.data(), 4);
    for (const auto& [i, want] : c.Want) EXPECT_EQ(target[i], want) << c.Name << " pixel " << i;
  }
}

TEST_F(TEngine, CopyFlatCopiesTheLeftOversToo) {
  auto target = Target(8, 1, 0xDEADBEEF);
  std::vector<uint32_t> source(8);
  for (uint32_t i = 0; i < 8; ++i) source[i] = 0x01010101u * (i + 1);
  Engine->CopyFlat(source.data(), 6);
  ExpectPixels(target, 8, [&](auto i, auto) { return i < 6 ? source[i] : 0xDEADBEEFu; });
}

// Desaturate --------------------------------------------------------------------------

// The colour at each level; the fourth byte where it is given (-1: not compared), which
// depends on the SSE switch: the colour is the same on both paths.
TEST_F(TEngine, DesaturateLevels) {
  struct TCase {
    uint32_t Level, In, Colour;
    int Fourth = -1, Sse = 1;
  };
  const TCase cases[] = {
      {0, Pixel(0, 0, 255), Pixel(84, 84, 84)},  // grey = floor(255 * 21845 / 65536)
      {255, Pixel(0, 0, 255), Pixel(0, 0, 254)},  // at or below grey kept, above lowered by one
      {128, Pixel(0, 0, 255), Pixel(42, 42, 169)},
      {1000, Pixel(0, 0, 255), Pixel(0, 0, 254)},  // above 255 behaves as 255
      {0x100000FF, Pixel(0, 0, 255), Pixel(0, 0, 254)},
      {255, Pixel(255, 255, 0), Pixel(254, 254, 0)},
      {0, Pixel(255, 255, 255), Pixel(254, 254, 254)},  // 765 * 21845 >> 16 = 254
      {200, Pixel(17, 240, 3), Pixel(32, 206, 21)},  // grey 86
      // A = 90: SSE path a = floor(270 * 21845 / 65536) = 89, out = 89 + floor(1 * 64 / 256) = 89.
      // Plain path uses the colour grey 84: out = 84 + floor(6 * 64 / 256) = 85.
      {64, Pixel(0, 0, 255, 90), Pixel(63, 63, 126), 89, 1},
      {64, Pixel(0, 0, 255, 90), Pixel(63, 63, 126), 85, 0},
      // Fourth byte 255 at level 0: SSE a = floor(765 * 21845 / 65536) = 254; plain takes grey 84.
      {0, Pixel(0, 0, 255, 255), Pixel(84, 84, 84), 254, 1},
      {0, Pixel(0, 0, 255, 255), Pixel(84, 84, 84), 84, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "level " << c.Level << " sse " << c.Sse << std::hex << " in " << c.In);
    Cpu->SetSseEnabled(c.Sse);
    auto target = Target(2, 1, c.In);
    Engine->Desaturate(target.data(), 8, c.Level);
    EXPECT_EQ(target[0] & 0xFFFFFF, c.Colour);
    if (c.Fourth >= 0) {
      EXPECT_EQ(Byte(target[0], 3), c.Fourth);
    }
    EXPECT_EQ(target[1], target[0]);
  }
}

// A grey pixel stays grey at every level, but 0x5555 is a little under a third of 65536:
// grey = floor(3v * 21845 / 65536) = v - 1 for v >= 1, and v - grey = 1 never survives the
// shift, so every grey but black comes out one darker. That is the defined arithmetic
// (the level-0 value 84 for pure red rests on it), not a rounding slip to correct here.
TEST_F(TEngine, DesaturateKeepsGreyPixelsGreyOneStepDarker) {
  for (uint32_t level : {0u, 1u, 77u, 128u, 255u}) {
    std::vector<uint32_t> target;
    for (int v = 0; v < 256; ++v) target.push_back(Pixel(uint8_t(v), uint8_t(v), uint8_t(v)));
    Bind(target, 256, 1);
    Engine->Desaturate(target.data(), 1024, level);
    for (int v = 0; v < 256; ++v) {
      const uint8_t out = uint8_t(v == 0 ? 0 : v - 1);
      ASSERT_EQ(target[v] & 0xFFFFFF, Pixel(out, out, out)) << "level " << level << " grey " << v;
    }
  }
}

TEST_F(TEngine, DesaturateLeavesTheOddLastPixelOfEachRunAndThePadding) {
  // 5 x 3 target with a padded stride of 7 pixels: per row, pixels 0..3 change, pixel 4
  // (odd last) and the two padding pixels stay.
  const uint32_t colour = Pixel(0, 0, 255);
  auto target = Target(5, 3, colour, 7);
  Engine->Desaturate(target.data(), 28, 0);
  ExpectPixels(target, 7, [&](auto x, auto) { return x < 4 ? Pixel(84, 84, 84) : colour; });

  // Packed 5 x 3: one run of 15, only its last pixel stays.
  auto packed = Target(5, 3, colour);
  Engine->Desaturate(packed.data(), 20, 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(packed[i], i < 14 ? Pixel(84, 84, 84) : colour) << i;

  // A run of one pixel stays whole.
  auto single = Target(1, 1, colour);
  Engine->Desaturate(single.data(), 4, 0);
  EXPECT_EQ(single[0], colour);
}

TEST_F(TEngine, DesaturateFromAnotherSourceWithItsOwnStride) {
  // Source rows 3 pixels apart, target packed 2 x 2 (no merge: strides differ).
  const std::vector<uint32_t> source = {Pixel(0, 0, 255), Pixel(0, 0, 255), 0xFFFFFFFF,
                                        Pixel(255, 0, 0), Pixel(255, 0, 0), 0xFFFFFFFF};
  auto target = Target(2, 2, 0x12345678);
  Engine->Desaturate(source.data(), 12, 0);
  EXPECT_EQ(target, (std::vector<uint32_t>(4, Pixel(84, 84, 84))));
}

// Switches ----------------------------------------------------------------------------

TEST_F(TEngine, MmxSwitchOffLeavesMemoryUntouched) {
  auto target = Target(4, 4, Pixel(100, 100, 100, 100));
  const std::vector<uint32_t> source(16, Pixel(7, 7, 7, 7));
  const auto before = target;
  Cpu->SetMmxEnabled(0x100);  // low byte 0: off
  Engine->SubtractSaturated(source.data(), 16);
  Engine->AddSaturated(source.data(), 16);
  Engine->ReverseSubtractSaturated(source.data(), 16);
  Engine->CopyFlat(source.data(), 16);
  Engine->Desaturate(source.data(), 16, 0);
  EXPECT_EQ(target, before);
  Cpu->SetMmxEnabled(0x1);
  Engine->SubtractSaturated(source.data(), 16);
  EXPECT_EQ(target[15], Pixel(93, 93, 93, 93));
}

TEST_F(TEngine, SwitchesAreSharedByAllObjectsAndSecondaryFeatureChangesNothing) {
  IPixelEngine* other = nullptr;
  ASSERT_EQ(CreateInstance(&other), 1);
  auto* otherCpu = Query<ICpuFeatures>(other, IID_ICpuFeatures);

  auto run = [&](IPixelEngine* engine) {
    std::vector<uint32_t> target;
    for (uint32_t i = 0; i < 64; ++i) target.push_back(i * 0x03050709u);
    engine->SetTarget(target.data(), 64 * 4, 64, 1);
    engine->SubtractSaturated(target.data() + 1, 60);
    engine->Desaturate(target.data(), 256, 99);
    return target;
  };
  otherCpu->SetSecondaryFeature(0);
  const auto without = run(Engine);
  otherCpu->SetSecondaryFeature(-1);
  EXPECT_EQ(run(Engine), without);

  otherCpu->SetMmxEnabled(0);  // switched off through another object
  auto target = Target(4, 1, 5);
  Engine->CopyFlat(std::vector<uint32_t>(4, 9).data(), 4);
  EXPECT_EQ(target, std::vector<uint32_t>(4, 5));
  otherCpu->SetMmxEnabled(-1);
  otherCpu->Release();
  EXPECT_EQ(other->Release(), 0u);
}

TEST_F(TEngine, BatchModeKeepsResults) {
  auto target = Target(8, 1, Pixel(0, 0, 255));
  Engine->SetBatchMode(1);
  Engine->Desaturate(target.data(), 32, 0);
  Engine->SubtractSaturated(std::vector<uint32_t>(8, Pixel(4, 4, 4)).data(), 8);
  Engine->SetBatchMode(0);
  EXPECT_EQ(target, std::vector<uint32_t>(8, Pixel(80, 80, 80)));
}

#if defined(__x86_64__) || defined(__i386__)
// The x87 tag word: all registers empty (0xFFFF) after EMMS, none empty after any MMX
// instruction. fnstenv masks the exceptions, so the control word is loaded back.
uint16_t X87TagWord() {
  struct {
    uint16_t Control, Unused0, Status, Unused1, Tag, Unused2;
    uint32_t Pointers[4];
  } env;
  __asm__ volatile("fnstenv %0\n\tfldcw %0" : "+m"(env));
  return env.Tag;
}
#endif

// A caller that used MMX registers before the call finds them cleared after it: at the end
// of the operations that clear it unless batch mode is on, of those that clear it always,
// and when batch mode is switched off with MMX on; never by a gated operation with MMX off.
TEST_F(TEngine, MmxStateIsClearedWhereTheOperationEnds) {
#if defined(__x86_64__) || defined(__i386__)
  std::vector<uint32_t> target(8 * 4, Pixel(9, 9, 9)), src(target), texture(256 * 256, 7);
  const std::vector<uint16_t> uv(32, 0);
  const TRendoPen pen{};
  const TRendoPoint from{0, 0}, to{3, 1};
  struct TCase {
    const char* Name;
    bool Batch, Mmx;
    std::function<void()> Op;
    bool Cleared;
  };
  const TCase cases[] = {
      {"SubtractSaturated", false, true, [&] { Engine->SubtractSaturated(src.data(), 32); }, true},
      {"SubtractSaturated, batch", true, true, [&] { Engine->SubtractSaturated(src.data(), 32); }, false},
      {"SubtractSaturated, MMX off", false, false, [&] { Engine->SubtractSaturated(src.data(), 32); }, false},
      {"Desaturate", false, true, [&] { Engine->Desaturate(src.data(), 32, 9); }, true},
      {"Desaturate, batch", true, true, [&] { Engine->Desaturate(src.data(), 32, 9); }, false},
      {"Emboss, MMX off", false, false, [&] { Engine->Emboss(src.data(), 32); }, true},
      {"Emboss, batch", true, true, [&] { Engine->Emboss(src.data(), 32); }, false},
      {"SetBatchMode(0)", true, true, [&] { Engine->SetBatchMode(0); }, true},
      {"SetBatchMode(0), MMX off", true, false, [&] { Engine->SetBatchMode(0); }, false},
      {"AddNoise, batch", true, true, [&] { Engine->AddNoise(src.data(), 32, 9); }, true},
      {"SubtractNoise, batch", true, true, [&] { Engine->SubtractNoise(src.data(), 32, 9); }, true},
      {"PackTo24, batch", true, false, [&] { Engine->PackTo24(src.data(), 0); }, true},
      {"DrawLineBlend, batch", true, false, [&] { Engine->DrawLineBlend(&pen, &from, &to); }, true},
      {"RenderTunnel, batch", true, false, [&] { Engine->RenderTunnel(texture.data(), uv.data(), src.data(), 0, 0); },
       true},
      {"Stretch, batch", true, false, [&] { Engine->Stretch(src.data(), 8, 8, 4, 4); }, true},
  };
  Bind(target, 8, 4);
  for (const auto& c : cases) {
    Cpu->SetMmxEnabled(1);
    Engine->SetBatchMode(c.Batch ? 1 : 0);
    Cpu->SetMmxEnabled(c.Mmx ? 1 : 0);
    __asm__ volatile("pxor %%mm0, %%mm0" ::: "mm0");
    c.Op();
    const uint16_t tag = X87TagWord();
    __asm__ volatile("emms");
    EXPECT_EQ(tag == 0xFFFF, c.Cleared) << c.Name << ": tag word " << std::hex << tag;
  }
  Cpu->SetMmxEnabled(-1);
  Engine->SetBatchMode(0);
#else
  GTEST_SKIP() << "no MMX state on this processor";
#endif
}

// The program's composition: background minus history, then desaturated in place.
TEST_F(TEngine, HistoryStripComposition) {
  std::vector<uint32_t> strip(220 * 60), history(220 * 60, 0);
  for (size_t i = 0; i < strip.size(); ++i) strip[i] = Pixel(uint8_t(i), uint8_t(i / 220 * 4), 200);
  for (int row = 0; row < 29; ++row) history[row * 220 + 10] = Pixel(24, 24, 24);
  Bind(strip, 220, 60, 220);
  Engine->SubtractSaturated(history.data(), 13200);
  Engine->Desaturate(strip.data(), 880, 255);
  for (int row = 0; row < 60; ++row) {
    const uint32_t in = Pixel(uint8_t(row * 220 + 10), uint8_t(row * 4), 200);
    const uint32_t sub = row < 29 ? Pixel(uint8_t(std::max(0, int(Byte(in, 0)) - 24)),
                                          uint8_t(std::max(0, int(Byte(in, 1)) - 24)), 176)
                                  : in;
    const int grey = ((Byte(sub, 0) + Byte(sub, 1) + Byte(sub, 2)) * 21845) >> 16;
    uint32_t expected = 0;
    for (int c = 0; c < 3; ++c)
      expected |= uint32_t((grey + (((Byte(sub, c) - grey) * 255) >> 8)) & 0xFF) << (8 * c);
    ASSERT_EQ(strip[row * 220 + 10] & 0xFFFFFF, expected) << "row " << row;
  }
}

}  // namespace

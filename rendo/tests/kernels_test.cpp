// The flat family's kernels (and Desaturate's two variants) of every built level against
// their reference, in one run, on seeded random data: counts around the register widths
// and a large odd one, starts one to three pixels off alignment, in-place use, and the
// extreme byte values; and, for every family, that each level's table holds the kernels
// that level implements. The other families' results are compared in their own tests
// (colour_kernels_test, draw_kernels_test, 3d_test).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dispatch.h"
#include "kernels_3d.h"
#include "kernels_colour.h"
#include "kernels_draw.h"
#include "kernels_flat.h"
#include "kernel_compare.h"

using namespace rendo_kernels;

namespace {

const std::vector<size_t> kCounts = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 13200, 100003};
// 1048581 is past the run length where the copies switch to streaming stores.
const std::vector<size_t> kFlatCounts = [] {
  auto counts = kCounts;
  counts.push_back(1048581);
  return counts;
}();

std::vector<TKernelLevel> SimdLevels() { return SimdLevelsWith(FlatKernelTableFor); }

// One flat kernel call (table, dst, src, count, level) against the reference.
template <typename TCall>
void CompareLevels(const char* op, TCall call, std::vector<uint32_t> args, const std::vector<size_t>& counts = kCounts) {
  CompareWithReference(op, FlatKernelTableFor, counts, args, true,
                       [&](const TFlatKernelTable& t, uint32_t* d, const uint32_t* a, const uint32_t*, size_t n,
                           uint32_t arg) { call(t, d, a, n, arg); });
}

TEST(RendoKernels, ReportsTheLevelsUnderTest) {
  std::string text = std::string("active ") + KernelLevelName(ActiveKernelLevel()) + ", compared:";
  for (TKernelLevel l : SimdLevels()) text += std::string(" ") + KernelLevelName(l);
  RecordProperty("levels", text);
  std::printf("%s\n", text.c_str());
  ASSERT_NE(FlatKernelTableFor(TKernelLevel::Ref), nullptr);
  EXPECT_TRUE(KernelLevelUsable(TKernelLevel::Ref));
#if !defined(KORVEL_HAVE_SSE2)
  EXPECT_EQ(FlatKernelTableFor(TKernelLevel::SSE2), nullptr);
  EXPECT_EQ(ActiveKernelLevel(), TKernelLevel::Ref);
#endif
}

// Every slot of a level's built table holds that level's own kernel where the level
// implements one, else the kernel of the level below; the reference fills every slot.
template <typename TTable>
void ExpectEveryLevelHoldsItsKernels(const char* family) {
  const TTable* below = nullptr;
  for (TKernelLevel level : kKernelLevels) {
    const TTable* own = OwnKernelTable<TTable>(level);
    const TTable* built = KernelTableFor<TTable>(level);
    ASSERT_EQ(own == nullptr, built == nullptr) << family << " " << KernelLevelName(level);
    if (built == nullptr) continue;
    for (size_t slot = 0; slot < kKernelSlots<TTable>; ++slot) {
      const TAnyKernel mine = KernelSlot(*own, slot);
      const TAnyKernel want = mine != nullptr || below == nullptr ? mine : KernelSlot(*below, slot);
      EXPECT_NE(want, nullptr) << family << " " << KernelLevelName(level) << " slot " << slot;
      EXPECT_EQ(KernelSlot(*built, slot), want) << family << " " << KernelLevelName(level) << " slot " << slot;
    }
    below = built;
  }
}

TEST(RendoKernels, EveryLevelsTableHoldsEveryKernelThatLevelImplements) {
  ExpectEveryLevelHoldsItsKernels<TFlatKernelTable>("flat");
  ExpectEveryLevelHoldsItsKernels<TColourKernelTable>("colour");
  ExpectEveryLevelHoldsItsKernels<TDrawKernelTable>("draw");
  ExpectEveryLevelHoldsItsKernels<T3DKernelTable>("3d");
}

TEST(RendoKernels, FlatFamilyMatchesTheReference) {
  struct TFlat {
    const char* Name;
    TFlatKernel TFlatKernelTable::*Slot;
  };
  const TFlat ops[] = {{"AddSaturated", &TFlatKernelTable::AddSaturated},
                       {"SubtractSaturated", &TFlatKernelTable::SubtractSaturated},
                       {"ReverseSubtractSaturated", &TFlatKernelTable::ReverseSubtractSaturated},
                       {"CopyFlat", &TFlatKernelTable::CopyFlat}};
  for (const auto& op : ops)
    CompareLevels(
        op.Name, [&](const TFlatKernelTable& t, uint32_t* d, const uint32_t* s, size_t n, uint32_t) { (t.*op.Slot)(d, s, n); },
        {0}, kFlatCounts);
}

TEST(RendoKernels, DesaturateBothVariantsMatchTheReference) {
  const std::vector<uint32_t> levels = {0, 1, 2, 64, 127, 128, 129, 200, 254, 255};
  for (auto [name, path] : {std::pair{"DesaturateSsePath", &TFlatKernelTable::DesaturateSsePath},
                            {"DesaturatePlainPath", &TFlatKernelTable::DesaturatePlainPath}})
    CompareLevels(
        name, [&](const TFlatKernelTable& t, uint32_t* d, const uint32_t* s, size_t n, uint32_t l) { (t.*path)(d, s, n, l); },
        levels);
}

// Every pixel value's colour bytes can be reached through a 24-bit sweep; a pass over
// all of them at a few levels guards the 16-bit product wrap argument exhaustively.
TEST(RendoKernels, DesaturateExhaustiveColoursAtKeyLevels) {
  std::vector<uint32_t> all(1u << 24);
  for (uint32_t i = 0; i < all.size(); ++i) all[i] = i | ((i * 2654435761u) & 0xFF000000u);
  const TFlatKernelTable& ref = *FlatKernelTableFor(TKernelLevel::Ref);
  for (TKernelLevel level : SimdLevels()) {
    const TFlatKernelTable& simd = *FlatKernelTableFor(level);
    for (uint32_t l : {0u, 128u, 255u}) {
      std::vector<uint32_t> want(all.size()), got(all.size());
      ref.DesaturateSsePath(want.data(), all.data(), all.size(), l);
      simd.DesaturateSsePath(got.data(), all.data(), all.size(), l);
      ASSERT_EQ(want, got) << FirstDifference("DesaturateSsePath", level, all.size(), 0, l, want, got);
    }
  }
}

}  // namespace

// The kernel tables of every family: the reference tables, and each level's table built
// once per process by the one generic builder of dispatch.h.
#include "dispatch.h"

#include "kernels_3d.h"
#include "kernels_3d_ref.h"
#include "kernels_colour.h"
#include "kernels_colour_ref.h"
#include "kernels_draw.h"
#include "kernels_draw_ref.h"
#include "kernels_flat.h"
#include "rendo/reference.h"

namespace rendo_kernels {

const TFlatKernelTable FlatKernelsRef = {
    rendo_ref::AddSaturated_Ref,      rendo_ref::SubtractSaturated_Ref, rendo_ref::ReverseSubtractSaturated_Ref,
    rendo_ref::CopyFlat_Ref,          rendo_ref::DesaturateSsePath_Ref, rendo_ref::DesaturatePlainPath_Ref,
};

const TColourKernelTable ColourKernelsRef = {
    rendo_ref::ScaleAdd_Ref,      rendo_ref::AddScaled_Ref,     rendo_ref::AddColor_Ref,
    rendo_ref::SubtractColor_Ref, rendo_ref::MixTwo_Ref,        rendo_ref::Lerp_Ref,
    rendo_ref::Invert_Ref,        rendo_ref::Fill_Ref,          rendo_ref::ScaleChannels_Ref,
    rendo_ref::MapPalette_Ref,    rendo_ref::GatherOffsets_Ref, rendo_ref::StretchGather_Ref,
    rendo_ref::PackTo24_Ref,
};

const TDrawKernelTable DrawKernelsRef = {
    rendo_draw_ref::Blur_Ref,   rendo_draw_ref::AddNoise_Ref, rendo_draw_ref::SubtractNoise_Ref,
    rendo_draw_ref::Emboss_Ref, rendo_draw_ref::Sepia_Ref,
};

const T3DKernelTable Kernels3DRef = {rendo_3d_ref::RenderTunnel_Ref};

namespace {

#if defined(KORVEL_HAVE_SSE2)
#define RENDO_IF_SSE2(table) &(table)
#else
#define RENDO_IF_SSE2(table) nullptr
#endif
#if defined(KORVEL_HAVE_AVX2)
#define RENDO_IF_AVX2(table) &(table)
#else
#define RENDO_IF_AVX2(table) nullptr
#endif

// Each family's own tables by level, in TKernelLevel order.
template <typename TTable>
struct TOwnTables;
template <>
struct TOwnTables<TFlatKernelTable> {
  static constexpr const TFlatKernelTable* Level[] = {&FlatKernelsRef, RENDO_IF_SSE2(FlatKernelsSSE2),
                                                      RENDO_IF_AVX2(FlatKernelsAVX2)};
};
template <>
struct TOwnTables<TColourKernelTable> {
  static constexpr const TColourKernelTable* Level[] = {&ColourKernelsRef, RENDO_IF_SSE2(ColourKernelsSSE2),
                                                        RENDO_IF_AVX2(ColourKernelsAVX2)};
};
template <>
struct TOwnTables<TDrawKernelTable> {
  static constexpr const TDrawKernelTable* Level[] = {&DrawKernelsRef, RENDO_IF_SSE2(DrawKernelsSSE2),
                                                      RENDO_IF_AVX2(DrawKernelsAVX2)};
};
template <>
struct TOwnTables<T3DKernelTable> {
  static constexpr const T3DKernelTable* Level[] = {&Kernels3DRef, RENDO_IF_SSE2(Kernels3DSSE2),
                                                    RENDO_IF_AVX2(Kernels3DAVX2)};
};

template <typename TTable>
struct TBuiltTables {
  TTable Level[kKernelLevelCount];
  bool Built[kKernelLevelCount];
};

template <typename TTable>
TBuiltTables<TTable> BuildTables() {
  TBuiltTables<TTable> built{};
  TTable table = *TOwnTables<TTable>::Level[0];
  for (int level = 0; level < kKernelLevelCount; ++level) {
    const TTable* own = TOwnTables<TTable>::Level[level];
    if (own == nullptr) continue;
    for (size_t slot = 0; slot < kKernelSlots<TTable>; ++slot)
      if (const TAnyKernel kernel = KernelSlot(*own, slot); kernel != nullptr) SetKernelSlot(table, slot, kernel);
    built.Level[level] = table;
    built.Built[level] = true;
  }
  return built;
}

}  // namespace

template <typename TTable>
const TTable* OwnKernelTable(TKernelLevel level) {
  return TOwnTables<TTable>::Level[int(level)];
}

template <typename TTable>
const TTable* KernelTableFor(TKernelLevel level) {
  static const TBuiltTables<TTable> tables = BuildTables<TTable>();
  const int i = int(level);
  return tables.Built[i] ? &tables.Level[i] : nullptr;
}

template <typename TTable>
const TTable& ActiveKernels() {
  static const TTable table = *KernelTableFor<TTable>(ActiveKernelLevel());
  return table;
}

// Each family's named accessors (declared in its kernels_*.h) on the generic ones.
#define RENDO_FAMILY(TTable, TableFor, Active)                                         \
  template const TTable* OwnKernelTable<TTable>(TKernelLevel);                         \
  template const TTable* KernelTableFor<TTable>(TKernelLevel);                         \
  template const TTable& ActiveKernels<TTable>();                                      \
  const TTable* TableFor(TKernelLevel level) { return KernelTableFor<TTable>(level); } \
  const TTable& Active() { return ActiveKernels<TTable>(); }

RENDO_FAMILY(TFlatKernelTable, FlatKernelTableFor, ActiveFlatKernels)
RENDO_FAMILY(TColourKernelTable, ColourKernelTableFor, ActiveColourKernels)
RENDO_FAMILY(TDrawKernelTable, DrawKernelTableFor, ActiveDrawKernels)
RENDO_FAMILY(T3DKernelTable, Kernel3DTableFor, Active3DKernels)

}  // namespace rendo_kernels

// Dispatch of the colour kernels: the level is the one kernels.h chose for the process;
// each level's table lays the slots it implements (non-null) over the level below.
#include "kernels_colour.h"
#include "kernels_colour_ref.h"

namespace rendo_kernels {

const TColourKernelTable ColourKernelsRef = {
    rendo_ref::ScaleAdd_Ref,      rendo_ref::AddScaled_Ref,     rendo_ref::AddColor_Ref,
    rendo_ref::SubtractColor_Ref, rendo_ref::MixTwo_Ref,        rendo_ref::Lerp_Ref,
    rendo_ref::Invert_Ref,        rendo_ref::Fill_Ref,          rendo_ref::ScaleChannels_Ref,
    rendo_ref::MapPalette_Ref,    rendo_ref::GatherOffsets_Ref, rendo_ref::StretchGather_Ref,
    rendo_ref::PackTo24_Ref,
};

namespace {

[[maybe_unused]] void Overlay(TColourKernelTable& into, const TColourKernelTable& level) {
  auto over = [](auto& slot, auto fn) {
    if (fn != nullptr) slot = fn;
  };
  over(into.ScaleAdd, level.ScaleAdd);
  over(into.AddScaled, level.AddScaled);
  over(into.AddColor, level.AddColor);
  over(into.SubtractColor, level.SubtractColor);
  over(into.MixTwo, level.MixTwo);
  over(into.Lerp, level.Lerp);
  over(into.Invert, level.Invert);
  over(into.Fill, level.Fill);
  over(into.ScaleChannels, level.ScaleChannels);
  over(into.MapPalette, level.MapPalette);
  over(into.GatherOffsets, level.GatherOffsets);
  over(into.StretchGather, level.StretchGather);
  over(into.PackTo24, level.PackTo24);
}

struct TColourTables {
  TColourKernelTable Level[3];
  bool Built[3];
};

TColourTables BuildTables() {
  TColourTables t{{ColourKernelsRef, ColourKernelsRef, ColourKernelsRef}, {true, false, false}};
#if defined(KORVEL_RENDO_HAVE_SSE2)
  Overlay(t.Level[1], ColourKernelsSSE2);
  t.Level[2] = t.Level[1];
  t.Built[1] = true;
#endif
#if defined(KORVEL_RENDO_HAVE_AVX2)
  Overlay(t.Level[2], ColourKernelsAVX2);
  t.Built[2] = true;
#endif
  return t;
}

}  // namespace

const TColourKernelTable* ColourKernelTableFor(TKernelLevel level) {
  static const TColourTables tables = BuildTables();
  const int i = static_cast<int>(level);
  return tables.Built[i] ? &tables.Level[i] : nullptr;
}

const TColourKernelTable& ActiveColourKernels() {
  static const TColourKernelTable table = *ColourKernelTableFor(ActiveKernelLevel());
  return table;
}

}  // namespace rendo_kernels

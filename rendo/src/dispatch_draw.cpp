// Dispatch of the drawing and effect kernels: the reference table, overlaid level by
// level with the slots each instruction set implements (a null slot falls back).
#include "kernels_draw.h"
#include "kernels_draw_ref.h"

namespace rendo_kernels {

const TDrawKernelTable DrawKernelsRef = {
    rendo_draw_ref::Blur_Ref,   rendo_draw_ref::AddNoise_Ref, rendo_draw_ref::SubtractNoise_Ref,
    rendo_draw_ref::Emboss_Ref, rendo_draw_ref::Sepia_Ref,
};

namespace {

[[maybe_unused]] void Overlay(TDrawKernelTable& into, const TDrawKernelTable& level) {
  auto over = [](auto& slot, auto fn) {
    if (fn != nullptr) slot = fn;
  };
  over(into.Blur, level.Blur);
  over(into.AddNoise, level.AddNoise);
  over(into.SubtractNoise, level.SubtractNoise);
  over(into.Emboss, level.Emboss);
  over(into.Sepia, level.Sepia);
}

struct TDrawTables {
  TDrawKernelTable Level[3];
  bool Built[3];
};

TDrawTables BuildTables() {
  TDrawTables t{{DrawKernelsRef, DrawKernelsRef, DrawKernelsRef}, {true, false, false}};
#if defined(KORVEL_RENDO_HAVE_SSE2)
  Overlay(t.Level[1], DrawKernelsSSE2);
  t.Level[2] = t.Level[1];
  t.Built[1] = true;
#endif
#if defined(KORVEL_RENDO_HAVE_AVX2)
  Overlay(t.Level[2], DrawKernelsAVX2);
  t.Built[2] = true;
#endif
  return t;
}

}  // namespace

const TDrawKernelTable* DrawKernelTableFor(TKernelLevel level) {
  static const TDrawTables tables = BuildTables();
  const int i = static_cast<int>(level);
  return tables.Built[i] ? &tables.Level[i] : nullptr;
}

const TDrawKernelTable& ActiveDrawKernels() {
  static const TDrawKernelTable table = *DrawKernelTableFor(ActiveKernelLevel());
  return table;
}

}  // namespace rendo_kernels

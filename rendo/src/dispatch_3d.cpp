// Dispatch of the effects kernels: the reference table, overwritten slot by slot by the
// levels built into the library, at the level the core dispatcher chose.
#include "kernels_3d.h"
#include "kernels_3d_ref.h"

namespace rendo_kernels {

const T3DKernelTable Kernels3DRef = {rendo_3d_ref::RenderTunnel_Ref};

namespace {

[[maybe_unused]] void Overlay(T3DKernelTable& into, const T3DKernelTable& level) {
  if (level.RenderTunnel != nullptr) into.RenderTunnel = level.RenderTunnel;
}

struct TLevelTables {
  T3DKernelTable Level[3];
  bool Built[3];
};

TLevelTables BuildTables() {
  TLevelTables t{{Kernels3DRef, Kernels3DRef, Kernels3DRef}, {true, false, false}};
#if defined(KORVEL_RENDO_HAVE_SSE2)
  Overlay(t.Level[1], Kernels3DSSE2);
  t.Level[2] = t.Level[1];
  t.Built[1] = true;
#endif
#if defined(KORVEL_RENDO_HAVE_AVX2)
  Overlay(t.Level[2], Kernels3DAVX2);
  t.Built[2] = true;
#endif
  return t;
}

}  // namespace

const T3DKernelTable* Kernel3DTableFor(TKernelLevel level) {
  static const TLevelTables tables = BuildTables();
  const int i = static_cast<int>(level);
  return tables.Built[i] ? &tables.Level[i] : nullptr;
}

const T3DKernelTable& Active3DKernels() {
  static const T3DKernelTable table = *Kernel3DTableFor(ActiveKernelLevel());
  return table;
}

}  // namespace rendo_kernels

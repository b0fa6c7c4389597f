// The flat-run family (AddSaturated, SubtractSaturated, ReverseSubtractSaturated,
// CopyFlat) and Desaturate: the operations the program itself uses. Their frames are the
// public reference's (rendo/reference.h), run here on the kernels of the active level.
#include "engine.h"
#include "kernels_flat.h"
#include "rendo/reference.h"

using rendo_kernels::ActiveFlatKernels;

// One run of count pixels from the target's bits pointer, whatever its stride, width and
// height. The arithmetic members process whole groups of four pixels and leave the count
// mod 4 after them unchanged; the copy copies them too. A negative count does nothing.
void TPixelEngine::FlatRun(TFlatKernel kernel, const void* src, int32_t count, bool leftOversToo) {
  if (!MmxGate()) return;
  const size_t n = leftOversToo ? size_t(count > 0 ? count : 0) : rendo_ref::WholeGroups(count);
  if (n != 0) kernel(reinterpret_cast<uint32_t*>(Bits), static_cast<const uint32_t*>(src), n);
  EndOperation();
}

void TPixelEngine::AddSaturated(const void* src, int32_t count) {
  FlatRun(ActiveFlatKernels().AddSaturated, src, count, false);
}

void TPixelEngine::SubtractSaturated(const void* src, int32_t count) {
  FlatRun(ActiveFlatKernels().SubtractSaturated, src, count, false);
}

void TPixelEngine::ReverseSubtractSaturated(const void* src, int32_t count) {
  FlatRun(ActiveFlatKernels().ReverseSubtractSaturated, src, count, false);
}

void TPixelEngine::CopyFlat(const void* src, int32_t count) {
  // The SSE path of the original streamed with non-temporal stores; the result is the
  // same, so both settings use the one copy kernel.
  FlatRun(ActiveFlatKernels().CopyFlat, src, count, true);
}

// Pairs of pixels from each source run (GetSpan through the table) into the target run;
// an odd last pixel of a run stays unchanged. Source and target may be the same pixels.
void TPixelEngine::Desaturate(const void* src, int32_t srcStride, uint32_t level) {
  if (!MmxGate()) return;
  uint32_t count = 0, rows = 0;
  static_cast<IPixelEngine*>(this)->GetSpan(&count, &rows, srcStride);
  const auto& kernels = ActiveFlatKernels();
  rendo_ref::DesaturateRuns(Bits, Stride, src, srcStride, count, rows, level,
                            ColourSsePath() ? kernels.DesaturateSsePath : kernels.DesaturatePlainPath);
  EndOperation();
}

#include "engine.h"

#include <new>

#include "rendo/reference.h"

namespace {

// Process-wide switches: one copy in the library, shared by every engine object, all 0
// at load. Relaxed atomics cost nothing here and keep a careless caller that flips a
// switch from another thread out of undefined behaviour; ordering between threads is
// still the caller's business.
std::atomic<uint8_t> MmxEnabled{0};
std::atomic<uint8_t> SecondaryFeature{0};
std::atomic<uint8_t> SsePath{0};
std::atomic<uint8_t> BatchMode{0};

bool Mmx() { return MmxEnabled.load(std::memory_order_relaxed) != 0; }

}  // namespace

// The end of an MMX-style operation clears the MMX state (EMMS, all x87 registers tagged
// empty) so that a caller that used MMX registers before the call may use floating point
// after it; batch mode lets such a caller run many operations and clear it once. The
// kernels themselves never touch MMX or x87 state, so this is only the caller's promise.
void TPixelEngine::ClearMmxState() {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("emms" ::: "memory");
#endif
}

// IRendoUnknown ------------------------------------------------------------------

int32_t TPixelEngine::QueryInterface(const TGUID* iid, void** out) {
  if (out == nullptr) return RENDO_E_POINTER;
  *out = nullptr;
  if (iid == nullptr) return RENDO_E_POINTER;
  IRendoUnknown* found = nullptr;
  if (*iid == IID_IUnknown || *iid == IID_IPixelEngine)
    found = static_cast<IPixelEngine*>(this);
  else if (*iid == IID_IPixelEffects)
    found = static_cast<IPixelEffects*>(this);
  else if (*iid == IID_ICpuFeatures)
    found = static_cast<ICpuFeatures*>(this);
  else if (*iid == IID_IWireframe3D)
    found = static_cast<IWireframe3D*>(this);
  if (found == nullptr) return RENDO_E_NOINTERFACE;
  *out = found;
  found->AddRef();
  return RENDO_S_OK;
}

uint32_t TPixelEngine::AddRef() { return uint32_t(RefCount.fetch_add(1) + 1); }

uint32_t TPixelEngine::Release() {
  const int32_t left = RefCount.fetch_sub(1) - 1;
  if (left == 0) {
    // CreateInstance made exactly a TPixelEngine, so this is the complete object. The
    // explicit two steps say so; a delete-expression on a non-final class without a
    // virtual destructor would (rightly, in general) be flagged.
    this->~TPixelEngine();
    ::operator delete(this);
    return 0;
  }
  return uint32_t(left);
}

// ICpuFeatures -------------------------------------------------------------------

void TPixelEngine::SetMmxEnabled(int32_t flag) { MmxEnabled.store(uint8_t(flag), std::memory_order_relaxed); }
void TPixelEngine::SetSecondaryFeature(int32_t flag) {
  // Stored only: no operation reads it.
  SecondaryFeature.store(uint8_t(flag), std::memory_order_relaxed);
}
void TPixelEngine::SetSseEnabled(int32_t flag) { SsePath.store(uint8_t(flag), std::memory_order_relaxed); }

// Target and frame ---------------------------------------------------------------

void TPixelEngine::SetBatchMode(uint32_t flag) {
  const uint8_t low = uint8_t(flag);
  if (low == 0 && Mmx()) ClearMmxState();
  BatchMode.store(low, std::memory_order_relaxed);
}

void TPixelEngine::SetTarget(void* bits, int32_t stride, uint32_t width, uint32_t height) {
  Bits = static_cast<uint8_t*>(bits);
  Stride = stride;
  Width = width;
  Height = height;
}

// A source and a target whose rows both lie exactly width pixels apart are one run of
// width x height pixels; otherwise every row is a run of its own.
void TPixelEngine::GetSpan(uint32_t* outCount, uint32_t* outRows, int32_t srcStride) {
  rendo_ref::SpanOf(Width, Height, Stride, srcStride, outCount, outRows);
}

void TPixelEngine::EndOperation() {
  if (BatchMode.load(std::memory_order_relaxed) == 0) ClearMmxState();
}

bool TPixelEngine::MmxGate() { return Mmx(); }
bool TPixelEngine::ColourSsePath() { return SsePath.load(std::memory_order_relaxed) != 0; }

// The flat-run family and Desaturate: ops_flat.cpp.

// Reserved slots: they do nothing, now and later.
void TPixelEngine::Reserved43(int32_t, int32_t) {}
void TPixelEngine::Reserved50(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void TPixelEngine::Reserved51(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void TPixelEngine::Reserved52(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void TPixelEngine::Reserved53(int32_t, int32_t, int32_t, int32_t, int32_t) {}

// IWireframe3D: ops_wireframe.cpp; IPixelEffects and RenderTunnel: ops_effects.cpp.

// The library's one export -------------------------------------------------------

extern "C" RENDO_API int32_t RENDO_CALL CreateInstance(IPixelEngine** out) {
  if (out == nullptr) return RENDO_E_POINTER;
  auto* engine = new (std::nothrow) TPixelEngine;
  if (engine == nullptr) {
    *out = nullptr;
    return RENDO_E_OUTOFMEMORY;
  }
  IPixelEngine* main = engine;
  *out = main;
  return int32_t(main->AddRef());
}

// The object's first four words are its four table pointers (binary contract).
static_assert(sizeof(IPixelEngine) == sizeof(void*) && sizeof(IPixelEffects) == sizeof(void*) &&
              sizeof(ICpuFeatures) == sizeof(void*) && sizeof(IWireframe3D) == sizeof(void*));

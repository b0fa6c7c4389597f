#include "rendoif.h"

#include "ucpuid.h"

// Engine is defined before EngineEffects so that, should ReleaseEngine not have run,
// static destruction still releases them in the order shutdown would.
void* EngineLibrary = nullptr;
TRendoCreateInstance EngineCreateInstance = nullptr;
TInterfaceRef<IPixelEngine> Engine;
TInterfaceRef<IPixelEffects> EngineEffects;

namespace {

constexpr const char* kInterfaceError = "インターフェイスはサポートされていません。";

// Queries Source for Iid and takes over the reference the query added.
template <class T>
TInterfaceRef<T> QueryRequired(IRendoUnknown* Source, const TGUID& Iid) {
  void* out = nullptr;
  if (Source->QueryInterface(&Iid, &out) != RENDO_S_OK || out == nullptr) throw EEngineInterface(kInterfaceError);
  auto* itf = static_cast<T*>(out);
  TInterfaceRef<T> ref(itf);  // +1
  itf->Release();             // hand back the query's own reference
  return ref;
}

}  // namespace

void BindEngine() {
  // CreateInstance hands over one reference; Engine keeps exactly that one.
  IPixelEngine* created = nullptr;
  EngineCreateInstance(&created);
  if (created == nullptr) return;  // out of memory in the library: run without it
  Engine = TInterfaceRef<IPixelEngine>(created);
  created->Release();

  EngineEffects = QueryRequired<IPixelEffects>(Engine.get(), IID_IPixelEffects);
  {
    TInterfaceRef<ICpuFeatures> features = QueryRequired<ICpuFeatures>(EngineEffects.get(), IID_ICpuFeatures);
    ApplyCpuFeatures(features.get());
  }
}

void ReleaseEngine() {
  EngineEffects = TInterfaceRef<IPixelEffects>();
  Engine = TInterfaceRef<IPixelEngine>();
}

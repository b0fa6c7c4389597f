// The object model the lock and the event share on every platform: interface queries and
// reference counting. The objects themselves are in synchronize.cpp / synchronize_win.cpp.
#include "synchronize.h"

namespace {

int32_t AnswerQuery(IRefCounted* Self, const TInterfaceID& Iid, const TInterfaceID& Own, void** Obj) {
  if (!Obj) return kQueryNoInterface;
  if (Iid == Own || Iid == IID_IRefCounted) {
    *Obj = Self;
    Self->AddRef();
    return kQueryOk;
  }
  *Obj = nullptr;
  return kQueryNoInterface;
}

}  // namespace

int32_t TSynchronize::QueryInterface(const TInterfaceID& Iid, void** Obj) {
  return AnswerQuery(this, Iid, IID_ISynchronize, Obj);
}

uint32_t TSynchronize::AddRef() { return ++FRefCount; }

uint32_t TSynchronize::Release() {
  const uint32_t N = --FRefCount;
  if (N == 0) delete this;
  return N;
}

int32_t TAutomaticEvent::QueryInterface(const TInterfaceID& Iid, void** Obj) {
  return AnswerQuery(this, Iid, IID_IAutomaticEvent, Obj);
}

uint32_t TAutomaticEvent::AddRef() { return ++FRefCount; }

uint32_t TAutomaticEvent::Release() {
  const uint32_t N = --FRefCount;
  if (N == 0) delete this;
  return N;
}

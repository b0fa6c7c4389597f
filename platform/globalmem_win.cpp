#include "globalmem.h"

#include <windows.h>

#include <new>
#include <utility>

TGlobalBuffer::TGlobalBuffer(size_t Bytes) : FSize(Bytes) {
  FHandle = GlobalAlloc(GMEM_FIXED, Bytes);
  if (FHandle == nullptr) throw std::bad_alloc();
  FData = static_cast<char*>(GlobalLock(FHandle));
}

TGlobalBuffer::~TGlobalBuffer() { Free(); }

TGlobalBuffer::TGlobalBuffer(TGlobalBuffer&& Other) noexcept
    : FHandle(std::exchange(Other.FHandle, nullptr)), FData(std::exchange(Other.FData, nullptr)),
      FSize(std::exchange(Other.FSize, 0)) {}

TGlobalBuffer& TGlobalBuffer::operator=(TGlobalBuffer&& Other) noexcept {
  if (this != &Other) {
    Free();
    FHandle = std::exchange(Other.FHandle, nullptr);
    FData = std::exchange(Other.FData, nullptr);
    FSize = std::exchange(Other.FSize, 0);
  }
  return *this;
}

void TGlobalBuffer::Free() {
  if (FHandle == nullptr) return;
  GlobalUnlock(FHandle);
  GlobalFree(FHandle);
  FHandle = nullptr;
  FData = nullptr;
}

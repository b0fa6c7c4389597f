#include "globalmem.h"

#include <utility>

TGlobalBuffer::TGlobalBuffer(size_t Bytes) : FData(new char[Bytes]), FSize(Bytes) {}

TGlobalBuffer::~TGlobalBuffer() { Free(); }

TGlobalBuffer::TGlobalBuffer(TGlobalBuffer&& Other) noexcept
    : FData(std::exchange(Other.FData, nullptr)), FSize(std::exchange(Other.FSize, 0)) {}

TGlobalBuffer& TGlobalBuffer::operator=(TGlobalBuffer&& Other) noexcept {
  if (this != &Other) {
    Free();
    FData = std::exchange(Other.FData, nullptr);
    FSize = std::exchange(Other.FSize, 0);
  }
  return *this;
}

void TGlobalBuffer::Free() {
  delete[] FData;
  FData = nullptr;
}

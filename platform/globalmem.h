#pragma once
// Memory for a capture buffer, as the design allocates it: a fixed block of global memory
// (GlobalAlloc with GMEM_FIXED, then GlobalLock for its address) on Windows, plain heap
// memory on Linux (globalmem.cpp / globalmem_win.cpp). Its address does not move while it
// lives; it is freed (GlobalUnlock, GlobalFree) when the object goes.
#include <cstddef>

class TGlobalBuffer {
public:
  TGlobalBuffer() = default;
  // Raises std::bad_alloc when the system has no block of that size.
  explicit TGlobalBuffer(size_t Bytes);
  ~TGlobalBuffer();
  TGlobalBuffer(const TGlobalBuffer&) = delete;
  TGlobalBuffer& operator=(const TGlobalBuffer&) = delete;
  TGlobalBuffer(TGlobalBuffer&& Other) noexcept;
  TGlobalBuffer& operator=(TGlobalBuffer&& Other) noexcept;

  char* Data() const { return FData; }
  size_t Size() const { return FSize; }

private:
  void Free();
  void* FHandle = nullptr;  // the HGLOBAL on Windows; unused on Linux
  char* FData = nullptr;
  size_t FSize = 0;
};

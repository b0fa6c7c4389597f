#pragma once
// Shared by the engine's tests through the binary interface.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "rendo/rendo.h"

// Blue, green, red and the fourth byte, each taken modulo 256.
inline uint32_t Pixel(uint32_t b, uint32_t g, uint32_t r, uint32_t a = 0) {
  return (b & 0xFFu) | (g & 0xFFu) << 8 | (r & 0xFFu) << 16 | (a & 0xFFu) << 24;
}

// n seeded random pixels; one in eight has its second and fourth bytes full, one in eight
// has them empty, where saturating arithmetic goes wrong.
inline std::vector<uint32_t> RandomImage(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> v(n);
  for (auto& p : v) {
    p = rng();
    if ((p & 7) == 0) p |= 0xFF00FF00u;
    if ((p & 7) == 1) p &= 0x00FF00FFu;
  }
  return v;
}

// Every pixel of `pixels` seen as rows `pitch` pixels apart is want(x, y).
template <class TWant>
void ExpectPixels(const std::vector<uint32_t>& pixels, uint32_t pitch, TWant want) {
  for (uint32_t i = 0; i < pixels.size(); ++i)
    ASSERT_EQ(pixels[i], want(i % pitch, i / pitch)) << "pixel " << i % pitch << "," << i / pitch;
}

// The interface `iid` of `from`, with one reference; a failed query fails the test.
template <typename T>
T* Query(IRendoUnknown* from, const TGUID& iid) {
  void* out = nullptr;
  EXPECT_EQ(from->QueryInterface(&iid, &out), RENDO_S_OK);
  return static_cast<T*>(out);
}

// One engine per test with the switches as the program sets them on a modern machine
// (MMX and SSE on, secondary feature off, no batch). The switches are process-wide, so
// every test states the ones it relies on.
class TEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { Create(); }
  void TearDown() override { Destroy(); }
  void Create() {
    ASSERT_EQ(CreateInstance(&Engine), 1);
    Cpu = Query<ICpuFeatures>(Engine, IID_ICpuFeatures);
    Cpu->SetSecondaryFeature(0);
    Cpu->SetSseEnabled(1);
    Cpu->SetMmxEnabled(1);
    Engine->SetBatchMode(0);
  }
  void Destroy() {  // leaves MMX on, as a test of another suite expects it
    Cpu->SetMmxEnabled(1);
    Cpu->Release();
    EXPECT_EQ(Engine->Release(), 0u);
  }
  // A target of width x height pixels whose rows are `pitch` pixels apart (0: packed).
  void Bind(std::vector<uint32_t>& target, uint32_t width, uint32_t height, uint32_t pitch = 0) {
    Engine->SetTarget(target.data(), int32_t((pitch ? pitch : width) * 4), width, height);
  }
  // A new target bound as Bind does, every pixel `fill` (moving a vector keeps its buffer).
  std::vector<uint32_t> Target(uint32_t width, uint32_t height, uint32_t fill, uint32_t pitch = 0) {
    std::vector<uint32_t> target(size_t(pitch ? pitch : width) * height, fill);
    Bind(target, width, height, pitch);
    return target;
  }
  IPixelEngine* Engine = nullptr;
  ICpuFeatures* Cpu = nullptr;
};

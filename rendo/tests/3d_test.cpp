// IWireframe3D, IPixelEffects and RenderTunnel through the public header and
// librendo.so, and the tunnel kernels of every built level against the reference.
#if !defined(_WIN32)
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "kernels_3d.h"
#include "kernels_3d_ref.h"
#include "engine_fixture.h"
#include "kernel_compare.h"

namespace {

constexpr float kHalfPi = 1.5707963267948966f;
constexpr uint32_t kBlank = 0x5A5A5A5Au;

// Scales along the axes, then a move (row vectors: the move is the last row).
TRendoMatrix Affine(float sx, float sy, float sz, float x = 0, float y = 0, float z = 0) {
  return {{sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, x, y, z, 1}};
}
TRendoMatrix IdentityMatrix() { return Affine(1, 1, 1); }
TRendoMatrix Translation(float x, float y, float z) { return Affine(1, 1, 1, x, y, z); }

TRendoVertex Vertex(float x, float y, float z, uint32_t color = 0x00112233u) {
  return {x, y, z, {}, color};
}

// A target of width x height pixels with `pad` extra pixels per row and guard rows above
// and below, all filled with kBlank: any write outside the bound pixels shows.
struct TTarget {
  TTarget(uint32_t width, uint32_t height, uint32_t pad = 0)
      : Width(width), Height(height), Pitch(width + pad), Memory(size_t(Pitch) * (height + 2) + 1, kBlank) {}
  uint32_t* Bits() { return Memory.data() + Pitch; }
  int32_t Stride() const { return int32_t(Pitch * 4); }
  uint32_t& At(uint32_t x, uint32_t y) { return Bits()[size_t(y) * Pitch + x]; }
  // The (x, y) of every written pixel with rows `pitch` pixels apart (the stride when 0);
  // guard writes, and at the stride padding writes, are reported at y = -1.
  std::set<std::pair<int, int>> Written(uint32_t pitch = 0) {
    const long p = long(pitch != 0 ? pitch : Pitch);
    std::set<std::pair<int, int>> out;
    for (size_t i = 0; i < Memory.size(); ++i) {
      if (Memory[i] == kBlank) continue;
      const long k = long(i) - long(Pitch);
      const long y = k / p, x = k % p;
      if (k < 0 || k >= long(Pitch) * long(Height) || x >= long(Width))
        out.insert({int(i), -1});
      else
        out.insert({int(x), int(y)});
    }
    return out;
  }
  uint32_t Width, Height, Pitch;
  std::vector<uint32_t> Memory;
};

class Rendo3DEngine : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    Wire = Query<IWireframe3D>(Engine, IID_IWireframe3D);
    Effects = Query<IPixelEffects>(Engine, IID_IPixelEffects);
    Cpu->SetMmxEnabled(0);  // none of these operations is gated: run them with MMX off
    const TRendoMatrix identity = IdentityMatrix();
    EXPECT_EQ(Wire->Reset(), Wire);
    Wire->SetMatrix(0, &identity);
  }
  void TearDown() override {
    Wire->Release();
    Effects->Release();
    TEngineTest::TearDown();
  }
  // A new target, bound (moving it keeps its memory).
  TTarget Bound(uint32_t width, uint32_t height, uint32_t pad = 0) {
    TTarget t(width, height, pad);
    Engine->SetTarget(t.Bits(), t.Stride(), t.Width, t.Height);
    return t;
  }
  void Draw(const std::vector<TRendoVertex>& v, const std::vector<TRendoSegment>& s) {
    Wire->DrawLines(v.data(), 0, s.data(), int32_t(s.size()));
  }
  // The pixels the segments write on a fresh 40 x 40 target.
  std::set<std::pair<int, int>> DrawFresh(const std::vector<TRendoVertex>& v, const std::vector<TRendoSegment>& s) {
    auto t = Bound(40, 40);
    Draw(v, s);
    return t.Written();
  }
  IWireframe3D* Wire = nullptr;
  IPixelEffects* Effects = nullptr;
};

std::set<std::pair<int, int>> Row(int y, int x0, int x1) {
  std::set<std::pair<int, int>> s;
  for (int x = x0; x <= x1; ++x) s.insert({x, y});
  return s;
}

// Matrices ----------------------------------------------------------------------------

void ExpectMatrix(const TRendoMatrix& m, const float (&want)[16]) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.M[i], want[i], 1e-6f) << "element " << i;
}

TEST_F(Rendo3DEngine, PerspectiveQuarterTurnGivesTheTextbookElements) {
  TRendoMatrix m;
  for (float& e : m.M) e = 7.0f;
  EXPECT_EQ(Wire->Perspective(&m, kHalfPi, 1.0f, 1.0f, 2.0f), 0);
  ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 1, 0, 0, -2, 0});
  Wire->Perspective(&m, kHalfPi, 0.5f, 1.0f, 3.0f);
  ExpectMatrix(m, {0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.5f, 1, 0, 0, -1.5f, 0});
}

TEST_F(Rendo3DEngine, LookAtBuildsTheViewAndFallsBackWhenUpIsParallel) {
  TRendoMatrix m;
  const TRendoVector origin{0, 0, 0}, eye{0, 0, -5}, up{0, 1, 0};
  Wire->LookAt(&m, &eye, &origin, &up);
  ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1});

  // Up along the view: u falls back to (0, 1, 0) made orthogonal to z.
  const TRendoVector upAlongZ{0, 0, 3};
  Wire->LookAt(&m, &eye, &origin, &upAlongZ);
  ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1});

  // Looking straight up with up = y: both (0, 1, 0) and up vanish, u becomes (0, 0, 1),
  // x = u cross z = (-1, 0, 0).
  const TRendoVector below{0, -2, 0};
  Wire->LookAt(&m, &below, &origin, &up);
  ExpectMatrix(m, {-1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 2, 1});

  // Eye on the target: a defined view along +z instead of NaN.
  Wire->LookAt(&m, &origin, &origin, &up);
  ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

// With the combined matrix the identity a point (X, Y) lands on screen at
// (W/2 + X * floor(W/4), H/2 - Y * floor(H/4)): on 40 x 40, (20 + 10 X, 20 - 10 Y).
TEST_F(Rendo3DEngine, CombinedMatrixIsInverseOfMatrix0TimesMatrix1TimesMatrix2) {
  const std::vector<TRendoVertex> v = {Vertex(-1, 0.5f, 0.5f), Vertex(1, 0.5f, 0.5f)};
  EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, 10, 30));  // identity after Reset + SetMatrix(0, identity)

  // Matrix 0 moves the camera by +0.5 in x: the picture moves the other way.
  const TRendoMatrix moveCamera = Translation(0.5f, 0, 0);
  Wire->SetMatrix(0, &moveCamera);
  EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, 5, 25));

  // Row vectors: matrix 1 (shift x by 0.5) applies before matrix 2 (scale x by 0.5),
  // giving x' = (x + 0.5) / 2 - in the other order it would be x / 2 + 0.5.
  const TRendoMatrix identity = IdentityMatrix(), shift = Translation(0.5f, 0, 0);
  const TRendoMatrix half = Affine(0.5f, 1, 1);
  Wire->SetMatrix(0, &identity);
  Wire->SetMatrix(1, &shift);
  Wire->SetMatrix(2, &half);
  EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, 17, 27));

  // Reset restores matrices 0, 1, 2 but not the combined matrix; the next SetMatrix
  // (any kind, even one that copies nothing) recomputes it.
  Wire->Reset();
  EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, 17, 27));
  Wire->SetMatrix(7, &shift);
  EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, 10, 30));
}

TEST_F(Rendo3DEngine, Matrix0WithoutAffineInverseCountsAsIdentity) {
  const std::vector<TRendoVertex> v = {Vertex(-1, 0.5f, 0.5f), Vertex(1, 0.5f, 0.5f)};
  TRendoMatrix projective = Translation(0.5f, 0, 0);
  projective.M[7] = 0.002f;  // last column off by more than 0.001
  const TRendoMatrix singular = Affine(0, 1, 1);
  TRendoMatrix almost = Translation(0.5f, 0, 0);
  almost.M[3] = 0.0009f;  // within 0.001: still inverted as affine
  for (const auto& [matrix, x0, x1] : {std::tuple{projective, 10, 30}, {singular, 10, 30}, {almost, 5, 25}}) {
    Wire->SetMatrix(0, &matrix);
    EXPECT_EQ(DrawFresh(v, {{0, 1}}), Row(15, x0, x1));
  }
}

// DrawLines ---------------------------------------------------------------------------

TEST_F(Rendo3DEngine, HorizontalSegmentClippedToTheRightEdgeStopsAtTheLastColumn) {
  // Padding after each row and guard rows: the clipped end lies at x = width.
  for (uint32_t pad : {0u, 3u}) {
    auto t = Bound(40, 40, pad);
    const std::vector<TRendoVertex> v = {Vertex(-10, 0.5f, 0.5f, 0x00ABCDEFu), Vertex(10, 0.5f, 0.5f, 1)};
    Draw(v, {{0, 1}});
    EXPECT_EQ(t.Written(t.Width), Row(15, 0, 39)) << "pad " << pad;  // rows of width pixels
    EXPECT_EQ(t.Bits()[15 * t.Width], 0x00ABCDEFu);  // the first vertex's colour
    // On the last row a write past the end would leave the buffer's bound pixels.
    t = Bound(40, 40, pad);
    const std::vector<TRendoVertex> low = {Vertex(-10, -1.85f, 0.5f), Vertex(10, -1.85f, 0.5f)};
    Draw(low, {{0, 1}});
    EXPECT_EQ(t.Written(t.Width), Row(38, 0, 39)) << "pad " << pad;
  }
}

// Vertical segments include both ends and skip the outermost columns; sloped ones step
// from the lower end and leave the far end out; segments beyond a limit draw nothing.
TEST_F(Rendo3DEngine, SegmentsClipAndWalk) {
  using TPoints = std::set<std::pair<int, int>>;
  auto walk = [](int n, const std::function<std::pair<int, int>(int)>& at) {
    TPoints s;
    for (int k = 0; k < n; ++k) s.insert(at(k));
    return s;
  };
  struct TCase {
    const char* Name;
    std::vector<TRendoVertex> V;
    std::vector<TRendoSegment> S;
    TPoints Want;
  };
  const TCase cases[] = {
      {"vertical", {Vertex(0.5f, -1, 0.5f), Vertex(0.5f, 1, 0.5f)}, {{0, 1}},
       walk(21, [](int k) { return std::pair{25, 10 + k}; })},
      // Wholly left or right of the view: clipped onto column 0 or width, not drawn. A
      // tall one is clipped to rows 1..39.
      {"clipped",
       {Vertex(-5, -1, 0.5f), Vertex(-3, 1, 0.5f), Vertex(3, -1, 0.5f), Vertex(5, 1, 0.5f), Vertex(-0.5f, -9, 0.5f),
        Vertex(-0.5f, 9, 0.5f)},
       {{0, 1}, {2, 3}, {4, 5}},
       walk(39, [](int k) { return std::pair{15, 1 + k}; })},
      // Screen (10, 30) to (30, 20), drawn from the smaller x: the row rising one every two.
      {"x-major", {Vertex(1, 0, 0.5f), Vertex(-1, -1, 0.5f)}, {{0, 1}},
       walk(20, [](int k) { return std::pair{10 + k, 30 - k / 2}; })},
      // Screen (20, 10) to (25, 30): x one step every four rows.
      {"y-major", {Vertex(0.5f, -1, 0.5f), Vertex(0, 1, 0.5f)}, {{0, 1}},
       walk(20, [](int k) { return std::pair{20 + k / 4, 10 + k}; })},
      // Both ends in one pixel (but not equal as floats): nothing.
      {"one pixel", {Vertex(0.01f, 0.01f, 0.5f), Vertex(0.02f, 0.02f, 0.5f)}, {{0, 1}}, {}},
      // Above the top limit (y >= 1.9) or below the bottom one, the far end beyond depth 1,
      // the near end before depth 0: nothing. Depths exactly 0 and 1 are inside.
      {"above", {Vertex(-1, 1.95f, 0.5f), Vertex(1, 2.5f, 0.5f)}, {{0, 1}}, {}},
      {"below", {Vertex(-1, -1.95f, 0.5f), Vertex(1, -3, 0.5f)}, {{0, 1}}, {}},
      {"far", {Vertex(-1, 0, 0.5f), Vertex(1, 0, 1.5f)}, {{0, 1}}, {}},
      {"near", {Vertex(-1, 0, -0.25f), Vertex(1, 0.5f, 0.5f)}, {{0, 1}}, {}},
      {"depth edges", {Vertex(-1, 0.5f, 0), Vertex(1, 0.5f, 1)}, {{0, 1}}, Row(15, 10, 30)},
  };
  for (const auto& c : cases) EXPECT_EQ(DrawFresh(c.V, c.S), c.Want) << c.Name;
}

TEST_F(Rendo3DEngine, ProjectedCubeStaysInsideAndWeightZeroDrawsNothing) {
  TRendoMatrix view, projection;
  const TRendoVector eye{1.5f, 1, -3}, at{0, 0, 0}, up{0, 1, 0};
  Wire->LookAt(&view, &eye, &at, &up);
  Wire->Perspective(&projection, kHalfPi, 1.0f, 1.0f, 20.0f);
  Wire->SetMatrix(1, &view);
  Wire->SetMatrix(2, &projection);
  std::vector<TRendoVertex> v;
  for (int i = 0; i < 8; ++i) v.push_back(Vertex(i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f));
  std::vector<TRendoSegment> s;
  for (uint16_t a = 0; a < 8; ++a)
    for (uint16_t bit : {1, 2, 4})
      if ((a & bit) == 0) s.push_back({a, uint16_t(a | bit)});
  auto t = Bound(64, 48);
  Draw(v, s);
  const auto written = t.Written();
  EXPECT_GT(written.size(), 50u);
  for (const auto& p : written) ASSERT_GE(p.second, 0) << "write outside the target at memory index " << p.first;

  // A vertex on the camera plane has weight 0: its segments are dropped.
  EXPECT_TRUE(DrawFresh({Vertex(1.5f, 1, -3), Vertex(0, 0, 0)}, {{0, 1}, {1, 0}}).empty());
}

// Random matrices and vertices, wild values included, on targets of awkward sizes: no
// write may leave the bound pixels.
TEST_F(Rendo3DEngine, RandomSegmentsNeverWriteOutsideTheTarget) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  const float wild[] = {0.0f, 1e-30f, -1e30f, 1e30f, INFINITY, -INFINITY, NAN, 2.0f, -3.0f};
  auto value = [&](float scale) { return rng() % 8 == 0 ? wild[rng() % 9] : unit(rng) * scale; };
  for (int round = 0; round < 200; ++round) {
    const uint32_t w = 1 + rng() % 70, h = 1 + rng() % 50;
    auto t = Bound(w, h, rng() % 3);
    for (int kind = 0; kind < 3; ++kind) {
      TRendoMatrix m = IdentityMatrix();
      for (float& e : m.M)
        if (rng() % 3 == 0) e = value(2.0f);
      Wire->SetMatrix(kind, &m);
    }
    std::vector<TRendoVertex> v;
    for (int i = 0; i < 16; ++i) v.push_back(Vertex(value(4), value(4), value(1), 0x00FFFFFFu));
    std::vector<TRendoSegment> s;
    for (int i = 0; i < 64; ++i) s.push_back({uint16_t(rng() % 16), uint16_t(rng() % 16)});
    Draw(v, s);
    for (const auto& p : t.Written(t.Width))
      ASSERT_GE(p.second, 0) << "round " << round << " " << w << "x" << h << ": write outside at index " << p.first;
  }
}

// Effects -------------------------------------------------------------------------------

TEST_F(Rendo3DEngine, AlignedAllocAlignsRejectsNonPowersOfTwoAndFrees) {
  for (uint32_t bad : {3u, 0x80000001u}) {
    errno = 0;
    EXPECT_EQ(Effects->AlignedAlloc(100, bad), nullptr) << bad;
    EXPECT_EQ(errno, EINVAL) << bad;
  }

  // Alignment 0 and 1 to 8192; every block at least 4-byte aligned.
  std::vector<void*> blocks;
  for (uint32_t align = 0; align <= 8192; align = std::max(1u, align * 2))
    for (uint32_t size : {0u, 1u, 7u, 100u, 4096u}) {
      void* b = Effects->AlignedAlloc(size, align);
      ASSERT_NE(b, nullptr) << align << " " << size;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % std::max(align, 4u), 0u) << align;
      std::memset(b, 0xCD, size);
      blocks.push_back(b);
    }
  for (void* b : blocks) Effects->AlignedFree(b);
  Effects->AlignedFree(nullptr);
}

TEST_F(Rendo3DEngine, LightRampRisesWithTheCosineToTheFullColourAndClampsAtBlack) {
  std::vector<uint32_t> ramp(256 + 1, kBlank);
  EXPECT_EQ(Effects->BuildLightRamp(ramp.data(), 256, 0x00FF0000u, 0, 0, 1), 256);
  EXPECT_EQ(ramp[255], 0x00FF0000u);
  EXPECT_EQ(ramp[256], kBlank);
  for (int i = 0; i < 256; ++i) {
    const uint32_t red = uint32_t(255.0 * std::cos((255 - i) * 0.006135921875));
    EXPECT_EQ(ramp[i], red << 16) << "entry " << i;
    if (i > 0) {
      EXPECT_GE(ramp[i], ramp[i - 1]);
    }
  }
  EXPECT_EQ(ramp[0], 0x00010000u);  // 255 cos(255 pi / 512) = 1.56

  // Ambient and specular add to every channel and saturate at 255.
  // Last entry, k = 1: c * 51 / 255 + 100 + c for c = 0xC0, 0x40, 0x20.
  Effects->BuildLightRamp(ramp.data(), 4, 0x00C04020u, 51, 100, 2);
  EXPECT_EQ(ramp[3], (255u << 16) | (176u << 8) | 138u);

  // Beyond a quarter turn.
  ramp.assign(600, kBlank);
  EXPECT_EQ(Effects->BuildLightRamp(ramp.data(), 600, 0x00FFFFFFu, 0, 10, 1.5f), 600);
  // k < 0 for the first entries: no wrapped bytes, black.
  EXPECT_EQ(ramp[0], 0u);
  EXPECT_EQ(ramp[599], 0x00FFFFFFu);
  EXPECT_EQ(Effects->BuildLightRamp(ramp.data(), 0, 0x00FFFFFFu, 0, 0, 1), 0);
}

// RenderTunnel ----------------------------------------------------------------------------

TEST_F(Rendo3DEngine, TunnelWithWhiteShadesAndOffsetsReadsTheMovedTexel) {
  const auto texture = RandomImage(65536, 3);
  const uint32_t w = 13, h = 5;
  std::vector<uint16_t> uv(w * h);
  std::mt19937 rng(4);
  for (auto& e : uv) e = uint16_t(rng());
  uv[0] = 0x12FF;  // u = 255 wraps to 0
  uv[1] = 0xFF34;  // v = 255 wraps with a v offset
  const std::vector<uint32_t> white(w * h, 0x00FFFFFFu);
  for (const auto off : {TRendoPoint{0, 0}, {1, 0}, {257, 0}, {0, 1}, {200, 100}}) {
    auto t = Bound(w, h, 3);
    Engine->RenderTunnel(texture.data(), uv.data(), white.data(), off.X, off.Y);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t e = uv[y * w + x];
        const uint32_t u = (e + off.X) & 0xFF, v = ((e >> 8) + off.Y) & 0xFF;
        const uint32_t texel = texture[v * 256 + u];
        uint32_t want = 0;
        for (int b = 0; b < 3; ++b) want |= ((texel >> (8 * b) & 0xFF) * 255 / 256) << (8 * b);
        ASSERT_EQ(t.At(x, y), want) << "offset " << off.X << "," << off.Y << ": " << x << "," << y;
      }
    EXPECT_EQ(t.Written().size(), size_t(w * h));  // padding and guards untouched
  }
  // Offset (1, 0) reads one column further right in the texture.
  std::vector<uint16_t> next(uv);
  for (auto& e : next) e = uint16_t((e & 0xFF00) | ((e + 1) & 0xFF));
  auto plain = Bound(w, h);
  Engine->RenderTunnel(texture.data(), next.data(), white.data(), 0, 0);
  auto shifted = Bound(w, h);
  Engine->RenderTunnel(texture.data(), uv.data(), white.data(), 1, 0);
  EXPECT_EQ(plain.Memory, shifted.Memory);
}

TEST_F(Rendo3DEngine, TunnelShadesEveryByteLaneIncludingTheFourth) {
  const std::vector<uint32_t> texture(65536, 0xFF80FF01u);
  const uint32_t w = 3, h = 2;
  const std::vector<uint16_t> uv(w * h, 0);
  const std::vector<uint32_t> shade = {0, 0xFFFFFFFFu, 0x80808080u, 0x01020304u, 0x00FFFFFFu, 0xFF000000u};
  auto t = Bound(w, h);
  Engine->RenderTunnel(texture.data(), uv.data(), shade.data(), 0, 0);
  EXPECT_EQ(std::vector<uint32_t>(t.Bits(), t.Bits() + w * h),
            (std::vector<uint32_t>{0, 0xFE7FFE00u, 0x7F407F00u, 0x00010200u, 0x007FFE00u, 0xFE000000u}));
}

// Tunnel maps -------------------------------------------------------------------------------

TEST_F(Rendo3DEngine, TunnelMap1HasDepthZeroAndFullShadeAtRadius200) {
  const int32_t w = 401, h = 3;
  std::vector<uint16_t> uv(w * h + 1, 0xBEEF);
  std::vector<uint32_t> shade(w * h + 1, kBlank);
  Effects->BuildTunnelMap1(uv.data(), shade.data(), 0, 1, w, h, 1.0f, 1.0f);
  EXPECT_EQ(uv[w * h], 0xBEEF);
  EXPECT_EQ(shade[w * h], kBlank);
  const size_t at200 = size_t(w) + 200;  // row 1 = originY: (200, 0), r = 200
  EXPECT_EQ(uv[at200], 127);  // v 0; u at theta 0: pi' * 40.7436150283 = 127.99999999999928
  EXPECT_EQ(shade[at200], 0x00FFFFFFu);
  // At the origin: depth 15360 * 200 / 4000 = 768 (low byte 0), shade 255 - 255 = 0.
  EXPECT_EQ(uv[w] >> 8, 0);
  EXPECT_EQ(shade[w], 0u);
  // The scales stretch the radius: scaleX 2 puts r = 200 at column 100.
  Effects->BuildTunnelMap1(uv.data(), shade.data(), 0, 1, w, h, 2.0f, 1.0f);
  EXPECT_EQ(shade[size_t(w) + 100], 0x00FFFFFFu);
  EXPECT_EQ(uv[size_t(w) + 100] >> 8, 0);
}

TEST_F(Rendo3DEngine, EveryTunnelMapFillsExactlyItsEntriesWithGreys) {
  const int32_t w = 37, h = 23;
  using TBuild = std::function<void(uint16_t*, uint32_t*)>;
  const std::vector<std::pair<const char*, TBuild>> maps = {
      {"1", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap1(u, s, 18, 11, w, h, 1, 1); }},
      {"2", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap2(u, s, w, h); }},
      {"3", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap3(u, s, w, h, 1.5f, 2.0f, 3, 1); }},
      {"4", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap4(u, s, w, h); }},
      {"5", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap5(u, s, w, h, 2.0f); }},
      {"6", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap6(u, s, w, h, 2.0f); }},
      {"7", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap7(u, s, w, h, 30.0f); }},
      {"8", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap8(u, s, w, h); }},
      {"9", [&](uint16_t* u, uint32_t* s) { Effects->BuildTunnelMap9(u, s, w, h, 3.0f); }},
  };
  for (const auto& [name, build] : maps) {
    std::vector<uint16_t> uv(w * h + 4, 0xBEEF);
    std::vector<uint32_t> shade(w * h + 4, kBlank);
    build(uv.data(), shade.data());
    std::set<uint16_t> distinct(uv.begin(), uv.begin() + w * h);
    EXPECT_GT(distinct.size(), 20u) << "map " << name;
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(shade[i], (shade[i] & 0xFF) * 0x010101u) << "map " << name << " " << i;
    EXPECT_EQ(std::vector(uv.end() - 4, uv.end()), std::vector<uint16_t>(4, 0xBEEF)) << name;
    EXPECT_EQ(std::vector(shade.end() - 4, shade.end()), std::vector(4, kBlank)) << name;
  }
}

TEST_F(Rendo3DEngine, TunnelMapCentresAndTheFlatTilt) {
  const int32_t w = 9, h = 7;
  const size_t centre = size_t(h / 2) * w + w / 2;
  std::vector<uint16_t> uv(w * h);
  std::vector<uint32_t> shade(w * h);
  // Map 5 is black at its centre; the lenses 8 and 9 have u = 0, v = 255 and full shade.
  const std::tuple<int, std::function<void()>, uint16_t, uint32_t> centres[] = {
      {5, [&] { Effects->BuildTunnelMap5(uv.data(), shade.data(), w, h, 5.0f); }, 0, 0u},
      {8, [&] { Effects->BuildTunnelMap8(uv.data(), shade.data(), w, h); }, 0xFF00, 0x00FFFFFFu},
      {9, [&] { Effects->BuildTunnelMap9(uv.data(), shade.data(), w, h, 2.0f); }, 0xFF00, 0x00FFFFFFu},
  };
  for (const auto& [map, build, wantUv, wantShade] : centres) {
    build();
    EXPECT_EQ(uv[centre], wantUv) << "map " << map;
    EXPECT_EQ(shade[centre], wantShade) << "map " << map;
  }

  // A 1 x 1 lens has R = 0; its one pixel is the lens centre.
  uint16_t oneUv = 0;
  uint32_t oneShade = 0;
  Effects->BuildTunnelMap8(&oneUv, &oneShade, 1, 1);
  EXPECT_EQ(oneUv, 0xFF00);
  EXPECT_EQ(oneShade, 0x00FFFFFFu);
  // Zero scales give the waving tunnel no logarithm: black, not NaN turned into bytes.
  Effects->BuildTunnelMap3(uv.data(), shade.data(), w, h, 0.0f, 1.0f, 0, 0);
  EXPECT_EQ(std::count(shade.begin(), shade.end(), 0u), w * h);

  // Tilt 0: u is 0 everywhere, v = 256 - 256 row / height, shade 0.
  Effects->BuildTunnelMap7(uv.data(), shade.data(), w, h, 0.0f);
  for (size_t k = 0; k < uv.size(); ++k) {
    EXPECT_EQ(uv[k], (uint32_t(256 - 256 * int(k / w) / 7.0) & 0xFF) << 8) << "row " << k / w;
    EXPECT_EQ(shade[k], 0u);
  }
  // Tilts beyond 80 degrees act as 80.
  std::vector<uint16_t> uv80(w * h);
  std::vector<uint32_t> shade80(w * h);
  Effects->BuildTunnelMap7(uv80.data(), shade80.data(), w, h, 80.0f);
  Effects->BuildTunnelMap7(uv.data(), shade.data(), w, h, 170.0f);
  EXPECT_EQ(uv, uv80);
  EXPECT_EQ(shade, shade80);
}

#if !defined(_WIN32)
TEST_F(Rendo3DEngine, WindowAlphaWithoutLibX11InTheProcessFails) {
  if (void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD)) {
    dlclose(x11);
    GTEST_SKIP() << "libX11 is loaded in this process";
  }
  EXPECT_EQ(Effects->SetWindowAlpha(reinterpret_cast<void*>(uintptr_t(0x400001)), 128), 0);
  EXPECT_EQ(Effects->SetWindowAlpha(reinterpret_cast<void*>(uintptr_t(0x400001)), 256), 0);
}
#endif

// Tunnel kernels: every built level against the reference, in one run ---------------------

TEST(RendoTunnelKernels, EveryLevelMatchesTheReference) {
  using namespace rendo_kernels;
  const auto texture = RandomImage(65536, 11);
  const T3DKernelTable& ref = *Kernel3DTableFor(TKernelLevel::Ref);
  std::mt19937 rng(12);
  const auto levels = SimdLevelsWith(Kernel3DTableFor);
  for (TKernelLevel level : levels)
    for (size_t count : {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 1001, 100003})
      for (size_t offset = 0; offset < 3; ++offset)
        for (uint32_t offsets : {0x0000u, 0x0001u, 0x0100u, 0xFFFFu, 0x80C3u}) {
          std::vector<uint16_t> uv(count + offset);
          std::vector<uint32_t> shade(count + offset), want(kGuard + offset + count + kGuard, kBlank), got(want);
          for (auto& e : uv) e = uint16_t(rng());
          for (auto& s : shade) s = rng() % 4 == 0 ? 0xFFFFFFFFu : rng();
          const size_t at = kGuard + offset;
          ref.RenderTunnel(want.data() + at, texture.data(), uv.data() + offset, shade.data() + offset, count, offsets);
          Kernel3DTableFor(level)->RenderTunnel(got.data() + at, texture.data(), uv.data() + offset,
                                                shade.data() + offset, count, offsets);
          ASSERT_EQ(FirstDifference("RenderTunnel", level, count, offset, offsets, want, got), "");
        }
  std::printf("tunnel kernels compared at %zu SIMD level(s); active %s\n", levels.size(),
              KernelLevelName(ActiveKernelLevel()));
}

TEST(RendoTunnelKernels, ReferenceShadesExactly) {
  for (uint32_t t : {0u, 1u, 128u, 255u})
    for (uint32_t s : {0u, 1u, 128u, 255u})
      EXPECT_EQ(rendo_3d_ref::ShadeTexel(t * 0x01010101u, s * 0x01010101u),
                t * s / 256 * 0x01010101u) << t << " " << s;
}

}  // namespace

// IWireframe3D: the three matrices, their combination, the view and projection matrices,
// and projected line lists drawn onto the target. Not gated by the MMX switch.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine.h"

namespace {

// Matrices ---------------------------------------------------------------------------
//
// 16 floats, row-major; points are row vectors multiplied on the left: p' = p x M, so
// element r * 4 + c is row r, column c; the translation is row 3 and the homogeneous
// weight is column 3.

constexpr int kMatrix0 = 0, kMatrix1 = 1, kCombined = 2, kMatrix2 = 3;

void Identity(float* m) {
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void Multiply(const float* a, const float* b, float* out) {
  float r[16];
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 4; ++col) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a[row * 4 + k] * b[k * 4 + col];
      r[row * 4 + col] = sum;
    }
  std::memcpy(out, r, sizeof r);
}

// The affine inverse: only for a matrix whose last column is (0, 0, 0, 1) within 0.001
// per element. The upper 3x3 A is inverted by cofactors over its determinant; the last
// column becomes (0, 0, 0, 1) and the translation row t becomes -(t x A^-1).
// Returns false (out untouched) for a matrix that is not affine, or whose 3x3 part is
// singular or not finite: no affine inverse exists then.
bool AffineInverse(const float* m, float* out) {
  auto near = [](float value, float want) { return std::fabs(value - want) <= 0.001f; };  // false for NaN
  if (!near(m[3], 0) || !near(m[7], 0) || !near(m[11], 0) || !near(m[15], 1)) return false;
  const float a = m[0], b = m[1], c = m[2];
  const float d = m[4], e = m[5], f = m[6];
  const float g = m[8], h = m[9], i = m[10];
  const float c00 = e * i - f * h, c01 = -(d * i - f * g), c02 = d * h - e * g;
  const float det = a * c00 + b * c01 + c * c02;
  if (det == 0.0f || !std::isfinite(det)) return false;
  // inverse = adjugate / det; the adjugate is the transposed cofactor matrix.
  const float inv[9] = {c00 / det,
                        -(b * i - c * h) / det,
                        (b * f - c * e) / det,
                        c01 / det,
                        (a * i - c * g) / det,
                        -(a * f - c * d) / det,
                        c02 / det,
                        -(a * h - b * g) / det,
                        (a * e - b * d) / det};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) out[row * 4 + col] = inv[row * 3 + col];
    out[row * 4 + 3] = 0.0f;
  }
  for (int col = 0; col < 3; ++col)
    out[12 + col] = -(m[12] * inv[col] + m[13] * inv[3 + col] + m[14] * inv[6 + col]);
  out[15] = 1.0f;
  return true;
}

struct TVec {
  float X, Y, Z;
};
TVec Sub(TVec a, TVec b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
TVec Scale(TVec a, float k) { return {a.X * k, a.Y * k, a.Z * k}; }
float Dot(TVec a, TVec b) { return a.X * b.X + a.Y * b.Y + a.Z * b.Z; }
float Length(TVec a) { return std::sqrt(Dot(a, a)); }
TVec Cross(TVec a, TVec b) { return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X}; }

// Line projection and raster ----------------------------------------------------------

struct TEnd {
  float X, Y, Z;
};

// Moves end b along the line through a and b until its coordinate `main` (X or Y) equals
// limit; the other two coordinates follow the line. When a already lies at b's main
// coordinate the line gives no direction, and b keeps its other coordinates.
void MoveEnd(TEnd& b, const TEnd& a, float TEnd::*main, float TEnd::*other, float limit) {
  const float span = b.*main - a.*main;
  if (span != 0.0f) {
    const float t = (limit - a.*main) / span;
    b.*other = a.*other + (b.*other - a.*other) * t;
    b.Z = a.Z + (b.Z - a.Z) * t;
  }
  b.*main = limit;
}

// Moves each end lying at or beyond -limit or +limit onto that limit, first end first,
// the second along the line through the moved first.
void ClipAxis(TEnd& e0, TEnd& e1, float TEnd::*main, float TEnd::*other, float limit) {
  if (e0.*main <= -limit)
    MoveEnd(e0, e1, main, other, -limit);
  else if (e0.*main >= limit)
    MoveEnd(e0, e1, main, other, limit);
  if (e1.*main <= -limit)
    MoveEnd(e1, e0, main, other, -limit);
  else if (e1.*main >= limit)
    MoveEnd(e1, e0, main, other, limit);
}

// Truncation towards zero that stays defined for any finite float: values beyond the
// clamp lie far outside every target and are rejected by the raster's bounds anyway.
int64_t Truncate(float v) {
  constexpr float kFar = 1073741824.0f;  // 2^30
  return int64_t(std::clamp(v, -kFar, kFar));
}

bool InDepth(float z) { return z >= 0.0f && z <= 1.0f; }  // false for NaN

// Writes solid pixels into a target; every write is checked against the target's size.
struct TRaster {
  uint8_t* Bits;
  int64_t Stride;
  int64_t Width;
  int64_t Height;
  uint32_t Color;

  bool Inside(int64_t x, int64_t y) const { return x >= 0 && x < Width && y >= 0 && y < Height; }
  void Put(int64_t x, int64_t y) const { *reinterpret_cast<uint32_t*>(Bits + y * Stride + x * 4) = Color; }

  // The four drawing cases on screen coordinates (x right, y down).
  void Line(const TEnd& a, const TEnd& b) const {
    const int64_t x0 = Truncate(a.X), y0 = Truncate(a.Y), x1 = Truncate(b.X), y1 = Truncate(b.Y);
    if (a.X == b.X) {
      // Vertical: both ends included, only away from the outermost columns (a segment
      // entirely left or right of the view arrives here clipped onto column 0 or width).
      if (x0 < 1 || x0 > Width - 2) return;
      const int64_t top = std::max<int64_t>(std::min(y0, y1), 0), bottom = std::min(std::max(y0, y1), Height - 1);
      for (int64_t y = top; y <= bottom; ++y) Put(x0, y);
      return;
    }
    if (a.Y == b.Y) {
      // Horizontal: both ends included. A clipped end on the right edge lies at x = width,
      // one past the last column; that pixel is left out.
      if (y0 < 0 || y0 >= Height) return;
      const int64_t left = std::max<int64_t>(std::min(x0, x1), 0), right = std::min(std::max(x0, x1), Width - 1);
      for (int64_t x = left; x <= right; ++x) Put(x, y0);
      return;
    }
    const int64_t dx = x1 - x0, dy = y1 - y0;
    const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    if (adx > ady) {
      // x-major: |dx| pixels from the end with the smaller x, x rising; the error gains |dy|
      // per pixel and moves the row one step towards the other end when it reaches |dx|.
      int64_t x = dx > 0 ? x0 : x1, y = dx > 0 ? y0 : y1;
      const int64_t yEnd = dx > 0 ? y1 : y0, step = yEnd > y ? 1 : -1;
      int64_t error = 0;
      for (int64_t n = 0; n < adx; ++n) {
        if (!Inside(x, y)) return;  // a pixel outside the target ends the line
        Put(x, y);
        ++x;
        error += ady;
        if (error >= adx) {
          error -= adx;
          y += step;
        }
      }
      return;
    }
    // y-major, the same with x and y exchanged; |dy| = 0 (both ends in one pixel) draws
    // nothing.
    int64_t y = dy > 0 ? y0 : y1, x = dy > 0 ? x0 : x1;
    const int64_t xEnd = dy > 0 ? x1 : x0, step = xEnd > x ? 1 : -1;
    int64_t error = 0;
    for (int64_t n = 0; n < ady; ++n) {
      if (!Inside(x, y)) return;
      Put(x, y);
      ++y;
      error += adx;
      if (error >= ady) {
        error -= ady;
        x += step;
      }
    }
  }
};

}  // namespace

// IWireframe3D ------------------------------------------------------------------------------

IWireframe3D* TPixelEngine::Reset() {
  Identity(Matrices[kMatrix0]);
  Identity(Matrices[kMatrix1]);
  Identity(Matrices[kMatrix2]);
  return this;
}

// combined = inverse(matrix 0) x matrix 1 x matrix 2. A matrix 0 without an affine inverse
// (last column not (0, 0, 0, 1) within 0.001, or a singular 3x3 part) counts as the
// identity, so the combined matrix is then matrix 1 x matrix 2.
void TPixelEngine::SetMatrix(int32_t kind, const TRendoMatrix* matrix) {
  static constexpr int kSlot[3] = {kMatrix0, kMatrix1, kMatrix2};
  if (kind >= 0 && kind <= 2 && matrix != nullptr) std::memcpy(Matrices[kSlot[kind]], matrix->M, sizeof matrix->M);
  float inverse[16];
  if (!AffineInverse(Matrices[kMatrix0], inverse)) Identity(inverse);
  Multiply(inverse, Matrices[kMatrix1], Matrices[kCombined]);
  Multiply(Matrices[kCombined], Matrices[kMatrix2], Matrices[kCombined]);
}

// A view matrix: z looks from eye to at, u is up made orthogonal to z, x = u cross z;
// rows (x.x, u.x, z.x, 0), (x.y, u.y, z.y, 0), (x.z, u.z, z.z, 0), (-x.eye, -u.eye, -z.eye, 1).
void TPixelEngine::LookAt(TRendoMatrix* out, const TRendoVector* eye, const TRendoVector* at,
                          const TRendoVector* up) {
  const TVec e{eye->X, eye->Y, eye->Z}, a{at->X, at->Y, at->Z}, upv{up->X, up->Y, up->Z};
  TVec z = Sub(a, e);
  const float zLength = Length(z);
  // An eye on the target point gives no direction; look along +z then rather than
  // filling the matrix with NaN.
  z = (zLength > 0.0f && std::isfinite(zLength)) ? Scale(z, 1.0f / zLength) : TVec{0, 0, 1};
  constexpr float kShort = 0.000001f;
  TVec u = Sub(upv, Scale(z, Dot(upv, z)));
  if (Length(u) < kShort) u = Sub(TVec{0, 1, 0}, Scale(z, z.Y));
  if (Length(u) < kShort) u = Sub(TVec{0, 0, 1}, Scale(z, z.Z));
  u = Scale(u, 1.0f / Length(u));
  const TVec x = Cross(u, z);
  const float m[16] = {x.X, u.X, z.X, 0, x.Y, u.Y, z.Y, 0, x.Z, u.Z, z.Z, 0, -Dot(x, e), -Dot(u, e), -Dot(z, e), 1};
  std::memcpy(out->M, m, sizeof m);
}

// c = cot(fov / 2): m00 = c * aspect, m11 = c, m22 = far / (far - near), m23 = 1,
// m32 = -near * far / (far - near), every other element 0.
int32_t TPixelEngine::Perspective(TRendoMatrix* out, float fov, float aspect, float zNear, float zFar) {
  const double half = double(fov) / 2.0;
  const float c = float(std::cos(half) / std::sin(half));
  std::memset(out->M, 0, sizeof out->M);
  out->M[0] = c * aspect;
  out->M[5] = c;
  out->M[10] = zFar / (zFar - zNear);
  out->M[11] = 1.0f;
  out->M[14] = -zNear * zFar / (zFar - zNear);
  return 0;
}

// Each segment: both ends through the combined matrix and divided by their weight; a
// quarter of the target per unit; clipped to the view (x to +-width/2, y to
// +-(height/2 - 1)); y turned downwards; dropped when a depth lies outside 0..1; drawn
// in the first vertex's colour.
//
// The row pitch is the width in pixels, not the stride (callers written for packed
// targets rely on it; with any stride of at least width x 4 bytes every pixel stays
// inside the surface). A segment with a coordinate that is not finite (a weight of 0, a
// degenerate matrix) is dropped.
void TPixelEngine::DrawLines(const TRendoVertex* vertices, int32_t reserved, const TRendoSegment* pairs,
                             int32_t count) {
  if (vertices == nullptr || pairs == nullptr || count <= 0 || Bits == nullptr || Width == 0 || Height == 0) return;
  const float* m = Matrices[kCombined];
  const float unitX = float(Width / 4), unitY = float(Height / 4);
  const float hw = float(Width) / 2.0f, hh = float(Height) / 2.0f - 1.0f, midY = float(Height) / 2.0f;
  TRaster raster{Bits, int64_t(Width) * 4, int64_t(Width), int64_t(Height), 0};
  auto project = [&](const TRendoVertex& v) {
    const float x = v.X * m[0] + v.Y * m[4] + v.Z * m[8] + m[12];
    const float y = v.X * m[1] + v.Y * m[5] + v.Z * m[9] + m[13];
    const float z = v.X * m[2] + v.Y * m[6] + v.Z * m[10] + m[14];
    const float w = v.X * m[3] + v.Y * m[7] + v.Z * m[11] + m[15];
    if (w == 0.0f) return TEnd{NAN, NAN, NAN};  // on the camera plane: no projection
    return TEnd{x / w * unitX, y / w * unitY, z / w};
  };
  auto finite = [](const TEnd& e) { return std::isfinite(e.X) && std::isfinite(e.Y) && std::isfinite(e.Z); };

  for (int32_t s = 0; s < count; ++s) {
    const TRendoVertex& first = vertices[pairs[s].First];
    TEnd e0 = project(first), e1 = project(vertices[pairs[s].Second]);
    if (!finite(e0) || !finite(e1)) continue;

    if (e0.X != e1.X) ClipAxis(e0, e1, &TEnd::X, &TEnd::Y, hw);
    if ((e0.Y <= -hh && e1.Y <= -hh) || (e0.Y >= hh && e1.Y >= hh)) continue;  // wholly below or above
    if (e0.Y != e1.Y) ClipAxis(e0, e1, &TEnd::Y, &TEnd::X, hh);
    e0.X = hw + e0.X;
    e1.X = hw + e1.X;
    e0.Y = midY - e0.Y;
    e1.Y = midY - e1.Y;

    if (!InDepth(e0.Z) || !InDepth(e1.Z) || !finite(e0) || !finite(e1)) continue;
    raster.Color = first.Color;
    raster.Line(e0, e1);
  }
}


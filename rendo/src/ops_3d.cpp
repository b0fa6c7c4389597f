// IWireframe3D, IPixelEffects and RenderTunnel: matrices and projected line lists, the
// aligned allocator, window translucency, the lighting ramp, the tunnel-map generators
// and the tunnel renderer.
//
// None of these is gated by the MMX switch. RenderTunnel clears the MMX state at its end
// whatever the batch mode.
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine.h"
#include "kernels_3d.h"

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

// Tunnel maps ---------------------------------------------------------------------------

// The constant the generators use for pi.
constexpr double kPi = 3.14159654;

// Low 8 bits of a formula truncated towards zero; a value with no integer (NaN, infinite
// or beyond 2^53) gives 0.
uint32_t Low8(double v) {
  if (!(std::fabs(v) < 9.0e15)) return 0;
  return uint32_t(int64_t(v)) & 0xFFu;
}

uint16_t Coordinate(double u, double v) { return uint16_t(Low8(u) | Low8(v) << 8); }

// A shade s as the grey s * 0x010101 (fourth byte 0). The shade formulas stay within
// 0..255 except at the far corners of the lens maps; there the grey saturates instead of
// wrapping to a dark pixel. NaN gives black.
uint32_t Grey(double s) {
  if (!(s > 0.0)) return 0;
  const uint32_t g = s >= 255.0 ? 255u : uint32_t(s);
  return g * 0x010101u;
}

// Walks the height x width pixels in row order with x and y the offset from the centre
// (column - floor(width / 2), row - floor(height / 2)), r and theta their polar form, and
// stores what `pixel` returns (coordinate entry, shade entry).
template <typename TPixel>
void WalkCentred(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, TPixel pixel) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const float y = float(row - height / 2);
    for (int32_t col = 0; col < width; ++col, ++k) {
      const float x = float(col - width / 2);
      const float r = float(std::sqrt(double(x) * x + double(y) * y));
      const float theta = float(std::atan2(double(y), double(x)));
      const auto [uv, shade] = pixel(row, x, y, r, theta);
      uvMap[k] = uv;
      shadeMap[k] = shade;
    }
  }
}

struct TEntry {
  uint16_t Uv;
  uint32_t Shade;
};

// R of the lens maps: sqrt(h * (h / 2) / 2 + w * (w / 2) / 2) in integer products, about
// half the diagonal. It is 0 only for a 1 x 1 map, whose one pixel (r = 0) is then taken
// at the centre of the lens.
double LensRadius(int32_t width, int32_t height) {
  const int64_t h = height, w = width;
  return std::sqrt(double(h * (h / 2) / 2 + w * (w / 2) / 2));
}

double LensRatio(float r, double radius) { return radius > 0.0 ? double(r) / radius : 0.0; }

// Window translucency through libX11 ------------------------------------------------------
//
// The window handle is an X11 window id. The library does not link libX11: it uses the
// copy already loaded in the process (by the caller's toolkit) and opens a connection of
// its own to the caller's display ($DISPLAY). The few Xlib types are declared here so
// that building the library needs no X11 headers.

using TXDisplay = void;
using TXId = unsigned long;
using TXErrorHandler = int (*)(TXDisplay*, void*);

struct TX11 {
  bool Found = false;  // the lookup succeeded once; never repeated after that
  TXDisplay* (*OpenDisplay)(const char*) = nullptr;
  TXId (*InternAtom)(TXDisplay*, const char*, int) = nullptr;
  int (*ChangeProperty)(TXDisplay*, TXId, TXId, TXId, int, int, const unsigned char*, int) = nullptr;
  int (*DeleteProperty)(TXDisplay*, TXId, TXId) = nullptr;
  int (*ClearArea)(TXDisplay*, TXId, int, int, unsigned, unsigned, int) = nullptr;
  int (*Sync)(TXDisplay*, int) = nullptr;
  TXErrorHandler (*SetErrorHandler)(TXErrorHandler) = nullptr;
  TXDisplay* Display = nullptr;
  TXId OpacityAtom = 0;
};

// Process-wide, like the switches; the library's callers serialise their calls.
TX11 X11;
TXErrorHandler PreviousXErrorHandler = nullptr;
bool XErrorSeen = false;

// Errors on our own connection are recorded for the call that caused them; errors of
// other Xlib connections in the process go to the handler that was installed before.
int RecordXError(TXDisplay* display, void* event) {
  if (display == X11.Display) {
    XErrorSeen = true;
    return 0;
  }
  return PreviousXErrorHandler != nullptr ? PreviousXErrorHandler(display, event) : 0;
}

template <typename TFn>
bool Symbol(void* module, const char* name, TFn& fn) {
  fn = reinterpret_cast<TFn>(dlsym(module, name));
  return fn != nullptr;
}

// True once libX11 is in the process with every function we call and our connection to
// the display is open. A miss is not remembered: the next call tries again.
bool X11Ready() {
  if (!X11.Found) {
    void* module = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr) return false;
    TX11 found;
    const bool all = Symbol(module, "XOpenDisplay", found.OpenDisplay) &&
                     Symbol(module, "XInternAtom", found.InternAtom) &&
                     Symbol(module, "XChangeProperty", found.ChangeProperty) &&
                     Symbol(module, "XDeleteProperty", found.DeleteProperty) &&
                     Symbol(module, "XClearArea", found.ClearArea) && Symbol(module, "XSync", found.Sync) &&
                     Symbol(module, "XSetErrorHandler", found.SetErrorHandler);
    // The module stays referenced while its functions are remembered.
    if (!all) {
      dlclose(module);
      return false;
    }
    found.Found = true;
    X11 = found;
  }
  if (X11.Display == nullptr) {
    X11.Display = X11.OpenDisplay(nullptr);
    if (X11.Display == nullptr) return false;
    X11.OpacityAtom = X11.InternAtom(X11.Display, "_NET_WM_WINDOW_OPACITY", 0);
  }
  return X11.OpacityAtom != 0;
}

constexpr TXId kXaCardinal = 6;    // XA_CARDINAL
constexpr int kPropModeReplace = 0;

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

// RenderTunnel ------------------------------------------------------------------------------

// Every target pixel from the next coordinate and shade entries; the maps are read
// continuously (width x height entries), the target row by row at its stride.
void TPixelEngine::RenderTunnel(const uint32_t* texture, const uint16_t* uvMap, const uint32_t* shadeMap,
                                uint32_t uOffset, uint32_t vOffset) {
  if (Bits == nullptr || Width == 0 || Height == 0) return ClearMmxState();
  const uint32_t offsets = (uOffset & 0xFFu) | (vOffset & 0xFFu) << 8;
  const auto kernel = rendo_kernels::Active3DKernels().RenderTunnel;
  // A packed target is one long run for the kernel.
  const bool packed = int64_t(Stride) == int64_t(Width) * 4;
  const size_t run = packed ? size_t(Width) * Height : Width;
  const uint32_t rows = packed ? 1 : Height;
  uint8_t* row = Bits;
  for (uint32_t r = 0; r < rows; ++r, row += Stride, uvMap += run, shadeMap += run)
    kernel(reinterpret_cast<uint32_t*>(row), texture, uvMap, shadeMap, run, offsets);
  ClearMmxState();
}

// IPixelEffects -----------------------------------------------------------------------------

// The caller's pointer is preceded by a pointer-sized word holding the address malloc
// returned (a 64-bit address does not fit the 32-bit word of a 32-bit process). The word
// may be unaligned when the alignment is 4, hence the byte copies.
void* TPixelEngine::AlignedAlloc(uint32_t size, uint32_t alignment) {
  if ((alignment & (alignment - 1)) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  const size_t align = std::max<size_t>(alignment, 4);
  constexpr size_t kWord = sizeof(void*);
  void* block = std::malloc(size_t(size) + align + kWord);
  if (block == nullptr) return nullptr;
  const uintptr_t result = (reinterpret_cast<uintptr_t>(block) + align + kWord) & ~uintptr_t(align - 1);
  std::memcpy(reinterpret_cast<void*>(result - kWord), &block, kWord);
  return reinterpret_cast<void*>(result);
}

void TPixelEngine::AlignedFree(void* p) {
  if (p == nullptr) return;
  const uintptr_t base = reinterpret_cast<uintptr_t>(p) & ~uintptr_t(3);
  void* block = nullptr;
  std::memcpy(&block, reinterpret_cast<const void*>(base - sizeof(void*)), sizeof(void*));
  std::free(block);
}

// Alpha 0..255 sets the window's _NET_WM_WINDOW_OPACITY to alpha scaled to the full
// 32-bit cardinal (255 is 0xFFFFFFFF, opaque); 256 in the low 16 bits removes the
// property and asks for the window to be redrawn. Returns 1 when the display accepted
// the requests, 0 on failure (no libX11 in the process, no display, a bad window).
int32_t TPixelEngine::SetWindowAlpha(void* window, uint32_t alpha) {
  if (!X11Ready()) return 0;
  const TXId id = TXId(reinterpret_cast<uintptr_t>(window));
  XErrorSeen = false;
  PreviousXErrorHandler = X11.SetErrorHandler(RecordXError);
  if ((alpha & 0xFFFFu) == 256) {
    X11.DeleteProperty(X11.Display, id, X11.OpacityAtom);
    X11.ClearArea(X11.Display, id, 0, 0, 0, 0, 1);  // the whole window, with Expose events
  } else {
    // Format-32 property data is passed to Xlib as longs.
    const long opacity = long((alpha & 0xFFu) * 0x01010101u);
    X11.ChangeProperty(X11.Display, id, X11.OpacityAtom, kXaCardinal, 32, kPropModeReplace,
                       reinterpret_cast<const unsigned char*>(&opacity), 1);
  }
  X11.Sync(X11.Display, 0);  // errors of the requests above arrive before this returns
  X11.SetErrorHandler(PreviousXErrorHandler);
  PreviousXErrorHandler = nullptr;
  return XErrorSeen ? 0 : 1;
}

// Entry i of count: k = cos((count - i - 1) * pi / 512) (so the last entry has k = 1),
// highlight = specular * k^power, and per channel c of color
//   value = truncate(ambient * c / 255 + highlight + c * k), at most 255.
// Beyond 257 entries k turns negative; a value below 0 (or NaN, from pow of a negative
// base) is stored as 0 instead of a wrapped byte.
int32_t TPixelEngine::BuildLightRamp(uint32_t* table, int32_t count, uint32_t color, int32_t ambient,
                                     int32_t specular, float power) {
  if (table == nullptr) return count;
  const float channel[3] = {float(color & 0xFFu), float((color >> 8) & 0xFFu), float(color >> 16)};
  for (int32_t i = 0; i < count; ++i) {
    const double k = std::cos(double(count - i - 1) * 0.006135921875);
    const double highlight = double(specular) * std::pow(k, double(power));
    uint32_t entry = 0;
    for (int c = 0; c < 3; ++c) {
      const double value = double(ambient) * channel[c] / 255.0 + highlight + double(channel[c]) * k;
      const uint32_t v = !(value > 0.0) ? 0u : value >= 255.0 ? 255u : uint32_t(value);
      entry |= v << (8 * c);
    }
    table[i] = entry;
  }
  return count;
}

// The round tunnel around (originX, originY):
//   depth = (200 - r) * 15360 / (r * 768 + 4000);  v = depth;  u = (theta + pi') * 256 / (2 pi')
//   shade = 255 - min(255, max(depth, 0)^0.95)
void TPixelEngine::BuildTunnelMap1(uint16_t* uvMap, uint32_t* shadeMap, int32_t originX, int32_t originY,
                                   int32_t width, int32_t height, float scaleX, float scaleY) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const float y = float(double(row) - originY) * scaleY;
    for (int32_t col = 0; col < width; ++col, ++k) {
      const float x = float(double(col) - originX) * scaleX;
      const float r = float(std::sqrt(double(x) * x + double(y) * y));
      const float theta = float(std::atan2(double(y), double(x)));
      const float depth = float((200.0 - r) * 15360.0 / (double(r) * 768.0 + 4000.0));
      uvMap[k] = Coordinate((theta + kPi) * 40.7436150283, depth);
      shadeMap[k] = Grey(255.0 - std::min(255.0, std::pow(std::max(double(depth), 0.0), 0.95)));
    }
  }
}

// Floor and ceiling: the depth from the row alone, two turns of the texture per circle.
void TPixelEngine::BuildTunnelMap2(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  WalkCentred(uvMap, shadeMap, width, height, [](int32_t, float, float y, float, float theta) {
    const double ay = std::fabs(double(y));
    const float d = float((1000.0 - ay) * 7680.0 / (ay * 768.0 + 10000.0));
    return TEntry{Coordinate((theta + kPi) * 81.4872300566, d),
                  Grey(255.0 - std::min(255.0, std::pow(std::max(double(d), 0.0), 0.95)))};
  });
}

// The waving tunnel: with t = row / (height / 2) + 1 running from 1 to 3 down the map,
// each row is pushed sideways, y' = scaleB * (sin(0.22 pi' t) * y - phase), and each
// column squeezed, x' = scaleA * (x * cos(0.14 pi' t) - offset); the tunnel is then round
// in (x', y'): v = r^0.9, u = (atan2(y', x') + pi') * 256 / (2 pi') * 2, and the shade
// grows with ln(r^2) from black at the vanishing point:
//   shade = clamp(ln(r^2 / (64 scaleA scaleB)) * (24 / (scaleA + scaleB) + 32), 0, 255).
// Animating phase and offset sways the tunnel's far end.
void TPixelEngine::BuildTunnelMap3(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                                   float scaleA, float scaleB, int32_t offset, int32_t phase) {
  const double half = double(height) / 2.0;
  const double area = 64.0 * double(scaleA) * double(scaleB);
  const double gain = 24.0 / (double(scaleA) + double(scaleB)) + 32.0;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t row, float x, float y, float, float) {
    const double t = double(row) / half + 1.0;
    const float ys = float(double(scaleB) * (std::sin(t * 0.22 * kPi) * y - double(phase)));
    const float xs = float(double(scaleA) * (double(x) * std::cos(t * 0.14 * kPi) - double(offset)));
    const float r = float(std::sqrt(double(xs) * xs + double(ys) * ys));
    // Scales of opposite signs or zero have no logarithm: black.
    const double shade = area > 0.0 ? std::log(double(r) * r / area) * gain : 0.0;
    return TEntry{Coordinate((std::atan2(double(ys), double(xs)) + kPi) * 81.4872300566, std::pow(double(r), 0.9)),
                  Grey(std::clamp(shade, 0.0, 255.0))};
  });
}

// A rectangular room: the walls meet the view's diagonals at the corner angles A1..A4;
// top and bottom walls take their depth from |y|, the side walls from |x|.
void TPixelEngine::BuildTunnelMap4(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  const double w = width, h = height, turn = 2.0 * kPi;
  const double a1 = std::atan2(h, w), a2 = std::atan2(h, -w);
  const double a3 = std::atan2(-h, w) + turn, a4 = std::atan2(-h, -w) + turn;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float x, float y, float, float) {
    double theta = std::atan2(double(y), double(x));
    if (theta < 0) theta += turn;
    const bool topOrBottom = y != 0.0f && std::fabs(double(x) / double(y)) <= w / h;
    double c, u;
    if (topOrBottom) {
      c = std::fabs(double(y));
      u = (a1 <= theta && theta <= a2) ? 256.0 * (a2 - theta) / (a2 - a1) : 256.0 * (theta - a3) / (a4 - a3);
    } else {
      c = std::fabs(double(x));
      if (a2 <= theta && theta <= a3)
        u = 256.0 * (a2 - theta) / (a3 - a2);
      else if (0.0 <= theta && theta <= a1)
        u = 128.0 * (a1 - theta) / a1;
      else if (a4 <= theta && theta <= turn)
        u = 128.0 * (a4 - theta) / (turn - a4);
      else
        u = theta;
    }
    const float depth = float((200.0 - c) * 230400.0 / (c * 768.0 + 60000.0));
    const double shade = 255.0 - std::min(255.0, std::pow(std::max(double(depth), 0.0) * 2.0 / 3.0, 0.9));
    return TEntry{Coordinate(u, depth), Grey(shade)};
  });
}

// A swirl: the angle turns by twist * (256 - r) / 256; brighter outwards.
void TPixelEngine::BuildTunnelMap5(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) {
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double phi = double(theta) + double(twist) * (256.0 - r) / 256.0;
    return TEntry{Coordinate(r * std::cos(phi), r * std::sin(phi)), Grey(std::min(255.0, double(r) * 1.5))};
  });
}

// A swirl whose u and v turn in opposite senses, in a vignette: full inside a quarter
// of the height, falling off to 0.35 of the height, darker beyond (darkest on the rows
// above height / 40 from the centre).
void TPixelEngine::BuildTunnelMap6(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) {
  const double h = height;
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float y, float r, float theta) {
    const double v = r * std::sin(double(theta) + double(twist) * (256.0 - r) / 256.0);
    const double u = r * std::cos(double(theta) + double(twist) * r / 256.0);
    double shade;
    if (r <= h / 4.0)
      shade = 255.0;
    else if (r < 0.35 * h)
      shade = 255.0 - (r - h / 4.0) * 2.5;
    else if (y < h / 40.0)
      shade = 170.0 - r;
    else
      shade = 255.0 - 1.2 * r;
    return TEntry{Coordinate(u, v), Grey(std::max(shade, 0.0))};
  });
}

// A plane tilted by tilt degrees (0..80): v runs down the rows, u spreads the columns
// with a row factor k; the shade grows with sin(tilt) * row where the texture covers the
// pixel (0 <= u <= 256) and is black elsewhere. At tilt 0 the plane is seen edge on and
// k is 0 / 0: u is stored as 0 (and the shade, sin 0 * row, is 0).
void TPixelEngine::BuildTunnelMap7(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                                   float tiltDegrees) {
  if (uvMap == nullptr || shadeMap == nullptr || width <= 0 || height <= 0) return;
  const float tilt = tiltDegrees > 0.0f ? std::min(tiltDegrees, 80.0f) : 0.0f;  // NaN as 0
  const float alpha = float(double(tilt) * 0.0055555557 * kPi);
  const double ca = std::cos(double(alpha)), sa = std::sin(double(alpha));
  const double w = width, h = height;
  size_t k = 0;
  for (int32_t row = 0; row < height; ++row) {
    const double v = 256.0 - 256.0 * row / (ca * h);
    const double factor = sa == 0.0 ? 0.0 : 1.0 / (ca * w + ((sa * row) / (h * sa)) * (w - ca * w));
    const double lit = std::min(255.0, std::trunc(sa * row));
    for (int32_t col = 0; col < width; ++col, ++k) {
      const double u = sa == 0.0 ? 0.0 : 128.0 + 256.0 * double(col - width / 2) * factor;
      uvMap[k] = Coordinate(u, v);
      shadeMap[k] = (u >= 0.0 && u <= 256.0) ? Grey(lit) : 0u;
    }
  }
}

// A spherical lens: d = sin(pi' r / R) bulges the texture out from the centre.
void TPixelEngine::BuildTunnelMap8(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) {
  const double radius = LensRadius(width, height);
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double d = std::sin(LensRatio(r, radius) * kPi), e = 128.0 * d;
    return TEntry{Coordinate(e * std::cos(double(theta)), 255.0 - e * std::sin(double(theta))),
                  Grey((1.0 - 0.4 * d) * 255.0)};
  });
}

// A lens of adjustable power: g = (r / R)^power, texture radius 128 * sqrt(2) * g.
void TPixelEngine::BuildTunnelMap9(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float power) {
  const double radius = LensRadius(width, height);
  WalkCentred(uvMap, shadeMap, width, height, [&](int32_t, float, float, float r, float theta) {
    const double g = std::pow(LensRatio(r, radius), double(power)), e = 181.01933568 * g;
    return TEntry{Coordinate(e * std::cos(double(theta)), 255.0 - e * std::sin(double(theta))),
                  Grey((1.0 - 0.4 * g) * 255.0)};
  });
}

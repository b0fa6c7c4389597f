// rendo: the pixel engine's binary interface.
//
// This header is the whole contract between the library (librendo.so, rendo.dll) and its
// callers. The library
// exports one C function, CreateInstance, which hands out an engine object in the COM
// style: reference counted, QueryInterface by 16-byte identifier, no class factory.
// Each interface below is an abstract struct whose virtual functions are declared in
// slot order; with the Itanium C++ ABI a struct without a virtual destructor has a
// table whose entry i is the i-th declared virtual function, so the declaration order
// IS the binary layout. Never insert, remove or reorder a function here, and never give
// an interface a virtual destructor (it would add two slots).
//
// Pixels are 32-bit words 0x00RRGGBB: bytes blue, green, red, then a fourth byte that
// takes part in the arithmetic like the others unless an operation says otherwise.
// Records (points, sizes, rectangles, vectors, matrices, pens, fonts, vertex lists) are
// passed by address and never kept after the call.
#pragma once

#include <cstddef>
#include <cstdint>

// A 16-byte interface identifier, laid out as in memory: a 32-bit, two 16-bit fields
// (little-endian), then 8 bytes.
struct TGUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(TGUID) == 16);

inline bool operator==(const TGUID& a, const TGUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

// {00000000-0000-0000-C000-000000000046}
inline constexpr TGUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {52A425C4-6B6F-4557-ACC6-D3CF48980D5A}
inline constexpr TGUID IID_IPixelEngine = {0x52A425C4, 0x6B6F, 0x4557, {0xAC, 0xC6, 0xD3, 0xCF, 0x48, 0x98, 0x0D, 0x5A}};
// {4B114DFB-0048-4DF3-871B-FC5475F10F04}
inline constexpr TGUID IID_IPixelEffects = {0x4B114DFB, 0x0048, 0x4DF3, {0x87, 0x1B, 0xFC, 0x54, 0x75, 0xF1, 0x0F, 0x04}};
// {0B5B156A-3262-46E5-B51C-A2359A70A454}
inline constexpr TGUID IID_ICpuFeatures = {0x0B5B156A, 0x3262, 0x46E5, {0xB5, 0x1C, 0xA2, 0x35, 0x9A, 0x70, 0xA4, 0x54}};
// {9E686542-1C56-4A73-9F89-AC0838347785}
inline constexpr TGUID IID_IWireframe3D = {0x9E686542, 0x1C56, 0x4A73, {0x9F, 0x89, 0xAC, 0x08, 0x38, 0x34, 0x77, 0x85}};

// Result codes of QueryInterface and CreateInstance (the COM values).
inline constexpr int32_t RENDO_S_OK = 0;
inline constexpr int32_t RENDO_E_NOINTERFACE = static_cast<int32_t>(0x80004002u);
inline constexpr int32_t RENDO_E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
inline constexpr int32_t RENDO_E_POINTER = static_cast<int32_t>(0x80004003u);

// The library builds with hidden visibility; only what carries RENDO_API is exported.
#if defined(RENDO_BUILDING_LIBRARY) && defined(_WIN32)
#define RENDO_API __declspec(dllexport)
#elif defined(RENDO_BUILDING_LIBRARY)
#define RENDO_API __attribute__((visibility("default")))
#else
#define RENDO_API
#endif

// The COM calling convention of every table slot and of CreateInstance: on 32-bit Windows
// __stdcall (all arguments on the stack, the interface pointer first, the callee removes
// them), which is what any Windows caller of a COM-style table assumes; a C++ member
// function there would otherwise pass the object in ECX (thiscall). Elsewhere the
// platform's one convention.
#if defined(_WIN32) && defined(__i386__)
#define RENDO_CALL __attribute__((__stdcall__))
#else
#define RENDO_CALL
#endif

// Records -------------------------------------------------------------------------

struct TRendoPoint {
  int32_t X;
  int32_t Y;
};

struct TRendoSize {
  int32_t Width;
  int32_t Height;
};

// All four edges inclusive.
struct TRendoRect {
  int32_t Left;
  int32_t Top;
  int32_t Right;
  int32_t Bottom;
};

// Nine 32-bit words; the engine reads only Color, Mode and Alpha.
struct TRendoPen {
  uint32_t Caller0[4];
  uint32_t Color;  // a pixel value
  int32_t Mode;    // 0 set, 1 add, 2 subtract, 3 blend
  uint32_t Caller1[2];
  uint32_t Alpha;  // per-channel weights 0x00RRGGBB, or one 0..255 value for DrawLineBlend
};
static_assert(sizeof(TRendoPen) == 36);

// One glyph of a bitmap font: first bit in a mask row and width in pixels.
struct TRendoGlyph {
  uint16_t FirstBit;
  uint16_t Width;
};

struct TRendoFont {
  const uint32_t* Bits;       // mask bits, bit n = bit (n mod 32) of word n / 32
  int32_t Pitch;              // bits per mask row
  int32_t Height;             // glyph rows
  const TRendoGlyph* Glyphs;  // one entry per character of Chars
  const char* Chars;          // zero-terminated, the characters in glyph order
  int32_t Spacing;            // pixels added after each glyph
};

struct TRendoVector {
  float X;
  float Y;
  float Z;
};

// Row-major; points are row vectors multiplied on the left, translation in M[12..14].
struct TRendoMatrix {
  float M[16];
};

struct TRendoVertex {
  float X;
  float Y;
  float Z;
  uint32_t Caller[3];
  uint32_t Color;
};
static_assert(sizeof(TRendoVertex) == 28);

struct TRendoSegment {
  uint16_t First;
  uint16_t Second;
};

// Interfaces ------------------------------------------------------------------------
//
// Destructors are protected and non-virtual: an engine object is destroyed by its last
// Release, never through an interface pointer.

struct IRendoUnknown {
  virtual int32_t RENDO_CALL QueryInterface(const TGUID* iid, void** out) = 0;  // slot 0
  virtual uint32_t RENDO_CALL AddRef() = 0;                                     // slot 1
  virtual uint32_t RENDO_CALL Release() = 0;                                    // slot 2

 protected:
  ~IRendoUnknown() = default;
};

// The main interface: target surface and pixel operations.
// src/srcStride: a source laid out like the target whose rows are srcStride bytes apart.
struct IPixelEngine : IRendoUnknown {
  virtual void RENDO_CALL SetBatchMode(uint32_t flag) = 0;                                            // 3
  virtual void RENDO_CALL SetTarget(void* bits, int32_t stride, uint32_t width, uint32_t height) = 0;  // 4
  virtual void RENDO_CALL GetSpan(uint32_t* outCount, uint32_t* outRows, int32_t srcStride) = 0;      // 5
  virtual void RENDO_CALL FadeToBlack(const void* src, int32_t srcStride, uint32_t factor) = 0;       // 6
  virtual void RENDO_CALL FadeToWhite(const void* src, int32_t srcStride, uint32_t factor) = 0;       // 7
  virtual void RENDO_CALL AddColor(const void* src, int32_t srcStride, uint32_t color) = 0;           // 8
  virtual void RENDO_CALL SubtractColor(const void* src, int32_t srcStride, uint32_t color) = 0;      // 9
  virtual void RENDO_CALL AddSaturated(const void* src, int32_t count) = 0;                           // 10
  virtual void RENDO_CALL SubtractSaturated(const void* src, int32_t count) = 0;                      // 11
  virtual void RENDO_CALL ReverseSubtractSaturated(const void* src, int32_t count) = 0;               // 12
  virtual void RENDO_CALL AddScaled(const void* src, int32_t srcStride, uint32_t factor) = 0;         // 13
  virtual void RENDO_CALL CrossFade(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB,
                         uint32_t weight) = 0;  // 14
  virtual void RENDO_CALL MixTwo(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB,
                      uint32_t weightA, uint32_t weightB) = 0;                           // 15
  virtual void RENDO_CALL CopyFlat(const void* src, int32_t count) = 0;                             // 16
  virtual void RENDO_CALL MapPalette(const void* src, int32_t srcStride, const uint32_t* palette) = 0;  // 17
  virtual void RENDO_CALL Copy(const void* src, int32_t srcStride) = 0;                             // 18
  virtual void RENDO_CALL GatherOffsets(const void* base, const int32_t* offsets) = 0;              // 19
  virtual void RENDO_CALL Desaturate(const void* src, int32_t srcStride, uint32_t level) = 0;       // 20
  virtual void RENDO_CALL Invert(const void* src, int32_t srcStride) = 0;                           // 21
  virtual void RENDO_CALL Fill(uint32_t color) = 0;                                                 // 22
  virtual void RENDO_CALL StretchRow(const uint32_t* src, int32_t count, int32_t srcCount) = 0;     // 23
  virtual void RENDO_CALL StretchRowBlend(const uint32_t* src, const uint32_t* under, int32_t count,
                               int32_t srcCount, uint32_t alpha) = 0;  // 24
  virtual void RENDO_CALL Stretch(const uint32_t* src, int32_t width, int32_t srcWidth, int32_t height,
                       int32_t srcHeight) = 0;  // 25
  virtual void RENDO_CALL StretchBlend(const uint32_t* src, const uint32_t* under, int32_t width,
                            int32_t srcWidth, int32_t height, int32_t srcHeight,
                            uint32_t alpha) = 0;  // 26
  virtual void RENDO_CALL TileBlend(const void* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight,
                         int32_t uStart, int32_t vStart, int32_t uStep, int32_t vStep,
                         const void* under, int32_t underStride, uint32_t alpha) = 0;  // 27
  virtual void RENDO_CALL DrawLine(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) = 0;       // 28
  virtual void RENDO_CALL DrawLineBlend(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) = 0;  // 29
  virtual void RENDO_CALL DrawVerticalLine(const TRendoPen* pen, const TRendoRect* rect) = 0;    // 30
  virtual void RENDO_CALL DrawHorizontalLine(const TRendoPen* pen, const TRendoRect* rect) = 0;  // 31
  virtual void RENDO_CALL FillRect(const TRendoPen* pen, const TRendoRect* rect) = 0;            // 32
  virtual void RENDO_CALL PutPixel(uint32_t* p, uint32_t color, int32_t mode) = 0;               // 33
  virtual void RENDO_CALL PutMaskBits(uint32_t* dst, const uint32_t* bits, int32_t bitOffset, int32_t count,
                           uint32_t color, int32_t mode) = 0;  // 34
  virtual void RENDO_CALL DrawMask(const uint32_t* bits, const TRendoSize* size, const TRendoPoint* pos,
                        uint32_t color, int32_t mode) = 0;  // 35
  virtual void RENDO_CALL DrawGlyph(const TRendoFont* font, int32_t index, const TRendoPoint* pos,
                         uint32_t color, int32_t mode) = 0;  // 36
  virtual int32_t RENDO_CALL DrawText(const TRendoFont* font, const char* text, const TRendoPoint* pos,
                           uint32_t color, int32_t mode) = 0;  // 37
  virtual void RENDO_CALL Blur(const void* src) = 0;                                            // 38
  virtual void RENDO_CALL AddNoise(const void* src, int32_t srcStride, uint32_t amount) = 0;       // 39
  virtual void RENDO_CALL SubtractNoise(const void* src, int32_t srcStride, uint32_t amount) = 0;  // 40
  virtual void RENDO_CALL Jitter(const void* src, int32_t srcStride, uint32_t amount) = 0;         // 41
  virtual void RENDO_CALL PackTo24(const void* src, int32_t reserved) = 0;                         // 42
  virtual void RENDO_CALL Reserved43(int32_t a, int32_t b) = 0;                                    // 43
  virtual void RENDO_CALL CopyEllipse(const void* outerSrc, const void* innerSrc, int32_t outerStride,
                           int32_t innerStride, int32_t ellipseWidth, int32_t ellipseHeight,
                           uint32_t copyOuter, int32_t reserved) = 0;  // 44
  virtual void RENDO_CALL Mosaic(const void* src, int32_t srcStride, int32_t block) = 0;  // 45
  virtual void RENDO_CALL Emboss(const void* src, int32_t srcStride) = 0;                 // 46
  virtual void RENDO_CALL Sepia(const void* src, int32_t srcStride) = 0;                  // 47
  virtual void RENDO_CALL ScaleChannels(const void* src, int32_t srcStride, int32_t red, int32_t green,
                             int32_t blue) = 0;  // 48
  virtual void RENDO_CALL RenderTunnel(const uint32_t* texture, const uint16_t* uvMap, const uint32_t* shadeMap,
                            uint32_t uOffset, uint32_t vOffset) = 0;  // 49
  virtual void RENDO_CALL Reserved50(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) = 0;  // 50
  virtual void RENDO_CALL Reserved51(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) = 0;  // 51
  virtual void RENDO_CALL Reserved52(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) = 0;  // 52
  virtual void RENDO_CALL Reserved53(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) = 0;  // 53
  virtual void RENDO_CALL BlendColor(const void* src, int32_t srcStride, uint32_t color, uint32_t alpha) = 0;  // 54
  virtual void RENDO_CALL BlendPixel(uint32_t* p, uint32_t color, uint32_t alpha) = 0;                        // 55

 protected:
  ~IPixelEngine() = default;
};

// Aligned memory, window transparency, a lighting ramp and tunnel-map generators.
struct IPixelEffects : IRendoUnknown {
  virtual void* RENDO_CALL AlignedAlloc(uint32_t size, uint32_t alignment) = 0;  // 3
  virtual void RENDO_CALL AlignedFree(void* p) = 0;                              // 4
  virtual int32_t RENDO_CALL SetWindowAlpha(void* window, uint32_t alpha) = 0;   // 5
  virtual int32_t RENDO_CALL BuildLightRamp(uint32_t* table, int32_t count, uint32_t color, int32_t ambient,
                                 int32_t specular, float power) = 0;  // 6
  virtual void RENDO_CALL BuildTunnelMap1(uint16_t* uvMap, uint32_t* shadeMap, int32_t originX, int32_t originY,
                               int32_t width, int32_t height, float scaleX, float scaleY) = 0;  // 7
  virtual void RENDO_CALL BuildTunnelMap2(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) = 0;  // 8
  virtual void RENDO_CALL BuildTunnelMap3(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                               float scaleA, float scaleB, int32_t offset, int32_t phase) = 0;  // 9
  virtual void RENDO_CALL BuildTunnelMap4(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) = 0;  // 10
  virtual void RENDO_CALL BuildTunnelMap5(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                               float twist) = 0;  // 11
  virtual void RENDO_CALL BuildTunnelMap6(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                               float twist) = 0;  // 12
  virtual void RENDO_CALL BuildTunnelMap7(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                               float tiltDegrees) = 0;  // 13
  virtual void RENDO_CALL BuildTunnelMap8(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) = 0;  // 14
  virtual void RENDO_CALL BuildTunnelMap9(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                               float power) = 0;  // 15

 protected:
  ~IPixelEffects() = default;
};

// Process-wide switches for the processor-dependent code paths.
// Each stores the low byte of its flag; any non-zero low byte switches on.
struct ICpuFeatures : IRendoUnknown {
  virtual void RENDO_CALL SetMmxEnabled(int32_t flag) = 0;        // 3
  virtual void RENDO_CALL SetSecondaryFeature(int32_t flag) = 0;  // 4
  virtual void RENDO_CALL SetSseEnabled(int32_t flag) = 0;        // 5

 protected:
  ~ICpuFeatures() = default;
};

// Three 4x4 matrices and projection of indexed line lists onto the target.
struct IWireframe3D : IRendoUnknown {
  virtual IWireframe3D* RENDO_CALL Reset() = 0;                                          // 3
  virtual void RENDO_CALL SetMatrix(int32_t kind, const TRendoMatrix* matrix) = 0;       // 4
  virtual void RENDO_CALL LookAt(TRendoMatrix* out, const TRendoVector* eye, const TRendoVector* at,
                      const TRendoVector* up) = 0;  // 5
  virtual int32_t RENDO_CALL Perspective(TRendoMatrix* out, float fov, float aspect, float zNear,
                              float zFar) = 0;  // 6
  virtual void RENDO_CALL DrawLines(const TRendoVertex* vertices, int32_t reserved, const TRendoSegment* pairs,
                         int32_t count) = 0;  // 7

 protected:
  ~IWireframe3D() = default;
};

// Slot counts, for callers that walk the tables.
inline constexpr int RENDO_PIXEL_ENGINE_SLOTS = 56;
inline constexpr int RENDO_PIXEL_EFFECTS_SLOTS = 16;
inline constexpr int RENDO_CPU_FEATURES_SLOTS = 6;
inline constexpr int RENDO_WIREFRAME_SLOTS = 8;

// The library's one export. Creates an engine object with reference count 1 and stores
// its IPixelEngine pointer through out; returns that count (1). When memory runs out it
// stores a null pointer and returns RENDO_E_OUTOFMEMORY; a null out returns
// RENDO_E_POINTER and creates nothing.
extern "C" RENDO_API int32_t RENDO_CALL CreateInstance(IPixelEngine** out);

// Type of CreateInstance for callers that look it up at run time (dlsym, GetProcAddress).
using TRendoCreateInstance = int32_t(RENDO_CALL*)(IPixelEngine** out);

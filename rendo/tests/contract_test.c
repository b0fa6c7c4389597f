/* The binary interface as a caller written in C sees it: no project header, the four
 * tables declared here slot by slot with their C argument types and the platform's COM
 * calling convention, the library opened at run time (dlopen, or LoadLibraryA on
 * Windows) and every call made through a table entry. A mismatch in slot order or in an
 * argument's type (an integer read from a floating-point register, a record passed by
 * value) shows as a wrong result here. Exits 0 when every check holds. */
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
static void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }
static void* LibrarySymbol(void* library, const char* name) {
  return (void*)GetProcAddress((HMODULE)library, name);
}
static void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }
static const char* LibraryError(void) {
  static char text[32];
  snprintf(text, sizeof text, "error %lu", (unsigned long)GetLastError());
  return text;
}
#else
#include <dlfcn.h>
static void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }
static const char* LibraryError(void) { return dlerror(); }
static void CloseLibrary(void* library) { dlclose(library); }
#endif

/* What a 32-bit Windows caller declares a COM method with: __stdcall, the interface
 * pointer pushed first of the arguments, the callee removing them. A library built with
 * another convention leaves the stack unbalanced, which shows as a crash or wrong values. */
#if defined(_WIN32) && defined(__i386__)
#define COM __stdcall
#else
#define COM
#endif

typedef struct { uint32_t D1; uint16_t D2, D3; uint8_t D4[8]; } Guid;
typedef struct { int32_t X, Y; } Point;
typedef struct { int32_t Width, Height; } Size;
typedef struct { int32_t Left, Top, Right, Bottom; } Rect;
typedef struct { uint32_t Caller0[4]; uint32_t Color; int32_t Mode; uint32_t Caller1[2]; uint32_t Alpha; } Pen;
typedef struct { uint16_t FirstBit, Width; } Glyph;
typedef struct { const uint32_t* Bits; int32_t Pitch, Height; const Glyph* Glyphs; const char* Chars; int32_t Spacing; } Font;
typedef struct { float X, Y, Z; } Vector;
typedef struct { float M[16]; } Matrix;
typedef struct { float X, Y, Z; uint32_t Caller[3]; uint32_t Color; } Vertex;
typedef struct { uint16_t First, Second; } Segment;

#define UNKNOWN_SLOTS                                    \
  int32_t (COM *QueryInterface)(void*, const Guid*, void**); \
  uint32_t (COM *AddRef)(void*);                             \
  uint32_t (COM *Release)(void*);

typedef void (COM *Reserved5)(void*, int32_t, int32_t, int32_t, int32_t, int32_t);
typedef struct {
  UNKNOWN_SLOTS
  void (COM *SetBatchMode)(void*, uint32_t);
  void (COM *SetTarget)(void*, void*, int32_t, uint32_t, uint32_t);
  void (COM *GetSpan)(void*, uint32_t*, uint32_t*, int32_t);
  void (COM *FadeToBlack)(void*, const void*, int32_t, uint32_t);
  void (COM *FadeToWhite)(void*, const void*, int32_t, uint32_t);
  void (COM *AddColor)(void*, const void*, int32_t, uint32_t);
  void (COM *SubtractColor)(void*, const void*, int32_t, uint32_t);
  void (COM *AddSaturated)(void*, const void*, int32_t);
  void (COM *SubtractSaturated)(void*, const void*, int32_t);
  void (COM *ReverseSubtractSaturated)(void*, const void*, int32_t);
  void (COM *AddScaled)(void*, const void*, int32_t, uint32_t);
  void (COM *CrossFade)(void*, const void*, int32_t, const void*, int32_t, uint32_t);
  void (COM *MixTwo)(void*, const void*, int32_t, const void*, int32_t, uint32_t, uint32_t);
  void (COM *CopyFlat)(void*, const void*, int32_t);
  void (COM *MapPalette)(void*, const void*, int32_t, const uint32_t*);
  void (COM *Copy)(void*, const void*, int32_t);
  void (COM *GatherOffsets)(void*, const void*, const int32_t*);
  void (COM *Desaturate)(void*, const void*, int32_t, uint32_t);
  void (COM *Invert)(void*, const void*, int32_t);
  void (COM *Fill)(void*, uint32_t);
  void (COM *StretchRow)(void*, const uint32_t*, int32_t, int32_t);
  void (COM *StretchRowBlend)(void*, const uint32_t*, const uint32_t*, int32_t, int32_t, uint32_t);
  void (COM *Stretch)(void*, const uint32_t*, int32_t, int32_t, int32_t, int32_t);
  void (COM *StretchBlend)(void*, const uint32_t*, const uint32_t*, int32_t, int32_t, int32_t, int32_t, uint32_t);
  void (COM *TileBlend)(void*, const void*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, const void*,
                    int32_t, uint32_t);
  void (COM *DrawLine)(void*, const Pen*, const Point*, const Point*);
  void (COM *DrawLineBlend)(void*, const Pen*, const Point*, const Point*);
  void (COM *DrawVerticalLine)(void*, const Pen*, const Rect*);
  void (COM *DrawHorizontalLine)(void*, const Pen*, const Rect*);
  void (COM *FillRect)(void*, const Pen*, const Rect*);
  void (COM *PutPixel)(void*, uint32_t*, uint32_t, int32_t);
  void (COM *PutMaskBits)(void*, uint32_t*, const uint32_t*, int32_t, int32_t, uint32_t, int32_t);
  void (COM *DrawMask)(void*, const uint32_t*, const Size*, const Point*, uint32_t, int32_t);
  void (COM *DrawGlyph)(void*, const Font*, int32_t, const Point*, uint32_t, int32_t);
  int32_t (COM *DrawText)(void*, const Font*, const char*, const Point*, uint32_t, int32_t);
  void (COM *Blur)(void*, const void*);
  void (COM *AddNoise)(void*, const void*, int32_t, uint32_t);
  void (COM *SubtractNoise)(void*, const void*, int32_t, uint32_t);
  void (COM *Jitter)(void*, const void*, int32_t, uint32_t);
  void (COM *PackTo24)(void*, const void*, int32_t);
  void (COM *Reserved43)(void*, int32_t, int32_t);
  void (COM *CopyEllipse)(void*, const void*, const void*, int32_t, int32_t, int32_t, int32_t, uint32_t, int32_t);
  void (COM *Mosaic)(void*, const void*, int32_t, int32_t);
  void (COM *Emboss)(void*, const void*, int32_t);
  void (COM *Sepia)(void*, const void*, int32_t);
  void (COM *ScaleChannels)(void*, const void*, int32_t, int32_t, int32_t, int32_t);
  void (COM *RenderTunnel)(void*, const uint32_t*, const uint16_t*, const uint32_t*, uint32_t, uint32_t);
  Reserved5 Reserved50, Reserved51, Reserved52, Reserved53;
  void (COM *BlendColor)(void*, const void*, int32_t, uint32_t, uint32_t);
  void (COM *BlendPixel)(void*, uint32_t*, uint32_t, uint32_t);
} EngineTable;

typedef struct {
  UNKNOWN_SLOTS
  void* (COM *AlignedAlloc)(void*, uint32_t, uint32_t);
  void (COM *AlignedFree)(void*, void*);
  int32_t (COM *SetWindowAlpha)(void*, void*, uint32_t);
  int32_t (COM *BuildLightRamp)(void*, uint32_t*, int32_t, uint32_t, int32_t, int32_t, float);
  void (COM *BuildTunnelMap1)(void*, uint16_t*, uint32_t*, int32_t, int32_t, int32_t, int32_t, float, float);
  void (COM *BuildTunnelMap2)(void*, uint16_t*, uint32_t*, int32_t, int32_t);
  void (COM *BuildTunnelMap3)(void*, uint16_t*, uint32_t*, int32_t, int32_t, float, float, int32_t, int32_t);
  void (COM *BuildTunnelMap4)(void*, uint16_t*, uint32_t*, int32_t, int32_t);
  void (COM *BuildTunnelMap5)(void*, uint16_t*, uint32_t*, int32_t, int32_t, float);
  void (COM *BuildTunnelMap6)(void*, uint16_t*, uint32_t*, int32_t, int32_t, float);
  void (COM *BuildTunnelMap7)(void*, uint16_t*, uint32_t*, int32_t, int32_t, float);
  void (COM *BuildTunnelMap8)(void*, uint16_t*, uint32_t*, int32_t, int32_t);
  void (COM *BuildTunnelMap9)(void*, uint16_t*, uint32_t*, int32_t, int32_t, float);
} EffectsTable;

typedef struct {
  UNKNOWN_SLOTS
  void (COM *SetMmxEnabled)(void*, int32_t);
  void (COM *SetSecondaryFeature)(void*, int32_t);
  void (COM *SetSseEnabled)(void*, int32_t);
} CpuTable;

typedef struct {
  UNKNOWN_SLOTS
  void* (COM *Reset)(void*);
  void (COM *SetMatrix)(void*, int32_t, const Matrix*);
  void (COM *LookAt)(void*, Matrix*, const Vector*, const Vector*, const Vector*);
  int32_t (COM *Perspective)(void*, Matrix*, float, float, float, float);
  void (COM *DrawLines)(void*, const Vertex*, int32_t, const Segment*, int32_t);
} WireTable;

/* Slot i of a table is the i-th pointer. */
_Static_assert(offsetof(EngineTable, BlendPixel) == 55 * sizeof(void*), "engine slots");
_Static_assert(offsetof(EffectsTable, BuildTunnelMap9) == 15 * sizeof(void*), "effects slots");
_Static_assert(offsetof(CpuTable, SetSseEnabled) == 5 * sizeof(void*), "cpu slots");
_Static_assert(offsetof(WireTable, DrawLines) == 7 * sizeof(void*), "wireframe slots");

/* An interface pointer points at its table pointer. */
#define CALL(iface, slot, ...) ((*(iface))->slot((iface), __VA_ARGS__))
#define CALL0(iface, slot) ((*(iface))->slot((iface)))

static int failures;
static void Check(int holds, int line, const char* text) {
  if (holds) return;
  fprintf(stderr, "%s:%d: %s\n", __FILE__, line, text);
  ++failures;
}
#define CHECK(cond) Check((cond) != 0, __LINE__, #cond)

static const Guid kEffects = {0x4B114DFB, 0x0048, 0x4DF3, {0x87, 0x1B, 0xFC, 0x54, 0x75, 0xF1, 0x0F, 0x04}};
static const Guid kCpu = {0x0B5B156A, 0x3262, 0x46E5, {0xB5, 0x1C, 0xA2, 0x35, 0x9A, 0x70, 0xA4, 0x54}};
static const Guid kWire = {0x9E686542, 0x1C56, 0x4A73, {0x9F, 0x89, 0xAC, 0x08, 0x38, 0x34, 0x77, 0x85}};

static uint32_t Grey(uint32_t s) { return s * 0x010101u; }

static void Engine(const EngineTable** e) {
  uint32_t t[24], src[24], count = 0, rows = 0;
  const Pen add = {{0}, 0x00C8, 1, {0}, 0}, solid = {{0}, 0x00ABCDEF, 0, {0}, 0}, blend = {{0}, 0x00FFFFFF, 0, {0}, 255};
  CALL(e, SetBatchMode, 0);
  /* GetSpan: a packed 220 x 60 target with a packed source is one run. */
  CALL(e, SetTarget, NULL, 880, 220, 60);
  CALL(e, GetSpan, &count, &rows, 880);
  CHECK(count == 13200 && rows == 1);
  /* Flat run and Desaturate, the program's two operations. */
  for (int i = 0; i < 24; ++i) t[i] = 0x00FF0000u, src[i] = 0x00100000u;
  CALL(e, SetTarget, t, 16, 4, 6);
  CALL(e, SubtractSaturated, src, 6);
  CHECK(t[3] == 0x00EF0000u && t[4] == 0x00FF0000u);
  t[0] = 0x00FF0000u;
  CALL(e, Desaturate, t, 16, 0); /* (0, 0, 255) at level 0, in place */
  CHECK((t[0] & 0xFFFFFF) == Grey(84));
  /* The vertical line's first pixel counts rows of width pixels, then steps by the stride. */
  memset(t, 0, sizeof t);
  CALL(e, SetTarget, t, 24, 4, 4);
  const Rect column = {1, 0, 1, 1}, row = {1, 0, 2, 0};
  CALL(e, DrawVerticalLine, &add, &column);
  CHECK(t[9] == 0xC8 && t[15] == 0xC8 && t[13] == 0);
  CALL(e, DrawHorizontalLine, &solid, &row);
  CHECK(t[13] == 0x00ABCDEFu && t[14] == 0x00ABCDEFu);
  const Rect box = {0, 0, 3, 0};
  CALL(e, FillRect, &add, &box); /* picture row 0 = memory row 3, rows at the stride */
  CHECK(t[18] == 0xC8 && t[21] == 0xC8);
  /* Lines on memory rows: DrawLine at the stride, DrawLineBlend at the width. */
  memset(t, 0, sizeof t);
  const Point p0 = {0, 0}, p1 = {3, 1};
  CALL(e, DrawLine, &solid, &p0, &p1);
  CHECK(t[2] == 0x00ABCDEFu && t[9] == 0x00ABCDEFu);
  CALL(e, DrawLineBlend, &blend, &p0, &p1);
  CHECK(t[1] == 0x00FFFFFFu && t[7] == 0x00FFFFFFu);
  /* A mask, a glyph and text of a one-glyph font. */
  memset(t, 0, sizeof t);
  CALL(e, SetTarget, t, 32, 8, 3);
  const uint32_t bits = 0x5; /* row 0: pixels 0 and 2 */
  const Size size = {4, 1};
  const Point at = {0, 2}; /* picture row 2 = memory row 0 */
  CALL(e, DrawMask, &bits, &size, &at, 7, 0);
  CHECK(t[0] == 7 && t[1] == 0 && t[2] == 7);
  const Glyph glyph = {0, 3};
  const Font font = {&bits, 4, 1, &glyph, "A", 1};
  const Point text = {0, 1}; /* memory row 1 */
  CHECK(CALL(e, DrawText, &font, "AxA", &text, 9, 0) == 3);
  CHECK(t[8] == 9 && t[10] == 9 && t[12] == 9 && t[14] == 9 && t[15] == 0);
  CALL(e, DrawGlyph, &font, 0, &at, 3, 0);
  CHECK(t[0] == 3 && t[2] == 3);
  /* Many arguments, the last ones on the stack. */
  const uint32_t texture[2] = {0x11, 0x22};
  CALL(e, TileBlend, texture, 8, 2, 1, 0, 0, 65536, 0, NULL, 0, 0);
  CHECK(t[0] == 0x11 && t[1] == 0x22 && t[2] == 0x11 && t[23] == 0x22);
  for (int i = 0; i < 24; ++i) src[i] = 0x00404040u + (uint32_t)i;
  CALL(e, CopyEllipse, t, src, 32, 32, 100, 100, 1, 0);
  CHECK(memcmp(t, src, sizeof t) == 0);
  CALL(e, ScaleChannels, src, 32, 512, 0, 256);
  CHECK(t[0] == 0x00800040u);
  CALL(e, BlendColor, src, 32, 0x00FFFFFF, 0);
  CHECK(t[5] == 0x003F3F44u);
}

static void Effects(const EffectsTable** fx) {
  uint32_t ramp[256], shade[128 * 8];
  uint16_t uv[128 * 8];
  /* Integer ambient and specular, a float power: red 51 * 100 / 255 + 100 at k = 1. */
  CHECK(CALL(fx, BuildLightRamp, ramp, 256, 0x00640000, 51, 0, 1.0f) == 256);
  CHECK(ramp[255] == 0x00780000u);
  /* scaleX 2 puts r = 200 (depth 0, shade 255) at column 100 of row 1. */
  CALL(fx, BuildTunnelMap1, uv, shade, 0, 1, 128, 2, 2.0f, 1.0f);
  CHECK(shade[128 + 100] == Grey(255) && (uv[128 + 100] >> 8) == 0);
  /* Waving tunnel, centre pixel: x' = -offset, y' = -phase, so r = 50 and the shade is
   * ln(2500 / 64) * 44 = 161 (the last unit may differ). */
  CALL(fx, BuildTunnelMap3, uv, shade, 9, 8, 1.0f, 1.0f, 40, -30);
  const uint32_t centre = 4 * 9 + 4, s = shade[centre] & 0xFF;
  CHECK(s >= 160 && s <= 162 && (uv[centre] >> 8) == (uint16_t)pow(50.0, 0.9));
  /* Twist 0: u = x, v = y; three pixels right of the centre of a 9 x 7 map u = 3. */
  CALL(fx, BuildTunnelMap5, uv, shade, 9, 7, 0.0f);
  CHECK(uv[3 * 9 + 7] == 3);
  CALL(fx, BuildTunnelMap6, uv, shade, 9, 7, 0.0f);
  CHECK(uv[3 * 9 + 7] == 3);
  CALL(fx, BuildTunnelMap5, uv, shade, 9, 7, 3.0f);
  CHECK(uv[3 * 9 + 7] != 3);
  /* Tilt 0 leaves u at 0; a tilt of 30 degrees spreads it. */
  CALL(fx, BuildTunnelMap7, uv, shade, 9, 7, 0.0f);
  CHECK((uv[5 * 9 + 1] & 0xFF) == 0);
  CALL(fx, BuildTunnelMap7, uv, shade, 9, 7, 30.0f);
  CHECK((uv[5 * 9 + 1] & 0xFF) != 0);
  /* Power 0: g = 1 everywhere, shade 0.6 * 255. */
  CALL(fx, BuildTunnelMap9, uv, shade, 9, 7, 0.0f);
  CHECK(shade[0] == Grey(153) && shade[3 * 9 + 4] == Grey(153));
  void* block = CALL(fx, AlignedAlloc, 100, 64);
  CHECK(block != NULL && (uintptr_t)block % 64 == 0);
  CALL(fx, AlignedFree, block);
}

static void Wireframe(const WireTable** w, const EngineTable** e) {
  Matrix m;
  CHECK(CALL(w, Perspective, &m, (float)(M_PI / 2), 1.0f, 1.0f, 2.0f) == 0);
  CHECK(fabsf(m.M[0] - 1) < 1e-6f && fabsf(m.M[5] - 1) < 1e-6f && m.M[10] == 2 && m.M[11] == 1 && m.M[14] == -2);
  const Vector eye = {0, 0, -5}, origin = {0, 0, 0}, up = {0, 1, 0};
  CALL(w, LookAt, &m, &eye, &origin, &up);
  CHECK(m.M[0] == 1 && m.M[5] == 1 && m.M[10] == 1 && m.M[14] == 5 && m.M[15] == 1);
  CHECK(CALL0(w, Reset) == (void*)w);
  const Matrix identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  CALL(w, SetMatrix, 0, &identity);
  /* A horizontal segment a quarter of the height up: row 15 of a 40 x 40 target, columns
   * 10 to 30, in rows of width pixels on a padded target. */
  static uint32_t t[44 * 40];
  CALL(e, SetTarget, t, 44 * 4, 40, 40);
  const Vertex v[2] = {{-1, 0.5f, 0, {0}, 0x00123456}, {1, 0.5f, 1, {0}, 1}};
  const Segment s = {0, 1};
  CALL(w, DrawLines, v, 0, &s, 1);
  CHECK(t[15 * 40 + 9] == 0 && t[15 * 40 + 10] == 0x00123456u && t[15 * 40 + 30] == 0x00123456u &&
        t[15 * 40 + 31] == 0);
}

int main(void) {
  void* library = OpenLibrary(RENDO_LIBRARY);
  if (library == NULL) {
    fprintf(stderr, "%s: %s\n", RENDO_LIBRARY, LibraryError());
    return 1;
  }
  typedef int32_t(COM * CreateFn)(const EngineTable***);
  CreateFn create = (CreateFn)LibrarySymbol(library, "CreateInstance");
  const EngineTable** engine = NULL;
  CHECK(create != NULL && create(&engine) == 1);
  if (engine == NULL) return 1;
  const CpuTable** cpu = NULL;
  const EffectsTable** fx = NULL;
  const WireTable** wire = NULL;
  CHECK(CALL(engine, QueryInterface, &kCpu, (void**)&cpu) == 0);
  CHECK(CALL(engine, QueryInterface, &kEffects, (void**)&fx) == 0);
  CHECK(CALL(cpu, QueryInterface, &kWire, (void**)&wire) == 0);
  CALL(cpu, SetMmxEnabled, 1);
  CALL(cpu, SetSecondaryFeature, 1);
  CALL(cpu, SetSseEnabled, 0);
  Engine(engine);
  Effects(fx);
  Wireframe(wire, engine);
  CHECK(CALL0(wire, Release) == 3 && CALL0(fx, Release) == 2 && CALL0(cpu, Release) == 1);
  CHECK(CALL0(engine, Release) == 0);
  CloseLibrary(library);
  if (failures != 0) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}

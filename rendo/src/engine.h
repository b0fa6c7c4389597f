// The engine object behind every rendo interface.
//
// It inherits the four interfaces in their contract order, so its first four words are
// the four table pointers and a secondary interface pointer is the address of its table
// pointer inside the object; the compiler's this-adjusting thunks are the "step back to
// the object" of a COM object with several interfaces.
//
// The class is deliberately not final: operations that use other operations (GetSpan in
// every row frame) call them through the object's own table, which a final class would
// let the compiler bypass.
#pragma once

#include <atomic>
#include <cstdint>

#include "rendo/rendo.h"

class TPixelEngine : public IPixelEngine, public IPixelEffects, public ICpuFeatures, public IWireframe3D {
 public:
  TPixelEngine() = default;
  TPixelEngine(const TPixelEngine&) = delete;
  TPixelEngine& operator=(const TPixelEngine&) = delete;

  // IRendoUnknown, shared by all four interfaces.
  int32_t RENDO_CALL QueryInterface(const TGUID* iid, void** out) override;
  uint32_t RENDO_CALL AddRef() override;
  uint32_t RENDO_CALL Release() override;

  // IPixelEngine
  void RENDO_CALL SetBatchMode(uint32_t flag) override;
  void RENDO_CALL SetTarget(void* bits, int32_t stride, uint32_t width, uint32_t height) override;
  void RENDO_CALL GetSpan(uint32_t* outCount, uint32_t* outRows, int32_t srcStride) override;
  void RENDO_CALL FadeToBlack(const void* src, int32_t srcStride, uint32_t factor) override;
  void RENDO_CALL FadeToWhite(const void* src, int32_t srcStride, uint32_t factor) override;
  void RENDO_CALL AddColor(const void* src, int32_t srcStride, uint32_t color) override;
  void RENDO_CALL SubtractColor(const void* src, int32_t srcStride, uint32_t color) override;
  void RENDO_CALL AddSaturated(const void* src, int32_t count) override;
  void RENDO_CALL SubtractSaturated(const void* src, int32_t count) override;
  void RENDO_CALL ReverseSubtractSaturated(const void* src, int32_t count) override;
  void RENDO_CALL AddScaled(const void* src, int32_t srcStride, uint32_t factor) override;
  void RENDO_CALL CrossFade(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB, uint32_t weight) override;
  void RENDO_CALL MixTwo(const void* srcA, int32_t strideA, const void* srcB, int32_t strideB, uint32_t weightA,
              uint32_t weightB) override;
  void RENDO_CALL CopyFlat(const void* src, int32_t count) override;
  void RENDO_CALL MapPalette(const void* src, int32_t srcStride, const uint32_t* palette) override;
  void RENDO_CALL Copy(const void* src, int32_t srcStride) override;
  void RENDO_CALL GatherOffsets(const void* base, const int32_t* offsets) override;
  void RENDO_CALL Desaturate(const void* src, int32_t srcStride, uint32_t level) override;
  void RENDO_CALL Invert(const void* src, int32_t srcStride) override;
  void RENDO_CALL Fill(uint32_t color) override;
  void RENDO_CALL StretchRow(const uint32_t* src, int32_t count, int32_t srcCount) override;
  void RENDO_CALL StretchRowBlend(const uint32_t* src, const uint32_t* under, int32_t count, int32_t srcCount,
                       uint32_t alpha) override;
  void RENDO_CALL Stretch(const uint32_t* src, int32_t width, int32_t srcWidth, int32_t height, int32_t srcHeight) override;
  void RENDO_CALL StretchBlend(const uint32_t* src, const uint32_t* under, int32_t width, int32_t srcWidth, int32_t height,
                    int32_t srcHeight, uint32_t alpha) override;
  void RENDO_CALL TileBlend(const void* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, int32_t uStart,
                 int32_t vStart, int32_t uStep, int32_t vStep, const void* under, int32_t underStride,
                 uint32_t alpha) override;
  void RENDO_CALL DrawLine(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) override;
  void RENDO_CALL DrawLineBlend(const TRendoPen* pen, const TRendoPoint* from, const TRendoPoint* to) override;
  void RENDO_CALL DrawVerticalLine(const TRendoPen* pen, const TRendoRect* rect) override;
  void RENDO_CALL DrawHorizontalLine(const TRendoPen* pen, const TRendoRect* rect) override;
  void RENDO_CALL FillRect(const TRendoPen* pen, const TRendoRect* rect) override;
  void RENDO_CALL PutPixel(uint32_t* p, uint32_t color, int32_t mode) override;
  void RENDO_CALL PutMaskBits(uint32_t* dst, const uint32_t* bits, int32_t bitOffset, int32_t count, uint32_t color,
                   int32_t mode) override;
  void RENDO_CALL DrawMask(const uint32_t* bits, const TRendoSize* size, const TRendoPoint* pos, uint32_t color,
                int32_t mode) override;
  void RENDO_CALL DrawGlyph(const TRendoFont* font, int32_t index, const TRendoPoint* pos, uint32_t color,
                 int32_t mode) override;
  int32_t RENDO_CALL DrawText(const TRendoFont* font, const char* text, const TRendoPoint* pos, uint32_t color,
                   int32_t mode) override;
  void RENDO_CALL Blur(const void* src) override;
  void RENDO_CALL AddNoise(const void* src, int32_t srcStride, uint32_t amount) override;
  void RENDO_CALL SubtractNoise(const void* src, int32_t srcStride, uint32_t amount) override;
  void RENDO_CALL Jitter(const void* src, int32_t srcStride, uint32_t amount) override;
  void RENDO_CALL PackTo24(const void* src, int32_t reserved) override;
  void RENDO_CALL Reserved43(int32_t a, int32_t b) override;
  void RENDO_CALL CopyEllipse(const void* outerSrc, const void* innerSrc, int32_t outerStride, int32_t innerStride,
                   int32_t ellipseWidth, int32_t ellipseHeight, uint32_t copyOuter, int32_t reserved) override;
  void RENDO_CALL Mosaic(const void* src, int32_t srcStride, int32_t block) override;
  void RENDO_CALL Emboss(const void* src, int32_t srcStride) override;
  void RENDO_CALL Sepia(const void* src, int32_t srcStride) override;
  void RENDO_CALL ScaleChannels(const void* src, int32_t srcStride, int32_t red, int32_t green, int32_t blue) override;
  void RENDO_CALL RenderTunnel(const uint32_t* texture, const uint16_t* uvMap, const uint32_t* shadeMap, uint32_t uOffset,
                    uint32_t vOffset) override;
  void RENDO_CALL Reserved50(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) override;
  void RENDO_CALL Reserved51(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) override;
  void RENDO_CALL Reserved52(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) override;
  void RENDO_CALL Reserved53(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) override;
  void RENDO_CALL BlendColor(const void* src, int32_t srcStride, uint32_t color, uint32_t alpha) override;
  void RENDO_CALL BlendPixel(uint32_t* p, uint32_t color, uint32_t alpha) override;

  // IPixelEffects
  void* RENDO_CALL AlignedAlloc(uint32_t size, uint32_t alignment) override;
  void RENDO_CALL AlignedFree(void* p) override;
  int32_t RENDO_CALL SetWindowAlpha(void* window, uint32_t alpha) override;
  int32_t RENDO_CALL BuildLightRamp(uint32_t* table, int32_t count, uint32_t color, int32_t ambient, int32_t specular,
                         float power) override;
  void RENDO_CALL BuildTunnelMap1(uint16_t* uvMap, uint32_t* shadeMap, int32_t originX, int32_t originY, int32_t width,
                       int32_t height, float scaleX, float scaleY) override;
  void RENDO_CALL BuildTunnelMap2(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) override;
  void RENDO_CALL BuildTunnelMap3(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float scaleA,
                       float scaleB, int32_t offset, int32_t phase) override;
  void RENDO_CALL BuildTunnelMap4(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) override;
  void RENDO_CALL BuildTunnelMap5(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) override;
  void RENDO_CALL BuildTunnelMap6(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float twist) override;
  void RENDO_CALL BuildTunnelMap7(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height,
                       float tiltDegrees) override;
  void RENDO_CALL BuildTunnelMap8(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height) override;
  void RENDO_CALL BuildTunnelMap9(uint16_t* uvMap, uint32_t* shadeMap, int32_t width, int32_t height, float power) override;

  // ICpuFeatures
  void RENDO_CALL SetMmxEnabled(int32_t flag) override;
  void RENDO_CALL SetSecondaryFeature(int32_t flag) override;
  void RENDO_CALL SetSseEnabled(int32_t flag) override;

  // IWireframe3D
  IWireframe3D* RENDO_CALL Reset() override;
  void RENDO_CALL SetMatrix(int32_t kind, const TRendoMatrix* matrix) override;
  void RENDO_CALL LookAt(TRendoMatrix* out, const TRendoVector* eye, const TRendoVector* at, const TRendoVector* up) override;
  int32_t RENDO_CALL Perspective(TRendoMatrix* out, float fov, float aspect, float zNear, float zFar) override;
  void RENDO_CALL DrawLines(const TRendoVertex* vertices, int32_t reserved, const TRendoSegment* pairs, int32_t count) override;

 protected:
  ~TPixelEngine() = default;

 private:
  using TFlatKernel = void (*)(uint32_t*, const uint32_t*, size_t);
  void FlatRun(TFlatKernel kernel, const void* src, int32_t count, bool leftOversToo);
  // EndOperation clears the MMX state unless batch mode is on; ClearMmxState always.
  void EndOperation();
  static void ClearMmxState();
  // The MMX switch, for the operation files (ops_*.cpp) that implement gated operations.
  static bool MmxGate();

  // colour (ops_colour.cpp) -------------------------------------------------------------
  // The SSE switch, for the operations whose two variants differ in their results.
  static bool ColourSsePath();
  // The row frame of the colour operations: GetSpan through the table with srcStride, then
  // run(context, target, source, n) for each run, n its pixel count (rounded down to whole
  // pairs when pairsOnly); the target advances by its stride, the source by srcStride.
  using TColourRun = void (*)(void* context, uint32_t* target, const uint32_t* source, size_t count);
  void ColourRows(const void* src, int32_t srcStride, bool pairsOnly, TColourRun run, void* context);
  // colour end ---------------------------------------------------------------------------

  // draw (ops_draw.cpp) ---------------------------------------------------------------
  // The noise and jitter operations draw from a 15-bit generator of this object's own,
  // started at construction from DrawInitialSeed() (1, or KORVEL_RENDO_RAND_SEED when set).
  static uint32_t DrawInitialSeed();
  uint32_t DrawNextRandom();
  void DrawSpan(const TRendoPen* pen, const TRendoRect* rect, int32_t rows, int32_t pitch);
  uint32_t DrawRandomState = DrawInitialSeed();
  // draw end --------------------------------------------------------------------------

  std::atomic<int32_t> RefCount{0};

  // Target surface and its one-level save slot (used by the rectangle operations while
  // they rebind the target to a sub-rectangle). Meaningless until SetTarget; zeroed so
  // that an operation before the first binding reads an empty 0 x 0 target instead of
  // indeterminate memory.
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint32_t SavedWidth = 0;
  uint32_t SavedHeight = 0;
  int32_t Stride = 0;  // bytes from one row to the next
  int32_t SavedStride = 0;
  uint8_t* Bits = nullptr;
  uint8_t* SavedBits = nullptr;

  // Matrix 0, matrix 1, the combined matrix, matrix 2. Meaningless until Reset/SetMatrix.
  float Matrices[4][16] = {};
};

#include "uHistory.h"

#include "rendo/reference.h"
#include "ucpuid.h"

#include <algorithm>
#include <cstring>

void TBasicFreqenycyTable::Push(float value) {
  Items[std::size_t(Position)] = value;
  if (++Position > Size - 1) Position = 0;
}

float TBasicFreqenycyTable::ReadAge(int32_t age) const {
  // Callers pass 0..Size-1; any other age is folded into the ring instead of reading
  // outside it (a negative index before, an index past the end after).
  int64_t i = (int64_t(Position) - int64_t(age)) % Size;
  if (i < 0) i += Size;
  return Items[std::size_t(i)];
}

int32_t NextSaturationLevel(int32_t& saturationLevel, bool recording) {
  if (recording) {
    if (saturationLevel >= 255) return -1;
    const int32_t level = saturationLevel;
    saturationLevel += 4;
    return level;
  }
  saturationLevel = saturationLevel > 0 ? saturationLevel - 4 : 0;
  return std::min(saturationLevel, 255);
}

void DrawHistoryStrip(const TBasicFreqenycyTable& history, TDIBSurface& historySurface,
                      const TDIBSurface* background, int32_t level, TDIBSurface& target,
                      IPixelEngine* engine) {
  constexpr int32_t width = kStripWidth, height = kStripHeight, pixels = width * height;
  std::memset(historySurface.Bits(), 0, size_t(pixels) * 4);
  TDIBCanvas& canvas = historySurface.Canvas();
  canvas.Pen.Style = TPenStyle::psSolid;
  for (int32_t c = 0; c < width; ++c) {
    const int32_t a = int32_t(history.ReadAge(c) * double(height));  // in double, truncated to zero
    if (a <= 0) continue;
    // Taller columns (higher frequencies) are brighter: grey 39 - a/2, as a byte.
    const uint8_t g = uint8_t(39 - a / 2);
    canvas.Pen.Color = uint32_t(g) * 0x010101u;
    canvas.MoveTo(c, height - 1);
    canvas.LineTo(c, a);  // rows a+1..height-1: the end point is not painted
  }

  if (background) target.Canvas().Draw(0, 0, *background);

  if (engine) {
    target.BindTarget(engine);
    engine->SubtractSaturated(historySurface.Bits(), pixels);
    if (level >= 0) engine->Desaturate(target.Bits(), width * 4, uint32_t(level));
  } else {
    rendo_ref::SubtractSaturatedRun(static_cast<uint32_t*>(target.Bits()),
                                    static_cast<const uint32_t*>(historySurface.Bits()), pixels);
    if (level >= 0)
      rendo_ref::DesaturateTarget(target.Bits(), width * 4, width, height, target.Bits(),
                                  width * 4, uint32_t(level), CpuUseSSE);
  }
}

#pragma once
// The frequency history strip: the ring of the last analysis results and the strip's
// composition (columns, background picture, colour level), for any toolkit. The front end
// only shows the target surface.
#include "DIBSurf.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The strip's size in pixels: one column per history value.
inline constexpr int32_t kStripWidth = 220;
inline constexpr int32_t kStripHeight = 60;

// The ring of the last kStripWidth analysis results shown by the history strip. Values are
// fractions 0..1 (0: nothing detected).
class TBasicFreqenycyTable {
public:
  static constexpr int32_t Size = kStripWidth;

  // Writes the slot at Position and moves Position on, wrapping after the last slot.
  void Push(float value);

  // Age 0 is the slot the next Push overwrites (the oldest value), age 1 the newest, up to
  // age Size - 1 (the second oldest). Ages outside the ring wrap into it as well.
  float ReadAge(int32_t age) const;

  int32_t Position = 0;
  std::array<float, Size> Items{};
};

// The colour level of one redraw, and the walk of SaturationLevel: while recording the
// levels 0, 4, ..., 252 are applied and then none (full colour); while idle the level
// walks back down by 4 to 0 and is applied each time. Returns -1 for no desaturation.
int32_t NextSaturationLevel(int32_t& saturationLevel, bool recording);

// One redraw into `target` (a kStripWidth x kStripHeight 32-bit surface): the columns into
// `historySurface` (black, then a grey column of rows a+1..kStripHeight-1 for each value
// with a = value * kStripHeight > 0), `background` (when loaded) copied unscaled onto the
// target, the columns subtracted from it per byte with saturation, then desaturated to
// `level` (-1: not at all). Through `engine`, or without one through the same reference
// kernels the engine is built on, so the strip looks the same either way. Allocates nothing.
void DrawHistoryStrip(const TBasicFreqenycyTable& history, TDIBSurface& historySurface,
                      const TDIBSurface* background, int32_t level, TDIBSurface& target,
                      IPixelEngine* engine);

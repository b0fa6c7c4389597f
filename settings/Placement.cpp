#include "Placement.h"

#include <algorithm>
#include <limits>

namespace {
// A rectangle's far edge is worked out as position + extent - 1 in int arithmetic, so
// position + extent must stay within int. A stored position so near the end of the range
// that it would not is moved back just far enough; every other position is applied as
// stored, even far off screen.
int32_t FitPosition(int32_t position, int32_t extent) {
  constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
  constexpr int64_t highest = std::numeric_limits<int32_t>::max();
  const int64_t end = int64_t(position) + extent;
  if (end > highest) return int32_t(highest - extent);
  if (end < lowest + 1) return int32_t(lowest + 1 - extent);
  return position;
}

bool StoresSize(int options, bool sizeable) { return sizeable || (options & soSaveDimensionAlways); }
}  // namespace

bool TPlacementRect::Intersects(const TPlacementRect& o) const {
  // Half-open spans in 64 bits: no overflow at the ends of the range.
  const int64_t l = std::max<int64_t>(Left, o.Left);
  const int64_t r = std::min<int64_t>(int64_t(Left) + Width, int64_t(o.Left) + o.Width);
  const int64_t t = std::max<int64_t>(Top, o.Top);
  const int64_t b = std::min<int64_t>(int64_t(Top) + Height, int64_t(o.Top) + o.Height);
  return Width > 0 && Height > 0 && o.Width > 0 && o.Height > 0 && l < r && t < b;
}

TPlacement ReadStoredPlacement(TRegistryIniFile& ini, int options, bool sizeable,
                               int32_t formWidth, int32_t formHeight,
                               const TPlacementScreens& screens) {
  TPlacement p;
  p.Normal = {0, 0, formWidth, formHeight};
  if (!(options & soSavePosition)) return p;
  int32_t left = ini.ReadInteger("left", (screens.Width - formWidth) / 2);
  int32_t top = ini.ReadInteger("top", (screens.Height - formHeight) / 2);
  int32_t width = formWidth;
  int32_t height = formHeight;
  if (StoresSize(options, sizeable)) {
    width = ini.ReadInteger("width", width);
    height = ini.ReadInteger("height", height);
  }
  width = std::min(width, screens.Width);
  height = std::min(height, screens.Height);
  const TPlacementRect stored{FitPosition(left, width), FitPosition(top, height), width, height};
  if (!screens.Available.empty() &&
      std::none_of(screens.Available.begin(), screens.Available.end(),
                   [&](const TPlacementRect& s) { return s.Intersects(stored); })) {
    left = (screens.Width - width) / 2;
    top = (screens.Height - height) / 2;
  }
  p.Maximized = ini.ReadBool("maximized", false);
  p.Normal = {FitPosition(left, width), FitPosition(top, height), width, height};
  return p;
}

void WriteStoredPlacement(TRegistryIniFile& ini, int options, bool sizeable,
                          const TPlacement& placement) {
  if (!(options & soSavePosition)) return;
  ini.WriteInteger("left", placement.Normal.Left);
  ini.WriteInteger("top", placement.Normal.Top);
  if (StoresSize(options, sizeable)) {
    ini.WriteInteger("width", placement.Normal.Width);
    ini.WriteInteger("height", placement.Normal.Height);
  }
  ini.WriteBool("maximized", placement.Maximized);
}

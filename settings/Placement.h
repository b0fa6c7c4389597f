#pragma once
// Where a form's window goes and what of it is stored: the rules of the placement
// serializer for any toolkit. The toolkit only reads the screens and the window's
// rectangle and applies the rectangle this computes (FormSerializer.h for Qt).
//
// Values in the form's key: "left", "top" (the normal rectangle's position), "width" and
// "height" (only for a sizeable form or with soSaveDimensionAlways), "maximized".
#include "RegistryIniFile.h"

#include <cstdint>
#include <vector>

enum TSerializerOption { soSavePosition = 0x1, soSaveDimensionAlways = 0x2 };

struct TPlacementRect {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  bool Intersects(const TPlacementRect& other) const;
};

// What the rules read of the toolkit.
struct TPlacementScreens {
  int32_t Width = 0, Height = 0;             // the primary screen (the form's size when none)
  std::vector<TPlacementRect> Available;     // every screen's available area; may be empty
};

struct TPlacement {
  TPlacementRect Normal;  // the normal (restored) rectangle to apply
  bool Maximized = false;
};

// The stored placement, or the default: centred on the primary screen (division truncating
// toward zero), the form's own size unless sizes are stored; the size cut to the screen,
// the position as stored even partly off screen. A rectangle that meets no screen's
// available area (a monitor unplugged, a resolution lowered) would leave the window unseen
// for good, since it is stored again at each exit: it is centred as on a first start.
// Positions are moved back only as far as keeps position + extent within int32_t.
TPlacement ReadStoredPlacement(TRegistryIniFile& ini, int options, bool sizeable,
                               int32_t formWidth, int32_t formHeight,
                               const TPlacementScreens& screens);

void WriteStoredPlacement(TRegistryIniFile& ini, int options, bool sizeable,
                          const TPlacement& placement);

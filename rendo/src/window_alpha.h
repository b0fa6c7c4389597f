// Window translucency for IPixelEffects SetWindowAlpha: on Windows the layered-window
// style of a window handle (window_alpha_win.cpp), on Linux the X11 window the caller's
// toolkit shows (window_alpha.cpp). The build compiles the one of its platform.
#pragma once

#include <cstdint>

namespace rendo_window {

// X11: alpha 0..255 sets the window's _NET_WM_WINDOW_OPACITY to alpha scaled to the full
// 32-bit cardinal (255 is fully opaque); 256 in the low 16 bits removes the property and
// asks for the window to be redrawn. Returns 1 when the display accepted the requests, 0
// on failure (no libX11 in the process, no display, a bad window). Windows: see there.
int32_t SetWindowOpacity(uintptr_t window, uint32_t alpha);

}  // namespace rendo_window

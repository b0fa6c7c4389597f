// Window translucency through the layered-window style of USER32.
#include "window_alpha.h"

#include <windows.h>

namespace rendo_window {

namespace {

// SetLayeredWindowAttributes is looked up at run time, not imported: a system without it
// (or a process without USER32 loaded) still loads the library, and the call reports 0.
// The lookup is remembered once USER32 is found; until then every call tries again.
using TSetLayeredWindowAttributes = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

struct TUser32 {
  bool Looked = false;
  HMODULE Module = nullptr;
  TSetLayeredWindowAttributes SetLayered = nullptr;
};

// Process-wide, like the switches; the library's callers serialise their calls.
TUser32 User32;

constexpr LONG kLayered = 0x00080000;  // WS_EX_LAYERED
constexpr DWORD kAlpha = 2;            // LWA_ALPHA

}  // namespace

// Alpha 0..255 makes the window layered with that constant opacity; 256 in the low 16 bits
// removes the layered style and redraws the window with its frame and children. The result
// is that of the last system call, 0 on failure.
int32_t SetWindowOpacity(uintptr_t window, uint32_t alpha) {
  if (!User32.Looked) {
    User32.Module = GetModuleHandleA("USER32");
    if (User32.Module == nullptr) return 0;
    User32.SetLayered =
        reinterpret_cast<TSetLayeredWindowAttributes>(reinterpret_cast<void*>(GetProcAddress(User32.Module, "SetLayeredWindowAttributes")));
    User32.Looked = true;
  }
  if (User32.Module == nullptr || User32.SetLayered == nullptr) return 0;
  const HWND hwnd = reinterpret_cast<HWND>(window);
  const LONG style = GetWindowLongA(hwnd, GWL_EXSTYLE);
  if ((alpha & 0xFFFFu) == 256) {
    SetWindowLongA(hwnd, GWL_EXSTYLE, style & ~kLayered);
    return RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_ALLCHILDREN | RDW_ERASE | RDW_INVALIDATE);
  }
  SetWindowLongA(hwnd, GWL_EXSTYLE, style | kLayered);
  return User32.SetLayered(hwnd, 0, BYTE(alpha & 0xFFu), kAlpha);
}

}  // namespace rendo_window

// Window translucency through libX11.
#include "window_alpha.h"

#include <dlfcn.h>

namespace rendo_window {

namespace {

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

int32_t SetWindowOpacity(uintptr_t window, uint32_t alpha) {
  if (!X11Ready()) return 0;
  const TXId id = TXId(window);
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


}  // namespace rendo_window

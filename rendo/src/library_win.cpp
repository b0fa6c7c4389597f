// The DLL's entry point.
#include <windows.h>

// The library keeps no per-thread state, so it asks not to be called at every thread's
// start and end; process attach and detach need nothing either.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
  return TRUE;
}

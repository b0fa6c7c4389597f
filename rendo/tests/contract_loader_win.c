#include <stdio.h>
#include <windows.h>

#include "contract_loader.h"

void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }
void* LibrarySymbol(void* library, const char* name) { return (void*)GetProcAddress((HMODULE)library, name); }
void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }

const char* LibraryError(void) {
  static char text[32];
  snprintf(text, sizeof text, "error %lu", (unsigned long)GetLastError());
  return text;
}

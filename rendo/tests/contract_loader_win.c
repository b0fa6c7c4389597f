#include <stdio.h>
#include <windows.h>

#include "contract_loader.h"

void* OpenLibrary(const char* path) { return (void*)LoadLibraryA(path); }

/* A function address as a data pointer: the caller casts it to the slot's type. */
void* LibrarySymbol(void* library, const char* name) {
  union {
    FARPROC Function;
    void* Data;
  } address;
  address.Function = GetProcAddress((HMODULE)library, name);
  return address.Data;
}

const char* LibraryError(void) {
  static char text[32];
  snprintf(text, sizeof text, "error %lu", (unsigned long)GetLastError());
  return text;
}

void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }

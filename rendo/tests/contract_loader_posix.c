#include <dlfcn.h>

#include "contract_loader.h"

void* OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }
const char* LibraryError(void) { return dlerror(); }
void CloseLibrary(void* library) { dlclose(library); }

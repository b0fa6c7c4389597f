/* Opening a shared library at run time, one implementation per platform:
 * contract_loader_posix.c (dlopen) and contract_loader_win.c (LoadLibraryA). */
#pragma once

void* OpenLibrary(const char* path);              /* NULL on failure */
void* LibrarySymbol(void* library, const char* name);
const char* LibraryError(void);                   /* why the last OpenLibrary failed */
void CloseLibrary(void* library);

#include "Win32Placement.h"

void RestoreWindowPlacement(HWND window, const char* key) {}
void SaveWindowPlacement(HWND window, const char* key) {}

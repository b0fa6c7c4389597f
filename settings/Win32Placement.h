#pragma once
// Where a top-level Win32 window goes, by the rules of Placement.h: the placement lives in
// the settings file under SettingsKeyPath + key + "\" (e.g. "fMain"), in the values the Qt
// front end stores, so either build finds the window where the other left it.
#include <windows.h>

// Once, after the window is created and before it is shown: the stored normal rectangle
// (or the default, centred on the primary screen) and the maximised state. Errors are not
// caught here.
void RestoreWindowPlacement(HWND window, const char* key);
// The window's normal rectangle and maximised state into the settings file. Every error is
// swallowed: it runs from WM_DESTROY, where nothing may stop the window from going away.
void SaveWindowPlacement(HWND window, const char* key);

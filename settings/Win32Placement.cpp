#include "Win32Placement.h"

#include "Placement.h"
#include "RegistryIniFile.h"
#include "uglobal.h"

#include <string>

namespace {
// The main window remembers its position only; its border is fixed, so its size is the
// form's own.
constexpr int kOptions = soSavePosition;

// The settings' store while the program runs (a test points GlobalSettings at its own).
TRegistry& Store() {
  return GlobalSettings ? GlobalSettings->Registry() : TRegistry::CurrentUser();
}

std::string KeyPath(const char* key) { return std::string(SettingsKeyPath) + key + "\\"; }

bool Sizeable(HWND window) { return (GetWindowLongPtrW(window, GWL_STYLE) & WS_THICKFRAME) != 0; }

TPlacementRect FromRect(const RECT& r) {
  return {int32_t(r.left), int32_t(r.top), int32_t(r.right - r.left), int32_t(r.bottom - r.top)};
}

// The placement's rectangle is in workspace coordinates: (0,0) is the corner of the work
// area rather than of the screen, which differs when a taskbar sits at the top or left.
// Each screen's work area is given to the rules in those terms, moved to its monitor's
// corner, so a rectangle and the areas it is tested against agree.
BOOL CALLBACK AddScreen(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info)) {
    const RECT& work = info.rcWork;
    reinterpret_cast<TPlacementScreens*>(list)->Available.push_back(
        {int32_t(info.rcMonitor.left), int32_t(info.rcMonitor.top), int32_t(work.right - work.left),
         int32_t(work.bottom - work.top)});
  }
  return TRUE;
}

// The placement as the window has it now (the record zeroed first).
WINDOWPLACEMENT Current(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  return placement;
}
}  // namespace

void RestoreWindowPlacement(HWND window, const char* key) {
  TRegistryIniFile ini(Store(), KeyPath(key));
  TPlacementScreens screens;
  screens.Width = GetSystemMetrics(SM_CXSCREEN);
  screens.Height = GetSystemMetrics(SM_CYSCREEN);
  EnumDisplayMonitors(nullptr, nullptr, AddScreen, reinterpret_cast<LPARAM>(&screens));
  RECT outer{};
  GetWindowRect(window, &outer);
  const TPlacementRect form = FromRect(outer);
  const TPlacement stored =
      ReadStoredPlacement(ini, kOptions, Sizeable(window), form.Width, form.Height, screens);
  const TPlacementRect& r = stored.Normal;
  const RECT normal{r.Left, r.Top, r.Left + r.Width, r.Top + r.Height};
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (stored.Maximized) {
    // The window's own minimised and maximised positions, shown maximised.
    placement = Current(window);
    placement.showCmd = SW_SHOWMAXIMIZED;
  } else {
    // Not yet visible: the command only places it (flags and the other positions zero).
    placement.showCmd = SW_HIDE;
  }
  placement.rcNormalPosition = normal;
  SetWindowPlacement(window, &placement);
}

void SaveWindowPlacement(HWND window, const char* key) {
  try {
    const WINDOWPLACEMENT placement = Current(window);
    TRegistryIniFile ini(Store(), KeyPath(key));
    WriteStoredPlacement(ini, kOptions, Sizeable(window),
                         {FromRect(placement.rcNormalPosition), IsZoomed(window) != FALSE});
  } catch (...) {
    // Runs while the window is destroyed: nothing may stop it from going away.
  }
}

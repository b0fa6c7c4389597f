#pragma once
// Win32 scaffolding of the tests that work real windows (the main window, the settings
// dialog), read the registry as another program does, and of the end-to-end driver.
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

// A window's text through WM_GETTEXT, which also reads another process's controls
// (GetWindowTextW does not); a hung window gives up after two seconds.
inline std::wstring WindowText(HWND W) {
  wchar_t Buf[256] = {};
  DWORD_PTR Ignored = 0;
  SendMessageTimeoutW(W, WM_GETTEXT, 256, LPARAM(Buf), SMTO_ABORTIFHUNG, 2000, &Ignored);
  return Buf;
}

inline std::wstring ClassOf(HWND W) {
  wchar_t Buf[64] = {};
  GetClassNameW(W, Buf, 64);
  return Buf;
}

// The first visible dialog box (class #32770, a message box too) for which Which holds.
inline HWND FindBox(const std::function<bool(HWND)>& Which) {
  for (HWND W = nullptr; (W = FindWindowExW(nullptr, W, L"#32770", nullptr));)
    if (IsWindowVisible(W) && Which(W)) return W;
  return nullptr;
}

// A message box's text: its static control has the identifier 0xFFFF.
inline std::wstring BoxText(HWND Box) { return WindowText(GetDlgItem(Box, 0xFFFF)); }

// Steps waiting for a thread timer, by its identifier.
inline std::map<UINT_PTR, std::function<bool()>> GTimerSteps;

inline void StopTimerStep(UINT_PTR Id) {
  KillTimer(nullptr, Id);
  GTimerSteps.erase(Id);
}

// Runs Step every Ms from whatever message loop the thread is in (every loop dispatches a
// thread timer, a modal box's own too) until it returns true. A step is taken out while it
// runs, so a loop it opens does not run it again; steps may schedule further steps.
inline UINT_PTR RunFromMessageLoop(UINT Ms, std::function<bool()> Step) {
  struct TTick {
    static void CALLBACK Run(HWND, UINT, UINT_PTR Id, DWORD) {
      auto Node = GTimerSteps.extract(Id);
      if (Node.empty()) return;
      if (Node.mapped()())
        KillTimer(nullptr, Id);
      else
        GTimerSteps.insert(std::move(Node));
    }
  };
  const UINT_PTR Id = SetTimer(nullptr, 0, Ms, TTick::Run);
  GTimerSteps[Id] = std::move(Step);
  return Id;
}

// A value below HKEY_CURRENT_USER as any program reads it: its type (REG_NONE when it is
// missing) and its data, a REG_DWORD's in decimal.
using TRawValue = std::pair<DWORD, std::wstring>;
inline TRawValue RawValue(const std::wstring& Key, const wchar_t* Name) {
  BYTE Data[512] = {};
  DWORD Type = 0, Size = sizeof Data - 2;
  if (RegGetValueW(HKEY_CURRENT_USER, Key.c_str(), Name, RRF_RT_ANY, &Type, Data, &Size) !=
      ERROR_SUCCESS)
    return {REG_NONE, L"missing"};
  if (Type == REG_DWORD) return {Type, std::to_wstring(*reinterpret_cast<DWORD*>(Data))};
  return {Type, reinterpret_cast<const wchar_t*>(Data)};
}

// One row of what a key must hold: a value's name, and its type and data as RawValue
// gives them.
struct TRawRow {
  const wchar_t* Name;
  DWORD Type;
  const wchar_t* Data;
};

// A key below HKEY_CURRENT_USER deleted with everything below it when made and when gone:
// a test's own settings root, empty at its start, left nowhere at its end.
struct TScratchKey {
  explicit TScratchKey(std::wstring Key) : Path(std::move(Key)) { Delete(); }
  ~TScratchKey() { Delete(); }
  void Delete() const { RegDeleteTreeW(HKEY_CURRENT_USER, Path.c_str()); }
  const std::wstring Path;
};

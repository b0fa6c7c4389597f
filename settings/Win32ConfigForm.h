#pragma once
// The settings dialog's Win32 window: its controls, their layout and the plumbing from
// window messages to TfConfig's handlers (uConfig.h). TWin32ConfigDialog is the program's
// face of it; the form takes the pixel density as a parameter so a test can lay it out at
// any density.
//
// Laid out in pixels: the form is designed at 120 pixels per inch and every position and
// size is scaled by dpi / 120 (rounded to the nearest pixel, as MulDiv does).
#include "uConfig.h"

#include <windows.h>

#include <cstdint>
#include <string>

class TWin32ConfigForm : private IConfigView, public TfConfig {
public:
  // Control identifiers: OK and cancel are the dialog manager's own, so Enter and Esc
  // reach the buttons.
  enum : int {
    idOK = IDOK,
    idCancel = IDCANCEL,
    idDefaults = 100,
    idTrackSpeed,
    idLabel2,
    idEditMaxFreq,
    idEditMinFreq,
    idEditFloor,
    idEditFloor2,
    idRecordToFile,
    idFirstLabel,  // the static texts other than Label2 follow
  };
  static constexpr int kDesignDpi = 120;
  static constexpr int kClientWidth = 357, kClientHeight = 288;

  TWin32ConfigForm(HWND owner, int dpi);
  ~TWin32ConfigForm();
  TWin32ConfigForm(const TWin32ConfigForm&) = delete;
  TWin32ConfigForm& operator=(const TWin32ConfigForm&) = delete;

  // Runs the dialog modally: the owner is disabled, every message of the thread keeps
  // being dispatched, and the window is gone again on return.
  void ShowModal();
  // The window while it is shown, else null.
  HWND Handle() const { return Window; }

  int Scaled(int designPixels) const { return MulDiv(designPixels, Dpi, kDesignDpi); }
  // LOGPIXELSY of the screen.
  static int ScreenDpi();

private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void SpeedMoved();  // trackSpeedChange when the position differs from ShownSpeed
  int Box(const std::wstring& text, UINT type);
  void CreateControls();
  HWND Control(int id) const { return GetDlgItem(Window, id); }
  void SizeLabel(HWND label);

  // IConfigView
  void SetSpeedPosition(int32_t position) override;
  int32_t SpeedPosition() override;
  void SetSpeedCaption(const std::string& text) override;
  void SetRecordToFile(bool checked) override;
  bool RecordToFile() override;
  std::u16string ReadEdit(TConfigEdit edit) override;
  void WriteEdit(TConfigEdit edit, const std::u16string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ReportError(std::exception_ptr error) override;
  void EndDialog(bool ok) override;

  std::wstring Title() const;

  HWND Owner;
  int Dpi;
  HWND Window = nullptr;
  HFONT Font = nullptr;
  int32_t ShownSpeed = 0;  // the bar's position Label2 was last written for
};

#pragma once
// The settings dialog's Win32 front end: native controls, their layout at the screen's dpi
// and the plumbing from window messages to TfConfig's handlers (uConfig.h holds what the
// dialog does). Created once after the main window; ShowModal runs it modally on the owner.
#include "uConfig.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class TWin32ConfigForm;  // Win32ConfigForm.h: the window and its controls

class TWin32ConfigDialog {
public:
  // `owner` is the main window: the dialog is centred on it and owns its message boxes.
  explicit TWin32ConfigDialog(HWND owner);
  ~TWin32ConfigDialog();
  TWin32ConfigDialog(const TWin32ConfigDialog&) = delete;
  TWin32ConfigDialog& operator=(const TWin32ConfigDialog&) = delete;

  // Shows the dialog and returns once it is closed. Every message keeps being dispatched
  // meanwhile, the owner's included.
  void ShowModal();

  // Where an error of a handler goes. The program points this at its default error handler;
  // when empty, a message box owned by the owner window shows the text.
  static std::function<void(std::exception_ptr)> ExceptionHandler;
  // Title of the message boxes; when empty, the program file's name by the title rule.
  static std::wstring MessageTitle;

private:
  // Implements IConfigView and holds the TfConfig that fConfig points at while this lives.
  std::unique_ptr<TWin32ConfigForm> Form;
};

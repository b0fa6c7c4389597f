#include "Win32ConfigDialog.h"

#include "Win32ConfigForm.h"

std::function<void(std::exception_ptr)> TWin32ConfigDialog::ExceptionHandler;
std::wstring TWin32ConfigDialog::MessageTitle;

TWin32ConfigDialog::TWin32ConfigDialog(HWND owner)
    : Form(std::make_unique<TWin32ConfigForm>(owner, TWin32ConfigForm::ScreenDpi())) {
  fConfig = Form.get();
}

TWin32ConfigDialog::~TWin32ConfigDialog() {
  if (fConfig == Form.get()) fConfig = nullptr;
}

void TWin32ConfigDialog::ShowModal() { Form->ShowModal(); }

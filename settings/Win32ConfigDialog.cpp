#include "Win32ConfigDialog.h"

std::function<void(std::exception_ptr)> TWin32ConfigDialog::ExceptionHandler;
std::wstring TWin32ConfigDialog::MessageTitle;

class TWin32ConfigForm {};

TWin32ConfigDialog::TWin32ConfigDialog(HWND owner) : Form(std::make_unique<TWin32ConfigForm>()) {}
TWin32ConfigDialog::~TWin32ConfigDialog() = default;
void TWin32ConfigDialog::ShowModal() {}

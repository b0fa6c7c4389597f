#include "Win32NumberEdit.h"

#include <commctrl.h>

namespace {
// wchar_t is UTF-16 on Windows: the edit's text and the rules' text are the same units.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

constexpr UINT_PTR kSubclassId = 0x4E45;  // one filter per edit, whoever else subclasses it
constexpr DWORD_PTR kReal = 0x1;
constexpr DWORD_PTR kMinus = 0x2;

std::u16string EditText(HWND edit) {
  const int length = GetWindowTextLengthW(edit);
  std::wstring text(size_t(length) + 1, L'\0');
  text.resize(size_t(GetWindowTextW(edit, text.data(), length + 1)));
  return std::u16string(text.begin(), text.end());
}

LRESULT CALLBACK FilterProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR flags) {
  if (message == WM_CHAR) {
    const TNumberRules rules{(flags & kReal) != 0, (flags & kMinus) != 0};
    // WM_CHAR carries one UTF-16 unit; a surrogate (like every unit of 128 or above) is
    // refused by the rule, so a character outside the BMP never gets half in.
    const bool accepted = AcceptsTypedChar(char16_t(wParam), rules, [&] {
      TEditState state;
      state.Text = ReadNumberEdit(edit, rules.Real);
      DWORD start = 0, end = 0;
      SendMessageW(edit, EM_GETSEL, WPARAM(&start), LPARAM(&end));
      state.SelectionStart = start;
      state.SelectionLength = end > start ? end - start : 0;
      return state;
    });
    if (!accepted) return 0;  // swallowed: the text stays as it was
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(edit, FilterProc, id);
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}
}  // namespace

void MakeNumberEdit(HWND edit, const TNumberRules& rules) {
  SetWindowSubclass(edit, FilterProc, kSubclassId,
                    (rules.Real ? kReal : 0) | (rules.Minus ? kMinus : 0));
}

std::u16string ReadNumberEdit(HWND edit, bool real) {
  const std::u16string text = EditText(edit);
  TCheckedText checked = CheckText(text, real);
  if (checked.Replaced) WriteEditText(edit, checked.Text);
  return std::move(checked.Text);
}

void WriteEditText(HWND edit, const std::u16string& text) {
  const std::wstring wide(text.begin(), text.end());
  SetWindowTextW(edit, wide.c_str());
}

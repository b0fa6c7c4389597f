#pragma once
// The numeric edit on a plain Win32 EDIT control, under the rules of NumberFilter.h: the
// control is subclassed (comctl32's SetWindowSubclass) so every WM_CHAR goes through the
// typing rule first; what reaches the text another way (WM_PASTE, drag and drop,
// WM_SETTEXT) is caught by the checked read. An input method's result arrives as WM_CHAR
// too, so it is filtered like typing.
#include "NumberFilter.h"

#include <windows.h>

#include <string>

// Subclasses `edit` for good (the subclass removes itself at WM_NCDESTROY).
void MakeNumberEdit(HWND edit, const TNumberRules& rules);

// The checked read: empty stays empty, a number stays as it is, anything else is "0" and
// the control shows "0" from then on.
std::u16string ReadNumberEdit(HWND edit, bool real);
// Unchecked, as typed text never is.
void WriteEditText(HWND edit, const std::u16string& text);

#pragma once
// Text between the program (UTF-8 everywhere) and the Windows wide-character calls, and
// the system's own words for an error code. Windows builds only.
#include <cstdint>
#include <string>

// Invalid sequences become U+FFFD either way, so a name never silently loses its tail.
std::wstring Utf8ToWide(const std::string& Text);
std::string WideToUtf8(const std::wstring& Text);
// Text in the ANSI code page (what the *A calls return) as UTF-8.
std::string AnsiToUtf8(const std::string& Text);

// FormatMessage's text for Code, without the trailing line break; "error <Code>" when the
// system has none.
std::string SystemErrorText(uint32_t Code);

#include "winstr.h"

#include <windows.h>

std::wstring Utf8ToWide(const std::string& Text) {
  if (Text.empty()) return {};
  const int N = MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), nullptr, 0);
  std::wstring Out(size_t(N), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), Out.data(), N);
  return Out;
}

std::string WideToUtf8(const std::wstring& Text) {
  if (Text.empty()) return {};
  const int N = WideCharToMultiByte(CP_UTF8, 0, Text.data(), int(Text.size()), nullptr, 0, nullptr, nullptr);
  std::string Out(size_t(N), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), int(Text.size()), Out.data(), N, nullptr, nullptr);
  return Out;
}

std::string AnsiToUtf8(const std::string& Text) {
  if (Text.empty()) return {};
  const int N = MultiByteToWideChar(CP_ACP, 0, Text.data(), int(Text.size()), nullptr, 0);
  std::wstring Wide(size_t(N), L'\0');
  MultiByteToWideChar(CP_ACP, 0, Text.data(), int(Text.size()), Wide.data(), N);
  return WideToUtf8(Wide);
}

std::string SystemErrorText(uint32_t Code) {
  wchar_t* Buffer = nullptr;
  const DWORD N = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, Code, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::wstring Text = N != 0 && Buffer ? std::wstring(Buffer, N) : std::wstring();
  if (Buffer) LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r' || Text.back() == L' ')) Text.pop_back();
  return Text.empty() ? "error " + std::to_string(Code) : WideToUtf8(Text);
}

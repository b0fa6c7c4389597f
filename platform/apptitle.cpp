#include "apptitle.h"

#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// One code point from UTF-8 at `at` (advanced past it); a malformed byte stands for itself
// and is copied through unchanged, so no name loses characters.
char32_t Decode(const std::string& text, size_t& at, size_t& length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (lead >= 0xF8 || (lead >= 0x80 && lead < 0xC0) || at + extra >= text.size()) extra = 0;
  char32_t code = extra ? lead & (0x3F >> extra) : lead;
  for (size_t i = 1; i <= extra; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      extra = 0;
      code = lead;
      break;
    }
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  length = extra + 1;
  at += length;
  return code;
}

void Encode(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// The system's lower case of one character (Windows: the user interface's own mapping;
// elsewhere the C library's under the locale the toolkit set from the environment).
char32_t Lower(char32_t code) {
  if (code < 0x80) return code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code;
#ifdef _WIN32
  if (code > 0xFFFF) return code;
  // A pointer-sized argument whose high word is zero is one character, lowered in place.
  return char32_t(reinterpret_cast<ULONG_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(ULONG_PTR(code)))) & 0xFFFF);
#else
  return char32_t(std::towlower(std::wint_t(code)));
#endif
}

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

}  // namespace

std::string ApplicationTitleFromPath(const std::string& programPath) {
  size_t start = programPath.size();
  while (start > 0 && !IsSeparator(programPath[start - 1])) --start;
  std::string name = programPath.substr(start);
  if (const size_t dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  std::string title;
  size_t at = 0;
  for (bool first = true; at < name.size(); first = false) {
    const size_t from = at;
    size_t length = 0;
    const char32_t code = Decode(name, at, length);
    if (first || (length == 1 && code >= 0x80)) {
      title.append(name, from, length);  // the first character, or a byte that is no character
    } else {
      Encode(Lower(code), title);
    }
  }
  return title;
}

std::string ExceptionMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "不明なエラーが発生しました。";
  }
}

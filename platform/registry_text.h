#pragma once
// Names and the REGEDIT4 text form shared by the store (registry.cpp) and the codec
// (registry_text.cpp). Internal to the platform library.
#include <string>

namespace regtext {

// The hive's name as it heads every key line.
inline constexpr char kHive[] = "HKEY_CURRENT_USER";

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Key and value names compare without regard to ASCII case, as in the hive.
inline bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

// Splits on '\', dropping one run of separators at each end; returns false on an empty
// component in the middle ("a\\b") or a line break or NUL, which no key line can hold.
bool NormaliseKey(const std::string& in, std::string& out);

}  // namespace regtext

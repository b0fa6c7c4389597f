#include "NumberFilter.h"

#include "intparse.h"

#include <charconv>
#include <cmath>

namespace {
// The text as ASCII, or false when it holds anything else (no number does).
bool Ascii(std::u16string_view text, std::string& out) {
  out.clear();
  for (char16_t c : text) {
    if (c >= 0x80) return false;
    out.push_back(char(c));
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-]? ( digits [. digits*] | . digits ) ( [eE] [+-]? digits )?
bool DecimalSyntax(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t intDigits = 0, fracDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++intDigits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++fracDigits;
  }
  if (intDigits == 0 && fracDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}
}  // namespace

bool IsNumberText(std::u16string_view text, bool real) {
  std::string s;
  if (!Ascii(text, s)) return false;
  if (!real) {
    int32_t v;
    return ParseInt32(s, v);
  }
  if (!DecimalSyntax(s)) return false;
  // from_chars reads no '+' and no locale: the value alone decides, and one out of range
  // (overflow or underflow) is no number.
  std::string_view digits = s;
  if (digits.front() == '+') digits.remove_prefix(1);
  double v = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return error == std::errc() && end == digits.data() + digits.size() && std::isfinite(v);
}

TCheckedText CheckText(std::u16string_view text, bool real) {
  if (text.empty() || IsNumberText(text, real)) return {std::u16string(text), false};
  return {u"0", true};
}

int32_t TextAsInteger(std::u16string_view checkedText) {
  std::string s;
  int32_t v;
  if (Ascii(checkedText, s) && ParseInt32(s, v)) return v;
  // Only an empty or a decimal text gets here, both ASCII.
  throw EConvertError("'" + s + "' は整数ではありません");
}

std::u16string IntegerText(int32_t value) {
  const std::string s = std::to_string(value);
  return std::u16string(s.begin(), s.end());
}

bool AcceptsTypedChar(char16_t c, const TNumberRules& rules,
                      const std::function<TEditState()>& read) {
  if (c < 32 || (c >= u'0' && c <= u'9')) return true;
  // Read for every other key, also one refused outright: an invalid text becomes "0" here.
  const TEditState edit = read();
  if (c != u'-' && c != u'.') return false;
  std::u16string remainder = edit.Text;
  if (edit.SelectionStart < remainder.size())
    remainder.erase(edit.SelectionStart, edit.SelectionLength);
  const bool present = remainder.find(c) != std::u16string::npos;
  if (c == u'-') return rules.Minus && edit.SelectionStart == 0 && !present;
  return rules.Real && !present;
}

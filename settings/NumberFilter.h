#pragma once
// The numeric edit's rules, for every toolkit's edit control: which typed characters pass,
// and what reading the text yields. Texts are UTF-16, as both toolkits' edits hold them.
//
// Typing: control characters (below 32) and digits always pass. Any other character makes
// the edit read its text first (so a text that is no number becomes "0" there and then);
// then '-' passes only where a minus may go (Minus set, caret at the start, no '-' left
// once the selection is replaced), '.' only in a Real edit with no '.' left; everything
// else is refused. Pasted or dropped text is not filtered: the check on reading catches it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// A text that is not a whole number where one is needed; what() is the message for the user.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TNumberRules {
  bool Real = false;  // a decimal number (one '.') rather than a whole number
  bool Minus = true;  // a leading '-' may be typed
};

// A whole number: a 32-bit signed integer (ParseInt32). Real: plain decimal notation with
// an optional exponent and a finite value; no hex, inf or nan, no blanks.
bool IsNumberText(std::u16string_view text, bool real);

// What reading the edit yields: empty stays empty, a number stays as it is, anything else
// is "0" (and the edit is to show "0" as well: Checked says whether it must change).
struct TCheckedText {
  std::u16string Text;
  bool Replaced = false;
};
TCheckedText CheckText(std::u16string_view text, bool real);

// The read text as an integer; EConvertError "'%s' は整数ではありません" for an empty text or
// a decimal one.
int32_t TextAsInteger(std::u16string_view checkedText);
std::u16string IntegerText(int32_t value);

// The edit as the filter sees it once its text has been read (and possibly replaced).
struct TEditState {
  std::u16string Text;
  size_t SelectionStart = 0;  // the caret when nothing is selected
  size_t SelectionLength = 0;
};

// Would `c`, typed now, be let through? `read` reads the edit's text through the checked
// read and then reports text and selection; it is called only for characters the rule
// has to look at the text for.
bool AcceptsTypedChar(char16_t c, const TNumberRules& rules, const std::function<TEditState()>& read);

#pragma once
// Typed characters and what they do to a numeric edit, one table for the rules and for every
// toolkit's edit: the character, the edit's rules, its text and selection, whether the
// character is taken and whether the text is read (checked) first.
#include "NumberFilter.h"

#include <string>

struct TTypedKey {
  char16_t C;
  bool Real, Minus;
  const char16_t* Text;
  size_t Start, Length;
  bool Accepted, Read;
};

// Digits and control characters pass without a look at the text; every other character
// reads it first, whether it then passes or not.
inline const TTypedKey kTypedKeys[] = {
    {u'7', false, true, u"12x", 3, 0, true, false}, {u'\b', false, true, u"1", 1, 0, true, false},
    {u'a', false, true, u"1", 1, 0, false, true}, {u' ', false, true, u"1", 1, 0, false, true},
    {u'+', false, true, u"", 0, 0, false, true}, {u'\u00E9', false, true, u"", 0, 0, false, true},
    {u'\uFF15', false, true, u"", 0, 0, false, true}, {0x7F, false, true, u"", 0, 0, false, true},
    {u'.', false, true, u"12", 2, 0, false, true}, {u'.', true, true, u"12", 2, 0, true, true},
    {u'.', true, true, u"1.2", 3, 0, false, true}, {u'.', true, true, u"1.5", 1, 2, true, true},
    {u'.', true, true, u"1.5", 0, 1, false, true}, {u'-', false, true, u"", 0, 0, true, true},
    {u'-', false, true, u"5", 1, 0, false, true}, {u'-', false, true, u"-5", 0, 0, false, true},
    {u'-', false, true, u"-5", 0, 1, true, true}, {u'-', false, true, u"12", 1, 1, false, true},
    {u'-', true, true, u"5", 0, 0, true, true}, {u'-', false, false, u"5", 0, 0, false, true},
    {u'3', false, true, u"12", 2, 0, true, false}, {u'-', false, true, u"12", 1, 0, false, true},
    {u'-', false, true, u"12", 0, 0, true, true}, {u'-', false, true, u"-5", 2, 0, false, true},
    {u'\x3042', false, true, u"12", 2, 0, false, true},
    // A text pasted unfiltered that holds no number shows "0" once a key reads it.
    {u'a', false, true, u"12x", 3, 0, false, true}, {u'x', false, true, u"12x", 3, 0, false, true},
    {u' ', false, true, u"12x", 3, 0, false, true}, {u'.', false, true, u"abc", 3, 0, false, true},
    {u'\u00E9', false, true, u"12x", 3, 0, false, true},
};

// The text after the key: a refused key leaves it ("0" where the read found no number); a
// taken one replaces the selection, a backspace with none the character before the caret.
inline std::u16string TextAfter(const TTypedKey& k) {
  std::u16string t = k.Text;
  if (!k.Accepted) return k.Read ? CheckText(t, k.Real).Text : t;
  if (k.C != u'\b') return t.replace(k.Start, k.Length, 1, k.C);
  return k.Length ? t.erase(k.Start, k.Length) : t.erase(k.Start - 1, 1);
}

#pragma once
// A single-line Qt edit for numbers, under the rules of NumberFilter.h: characters that
// cannot belong to a number are refused as they are typed; whatever reaches the edit
// another way (pasting, dropping, SetText) is caught when the text is read: Text() turns
// anything that is not a number into "0", in the edit as well.
#include "NumberFilter.h"

#include <QLineEdit>
#include <QString>

#include <cstdint>

class TNumberEdit : public QLineEdit {
public:
  explicit TNumberEdit(QWidget* parent = nullptr);

  bool Real = false;  // a decimal number (one '.') rather than a whole number
  bool Minus = true;  // a leading '-' may be typed

  // Empty stays empty. Otherwise the text parsed as a decimal number (Real) or a 32-bit
  // signed integer; when that fails the result is "0" and the edit shows "0".
  QString Text();
  void SetText(const QString& value);  // unchecked
  // Text() as an integer; EConvertError "'%s' は整数ではありません" for an empty text or a
  // decimal one.
  int32_t AsInteger();
  void SetAsInteger(int32_t value);

  // The typing rule: would `c`, typed now, be let through?
  bool AcceptsChar(QChar c);

protected:
  void keyPressEvent(QKeyEvent* event) override;
};

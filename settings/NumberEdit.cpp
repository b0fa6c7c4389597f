#include "NumberEdit.h"

#include "intparse.h"

#include <QKeyEvent>
#include <QRegularExpression>

#include <cmath>

namespace {
bool IsNumber(const QString& text, bool real) {
  if (!real) {
    int32_t v;
    return ParseInt32(text.toStdString(), v);
  }
  // Plain decimal notation with an optional exponent; no hex, inf or nan, no blanks.
  static const QRegularExpression re(
      QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
  if (!re.match(text).hasMatch()) return false;
  bool ok = false;
  const double v = text.toDouble(&ok);
  return ok && std::isfinite(v);
}
}  // namespace

TNumberEdit::TNumberEdit(QWidget* parent) : QLineEdit(parent) {
  // Input methods would hand over composed text without key events, past the filter.
  setAttribute(Qt::WA_InputMethodEnabled, false);
}

QString TNumberEdit::Text() {
  const QString t = QLineEdit::text();
  if (t.isEmpty()) return t;
  if (IsNumber(t, Real)) return t;
  QLineEdit::setText(QStringLiteral("0"));
  return QStringLiteral("0");
}

void TNumberEdit::SetText(const QString& value) { QLineEdit::setText(value); }

int32_t TNumberEdit::AsInteger() {
  const QString t = Text();
  int32_t v;
  if (!ParseInt32(t.toStdString(), v))
    throw EConvertError("'" + t.toStdString() + "' は整数ではありません");
  return v;
}

void TNumberEdit::SetAsInteger(int32_t value) { SetText(QString::number(value)); }

bool TNumberEdit::AcceptsChar(QChar c) {
  const char16_t u = c.unicode();
  if (u < 32 || (u >= '0' && u <= '9')) return true;
  // What would be left of the text once the selection is replaced by the character. Read
  // for every other key, also one refused outright: an invalid text becomes "0" here.
  QString remainder = Text();
  if (u != '-' && u != '.') return false;
  const int start = hasSelectedText() ? selectionStart() : cursorPosition();
  remainder.remove(start, hasSelectedText() ? selectedText().size() : 0);
  if (u == '-') return Minus && start == 0 && !remainder.contains(u'-');
  return Real && !remainder.contains(u'.');
}

void TNumberEdit::keyPressEvent(QKeyEvent* event) {
  // Only typed characters are filtered: editing and navigation keys, and shortcuts such as
  // Ctrl+V (whose result is checked on reading), go to the edit as they are.
  const bool shortcut = (event->modifiers() & Qt::ControlModifier) &&
                        !(event->modifiers() & Qt::AltModifier);
  const bool editingKey = event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace;
  if (!shortcut && !editingKey) {
    for (QChar c : event->text()) {
      if (!AcceptsChar(c)) {
        event->accept();  // swallowed
        return;
      }
    }
  }
  QLineEdit::keyPressEvent(event);
}

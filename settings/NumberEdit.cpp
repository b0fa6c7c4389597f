#include "NumberEdit.h"

#include <QKeyEvent>

TNumberEdit::TNumberEdit(QWidget* parent) : QLineEdit(parent) {
  // Input methods would hand over composed text without key events, past the filter.
  setAttribute(Qt::WA_InputMethodEnabled, false);
}

QString TNumberEdit::Text() {
  const QString t = QLineEdit::text();
  const TCheckedText checked = CheckText(t.toStdU16String(), Real);
  if (!checked.Replaced) return t;
  const QString replaced = QString::fromStdU16String(checked.Text);
  QLineEdit::setText(replaced);
  return replaced;
}

void TNumberEdit::SetText(const QString& value) { QLineEdit::setText(value); }

int32_t TNumberEdit::AsInteger() { return TextAsInteger(Text().toStdU16String()); }

void TNumberEdit::SetAsInteger(int32_t value) { SetText(QString::fromStdU16String(IntegerText(value))); }

bool TNumberEdit::AcceptsChar(QChar c) {
  return AcceptsTypedChar(c.unicode(), {Real, Minus}, [this] {
    const QString text = Text();
    const bool selected = hasSelectedText();
    return TEditState{text.toStdU16String(), size_t(selected ? selectionStart() : cursorPosition()),
                      size_t(selected ? selectedText().size() : 0)};
  });
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

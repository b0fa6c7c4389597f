// The numeric edit as a widget: key events reach the rules (typed_keys.h holds their cases),
// the selection and caret, the paste that is not filtered, reading through the edit.
#include "NumberEdit.h"
#include "qt_test_app.h"
#include "typed_keys.h"

#include <QClipboard>
#include <QKeyEvent>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

class NumberEditTest : public ::testing::Test {
protected:
  void SetUp() override {
    TestApp();
    Edit = std::make_unique<TNumberEdit>();
    Edit->show();
    Edit->setFocus();
  }
  // Puts `text` in the edit and selects [from, to) (caret at `to`).
  void Prepare(const QString& text, int from, int to) {
    Edit->SetText(text);
    Edit->setSelection(from, to - from);
    if (from == to) Edit->setCursorPosition(to);
  }
  QString Shown() const { return Edit->QLineEdit::text(); }
  // A key that brings `text` with it and no key code, as an input method sends it.
  void Send(const char* text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(text));
    QApplication::sendEvent(Edit.get(), &press);
  }
  std::unique_ptr<TNumberEdit> Edit;
};

}  // namespace

// Every key of the rules' table as a key event (non-ASCII as an input method sends it).
TEST_F(NumberEditTest, EveryTypedKeyOfTheRulesReachesTheText) {
  for (const TTypedKey& k : kTypedKeys) {
    SCOPED_TRACE(testing::Message() << "char " << int(k.C) << " at " << k.Start << "+" << k.Length);
    Edit->Real = k.Real;
    Edit->Minus = k.Minus;
    Prepare(QString::fromStdU16String(k.Text), k.Start, k.Start + k.Length);
    if (k.C == u'\b')
      QTest::keyClick(Edit.get(), Qt::Key_Backspace);
    else if (k.C >= 0x20 && k.C < 0x7F)
      QTest::keyClick(Edit.get(), char(k.C));
    else
      Send(QString(QChar(k.C)).toUtf8().constData());
    EXPECT_EQ(Shown().toStdU16String(), TextAfter(k));
  }
}

TEST_F(NumberEditTest, TypingKeepsDigitsAndRefusesTheRest) {
  EXPECT_FALSE(Edit->Real);
  EXPECT_TRUE(Edit->Minus);
  QTest::keyClicks(Edit.get(), "12a.3 x+5");
  EXPECT_EQ(Shown(), "1235");
  QTest::keyClick(Edit.get(), Qt::Key_Backspace);
  QTest::keyClick(Edit.get(), Qt::Key_Home);
  QTest::keyClick(Edit.get(), Qt::Key_Delete);
  EXPECT_EQ(Shown(), "23");
  Prepare("-5", 0, 1);  // a minus typed over the selected one: the caret after it
  QTest::keyClicks(Edit.get(), "-");
  EXPECT_EQ(Edit->cursorPosition(), 1);
}

TEST_F(NumberEditTest, ReadingReplacesWhatIsNoNumberByZero) {
  QApplication::clipboard()->setText("12x");
  QTest::keyClick(Edit.get(), Qt::Key_V, Qt::ControlModifier);  // paste is not filtered
  EXPECT_EQ(Shown(), "12x");
  EXPECT_EQ(Edit->Text(), "0");
  EXPECT_EQ(Shown(), "0");
  Edit->Real = true;
  Edit->SetText("-.5");
  EXPECT_EQ(Edit->Text(), "-.5");
}

TEST_F(NumberEditTest, AsIntegerRoundTripAndConversionErrors) {
  Edit->SetAsInteger(-5);
  EXPECT_EQ(Shown(), "-5");
  EXPECT_EQ(Edit->AsInteger(), -5);

  Edit->clear();
  EXPECT_EQ(Edit->Text(), "");
  EXPECT_THAT([&] { Edit->AsInteger(); },
              ::testing::ThrowsMessage<EConvertError>("'' は整数ではありません"));
  Edit->SetText("12");
  EXPECT_EQ(Edit->AsInteger(), 12);
}

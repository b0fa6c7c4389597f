// The numeric edit as a widget: key events reach the rules (rules_test.cpp holds their
// cases), the selection and caret, the paste that is not filtered, reading through the edit.
#include "NumberEdit.h"
#include "qt_test_app.h"

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

TEST_F(NumberEditTest, TypingKeepsDigitsAndRefusesTheRest) {
  EXPECT_FALSE(Edit->Real);
  EXPECT_TRUE(Edit->Minus);
  QTest::keyClicks(Edit.get(), "12a.3 x+5");
  EXPECT_EQ(Shown(), "1235");
  for (const char* wide : {"５", "é", "\x7f"}) Send(wide);  // at or above 127: refused
  EXPECT_EQ(Shown(), "1235");
  QTest::keyClick(Edit.get(), Qt::Key_Backspace);
  QTest::keyClick(Edit.get(), Qt::Key_Home);
  QTest::keyClick(Edit.get(), Qt::Key_Delete);
  EXPECT_EQ(Shown(), "23");

  Edit->Real = true;
  Edit->clear();
  QTest::keyClicks(Edit.get(), "1.2.3");
  EXPECT_EQ(Shown(), "1.23");
  Prepare("1.5", 1, 3);  // the selection holds the only '.'
  QTest::keyClicks(Edit.get(), ".7");
  EXPECT_EQ(Shown(), "1.7");
}

TEST_F(NumberEditTest, MinusOnlyAtTheStartOnceAndWhenAllowed) {
  QTest::keyClicks(Edit.get(), "-5");
  EXPECT_EQ(Shown(), "-5");
  QTest::keyClicks(Edit.get(), "-");  // caret at the end
  EXPECT_EQ(Shown(), "-5");
  Prepare("-5", 0, 1);  // the selection holds it
  QTest::keyClicks(Edit.get(), "-");
  EXPECT_EQ(Shown(), "-5");
  EXPECT_EQ(Edit->cursorPosition(), 1);
  Edit->Minus = false;
  Prepare("5", 0, 0);
  QTest::keyClicks(Edit.get(), "-");
  EXPECT_EQ(Shown(), "5");
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

  // A key that needs the text checks it first: an invalid text turns into "0" right then.
  Edit->Real = false;
  Edit->SetText("abc");
  QTest::keyClicks(Edit.get(), ".");
  EXPECT_EQ(Shown(), "0");
  // So does every character that is not a digit or a control key, refused or not.
  for (const char* typed : {"x", " ", "é"}) {
    Edit->SetText("12x");
    Send(typed);
    EXPECT_EQ(Shown(), "0") << typed;
  }
  Edit->SetText("12x");
  QTest::keyClicks(Edit.get(), "7");  // a digit passes without a look at the text
  EXPECT_EQ(Shown(), "12x7");
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

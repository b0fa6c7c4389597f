#include "NumberEdit.h"
#include "qt_test_app.h"
#include "QtConfigDialog.h"
#include "uglobal.h"
#include "test_store.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ConfigDialogTest : public ::testing::Test, public TTestStore {
protected:
  ConfigDialogTest() : TTestStore("cfg") {}
  void SetUp() override {
    TestApp();
    Main = std::make_unique<QWidget>();
    Main->setObjectName("fMain");
    Main->resize(269, 280);
    Main->show();
    TQtConfigDialog::ExceptionHandler = [this](std::exception_ptr e) {
      Errors.push_back(WhatOf(e));
    };
  }
  void TearDown() override {
    Dialog.reset();
    fConfig = nullptr;
    Settings.reset();
    GlobalSettings = nullptr;
    Main.reset();
    TQtConfigDialog::ExceptionHandler = nullptr;
  }
  // Start-up order: the settings, then (after the main window) the dialog.
  void Start() {
    Settings = std::make_unique<TGlobalSettings>(*Reg);
    GlobalSettings = Settings.get();
    Dialog = std::make_unique<TQtConfigDialog>(Main.get());
    fConfig = Dialog.get();
  }
  // Shows the dialog modally and lets `user` act on it; returns the dialog's result.
  int Run(std::function<void(TQtConfigDialog&)> user) {
    QTimer::singleShot(0, Dialog.get(), [this, user] { user(*Dialog); });
    return Dialog->exec();
  }

  std::unique_ptr<QWidget> Main;
  std::unique_ptr<TGlobalSettings> Settings;
  std::unique_ptr<TQtConfigDialog> Dialog;
  std::vector<std::string> Errors;
};

}  // namespace

TEST_F(ConfigDialogTest, LayoutAtTheScreensDensity) {
  Start();
  TQtConfigDialog& d = *Dialog;
  EXPECT_EQ(d.windowTitle(), "環境設定");
  EXPECT_EQ(d.size(), QSize(d.Scaled(357), d.Scaled(288)));
  EXPECT_EQ(d.editFloor->geometry(),
            QRect(d.Scaled(192), d.Scaled(152), d.Scaled(65), d.Scaled(23)));
  EXPECT_EQ(d.Button2->mapTo(&d, QPoint(0, 0)),
            QPoint(d.Scaled(248), d.height() - d.Scaled(40) + d.Scaled(8)));
  EXPECT_EQ(d.font().pixelSize(), d.Scaled(15));
  EXPECT_EQ(d.Label2->text(), "3.00倍速");
  EXPECT_EQ(d.Label6->text(), "開始5分後のしきい値");
  EXPECT_EQ(d.chkRecordToFile->text(), "録音結果をファイルに保存");
  const QSlider& bar = *d.trackSpeed;
  EXPECT_EQ(std::tuple(bar.minimum(), bar.maximum(), bar.tickInterval()), std::tuple(10, 60, 10));
  EXPECT_TRUE(d.btnOK->isDefault());

  // Tab order: the buttons of the panel first, then the controls from the top.
  std::vector<QWidget*> expected = {d.btnOK,      d.Button1,     d.Button2,   d.trackSpeed,
                                    d.editMaxFreq, d.editMinFreq, d.editFloor, d.editFloor2,
                                    d.chkRecordToFile};
  QWidget* w = d.btnOK;
  for (size_t i = 1; i < expected.size(); ++i) {
    do w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus);
    EXPECT_EQ(w, expected[i]) << i;
  }
}

TEST_F(ConfigDialogTest, ShowsTheSettingsAndOkStoresAndSaves) {
  Reg->WriteDword(kKey, "viSpeed", 45);
  Reg->WriteDword(kKey, "viMinFreq", 5u);
  Reg->WriteString(kKey, "vbRecordToFile", "1");
  Start();
  const int result = Run([](TQtConfigDialog& d) {
    EXPECT_EQ(d.trackSpeed->value(), 45);
    EXPECT_EQ(d.Label2->text(), "4.50倍速");
    EXPECT_EQ(d.editMaxFreq->QLineEdit::text(), "3000");
    EXPECT_EQ(d.editMinFreq->QLineEdit::text(), "5");
    EXPECT_TRUE(d.chkRecordToFile->isChecked());
    // The user: the trackbar by keys (arrows by 1, pages by 2), a new threshold, untick.
    d.trackSpeed->setFocus();
    QTest::keyClick(d.trackSpeed, Qt::Key_Right);
    QTest::keyClick(d.trackSpeed, Qt::Key_PageUp);
    EXPECT_EQ(d.Label2->text(), "4.80倍速");
    d.editFloor->selectAll();
    QTest::keyClicks(d.editFloor, "35O0");  // a letter O among the digits is refused
    QTest::mouseClick(d.chkRecordToFile, Qt::LeftButton);
    QTest::mouseClick(d.btnOK, Qt::LeftButton);
  });
  EXPECT_EQ(result, QDialog::Accepted);
  const TGlobalSettings& s = *GlobalSettings;
  EXPECT_EQ(std::tuple(s.viSpeed->Value, s.viFloor->Value, s.vbRecordToFile->Value),
            std::tuple(48, 350, false));
  EXPECT_EQ(Stored("viSpeed"), Dword(48));
  EXPECT_EQ(Stored("viFloor"), Dword(350));
  EXPECT_EQ(Stored("viMinFreq"), Dword(5));
  EXPECT_EQ(Stored("vbRecordToFile"), Sz("0"));
  EXPECT_EQ(Stored("viWaveInDevice"), Dword(0));  // every setting is written
  EXPECT_TRUE(Errors.empty());
}

TEST_F(ConfigDialogTest, TrackbarClampsStoredSpeeds) {
  Reg->WriteDword(kKey, "viSpeed", 100);
  Start();
  Run([](TQtConfigDialog& d) {
    EXPECT_EQ(d.trackSpeed->value(), 60);
    EXPECT_EQ(d.Label2->text(), "6.00倍速");
    QTest::keyClick(&d, Qt::Key_Return);  // the default button
  });
  EXPECT_EQ(Stored("viSpeed"), Dword(60));

  GlobalSettings->viSpeed->Value = 5;
  Run([](TQtConfigDialog& d) {
    EXPECT_EQ(d.trackSpeed->value(), 10);
    EXPECT_EQ(d.Label2->text(), "1.00倍速");
    QTest::mouseClick(d.btnOK, Qt::LeftButton);
  });
  EXPECT_EQ(GlobalSettings->viSpeed->Value, 10);
  EXPECT_EQ(Stored("viSpeed"), Dword(10));
}

TEST_F(ConfigDialogTest, CancelForgetsAndTheNextShowingStartsOver) {
  Start();
  const int result = Run([](TQtConfigDialog& d) {
    d.trackSpeed->setFocus();
    QTest::keyClick(d.trackSpeed, Qt::Key_End);
    EXPECT_EQ(d.trackSpeed->value(), 60);
    d.editMaxFreq->selectAll();
    QTest::keyClicks(d.editMaxFreq, "999");
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(GlobalSettings->viSpeed->Value, 30);
  EXPECT_EQ(GlobalSettings->viMaxFreq->Value, 3000);
  EXPECT_FALSE(Stored("viSpeed"));  // nothing saved

  Run([](TQtConfigDialog& d) {
    EXPECT_EQ(d.trackSpeed->value(), 30);
    EXPECT_EQ(d.Label2->text(), "3.00倍速");
    EXPECT_EQ(d.editMaxFreq->QLineEdit::text(), "3000");
    QTest::keyClick(&d, Qt::Key_Escape);
  });
}

TEST_F(ConfigDialogTest, DefaultsAskFirstAndResetAtOnce) {
  Reg->WriteDword(kKey, "viSpeed", 45);
  Start();
  TQtConfigDialog::MessageTitle = "korvel";
  TModalAnswer box;
  Run([&](TQtConfigDialog& d) {
    AnswerNextBox(box, QMessageBox::No);  // No: nothing happens
    QTest::mouseClick(d.Button2, Qt::LeftButton);
    EXPECT_EQ(d.trackSpeed->value(), 45);
    AnswerNextBox(QMessageBox::Yes);  // Yes: the controls show the defaults, the dialog stays
    QTest::mouseClick(d.Button2, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.trackSpeed->value(), 30);
    EXPECT_EQ(d.Label2->text(), "3.00倍速");
    EXPECT_EQ(d.editMinFreq->QLineEdit::text(), "20");
    EXPECT_FALSE(d.chkRecordToFile->isChecked());
    QTest::mouseClick(d.Button1, Qt::LeftButton);
  });
  EXPECT_EQ(box.Title, "korvel");
  EXPECT_EQ(box.Text, "標準の設定を読み込みますか。");
  EXPECT_FALSE(Stored("viSpeed"));
  TQtConfigDialog::MessageTitle.clear();
  EXPECT_TRUE(Errors.empty());
}

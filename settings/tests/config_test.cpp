#include "NumberEdit.h"
#include "config_contract.h"
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

// The contract's driver on the Qt dialog: mouse clicks and key events on its widgets.
class TQtDriver : public TConfigDriver {
public:
  explicit TQtDriver(std::unique_ptr<TQtConfigDialog>& dialog) : Dialog(dialog) {}
  void Show(bool ok, const std::function<void()>& user) override {
    QTimer::singleShot(0, Dialog.get(), user);
    EXPECT_EQ(D().exec(), ok ? QDialog::Accepted : QDialog::Rejected);
  }
  int32_t Speed() override { return D().trackSpeed->value(); }
  std::string Caption() override { return D().Label2->text().toStdString(); }
  std::u16string Text(TConfigEdit e) override {
    return Edit(e)->QLineEdit::text().toStdU16String();
  }
  bool Record() override { return D().chkRecordToFile->isChecked(); }
  bool Open() override { return D().isVisible(); }
  void BarToEnd() override {
    D().trackSpeed->setFocus();
    QTest::keyClick(D().trackSpeed, Qt::Key_End);
  }
  void Type(TConfigEdit e, const std::string& keys) override {
    Edit(e)->selectAll();
    QTest::keyClicks(Edit(e), keys.c_str());
  }
  void ClickRecord() override { QTest::mouseClick(D().chkRecordToFile, Qt::LeftButton); }
  void Close(bool ok, bool key) override {
    if (key)
      QTest::keyClick(&D(), ok ? Qt::Key_Return : Qt::Key_Escape);
    else
      QTest::mouseClick(ok ? D().btnOK : D().Button1, Qt::LeftButton);
  }
  std::string Defaults(bool yes) override {
    TModalAnswer box;
    AnswerNextBox(box, yes ? QMessageBox::Yes : QMessageBox::No);
    QTest::mouseClick(D().Button2, Qt::LeftButton);
    EXPECT_EQ(box.Title, "korvel");
    return box.Text.toStdString();
  }

private:
  TQtConfigDialog& D() { return *Dialog; }
  TNumberEdit* Edit(TConfigEdit e) {
    TNumberEdit* const edits[] = {D().editMaxFreq, D().editMinFreq, D().editFloor, D().editFloor2};
    return edits[int(e)];
  }
  std::unique_ptr<TQtConfigDialog>& Dialog;
};

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
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        Errors.push_back(x.what());
      }
    };
    TQtConfigDialog::MessageTitle = "korvel";
    Start();
  }
  void TearDown() override {
    EXPECT_TRUE(Errors.empty());
    TQtConfigDialog::MessageTitle.clear();
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
  TQtDriver Driver{Dialog};
};

}  // namespace

KORVEL_CONFIG_CONTRACT(ConfigDialogTest, *Reg)

TEST_F(ConfigDialogTest, LayoutAtTheScreensDensity) {
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

TEST_F(ConfigDialogTest, TrackbarStepsByKeysAndClampsStoredSpeeds) {
  Reg->WriteDword(kKey, "viSpeed", 100);
  GlobalSettings->Load();
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
    d.trackSpeed->setFocus();  // arrows by 1, pages by 2
    QTest::keyClick(d.trackSpeed, Qt::Key_Right);
    QTest::keyClick(d.trackSpeed, Qt::Key_PageUp);
    EXPECT_EQ(d.Label2->text(), "1.30倍速");
    QTest::mouseClick(d.btnOK, Qt::LeftButton);
  });
  EXPECT_EQ(GlobalSettings->viSpeed->Value, 13);
  EXPECT_EQ(Stored("viSpeed"), Dword(13));
}

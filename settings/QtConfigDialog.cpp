#include "QtConfigDialog.h"

#include "NumberEdit.h"
#include "appinfo.h"
#include "uglobal.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>

#include <cmath>

std::function<void(std::exception_ptr)> TQtConfigDialog::ExceptionHandler;
QString TQtConfigDialog::MessageTitle;

namespace {
constexpr int kDesignDpi = 120;
}

int TQtConfigDialog::Scaled(int designPixels) const {
  // MulDiv: rounded to the nearest pixel.
  return int(std::lround(double(designPixels) * Dpi / kDesignDpi));
}

TQtConfigDialog::TQtConfigDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      TfConfig(static_cast<IConfigView&>(*this)) {
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  Dpi = screen ? int(std::lround(screen->logicalDotsPerInchY())) : kDesignDpi;
  if (Dpi <= 0) Dpi = kDesignDpi;
  auto S = [this](int v) { return Scaled(v); };

  setObjectName(QStringLiteral("fConfig"));
  setWindowTitle(QStringLiteral("環境設定"));
  setModal(true);
  // The window font ("MS UI Gothic", which the program maps to an installed Japanese face)
  // at 15 pixels of the design.
  QFont font = QApplication::font();
  font.setPixelSize(S(15));
  setFont(font);
  setFixedSize(S(357), S(288));

  auto label = [&](const char* text, int x, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->move(S(x), S(y));
    l->adjustSize();
    return l;
  };
  auto edit = [&](int32_t value, int x, int y) {
    auto* e = new TNumberEdit(this);
    e->setGeometry(S(x), S(y), S(65), S(23));
    e->Real = false;
    e->Minus = true;
    e->SetAsInteger(value);
    return e;
  };

  Label1 = label("最大の速度", 24, 16);
  trackSpeed = new QSlider(Qt::Horizontal, this);
  trackSpeed->setGeometry(S(16), S(40), S(257), S(33));
  trackSpeed->setRange(10, 60);
  trackSpeed->setTickPosition(QSlider::TicksBelow);
  trackSpeed->setTickInterval(10);
  trackSpeed->setSingleStep(1);  // arrow keys
  trackSpeed->setPageStep(2);    // page keys
  trackSpeed->setValue(TSettingDefaults::viSpeed);
  trackSpeed->setFocusPolicy(Qt::StrongFocus);
  Label2 = label(SpeedCaption(TSettingDefaults::viSpeed).c_str(), 288, 48);
  Label3 = label("検出する最高の周波数", 24, 88);
  editMaxFreq = edit(TSettingDefaults::viMaxFreq, 192, 88);
  Label7 = label("hz", 264, 96);
  Label4 = label("検出する最低の周波数", 24, 120);
  editMinFreq = edit(TSettingDefaults::viMinFreq, 192, 120);
  Label8 = label("hz", 264, 128);
  Label5 = label("しきい値", 24, 152);
  editFloor = edit(TSettingDefaults::viFloor, 192, 152);
  Label9 = label("hz", 264, 160);
  Label6 = label("開始5分後のしきい値", 24, 184);
  editFloor2 = edit(TSettingDefaults::viFloor2, 192, 184);
  Label10 = label("hz", 264, 192);
  chkRecordToFile = new QCheckBox(QStringLiteral("録音結果をファイルに保存"), this);
  chkRecordToFile->setGeometry(S(24), S(216), S(273), S(17));

  // Bottom-aligned, full width, no bevel.
  Panel1 = new QWidget(this);
  Panel1->setGeometry(0, height() - S(40), width(), S(40));
  btnOK = new QPushButton(QStringLiteral("OK"), Panel1);
  btnOK->setGeometry(S(72), S(8), S(75), S(25));
  btnOK->setDefault(true);
  Button1 = new QPushButton(QStringLiteral("キャンセル"), Panel1);
  Button1->setGeometry(S(160), S(8), S(75), S(25));
  Button2 = new QPushButton(QStringLiteral("標準の設定"), Panel1);
  Button2->setGeometry(S(248), S(8), S(97), S(25));

  // The panel's buttons come first, then the controls above it.
  QWidget* order[] = {btnOK,       Button1,    Button2,  trackSpeed, editMaxFreq,
                      editMinFreq, editFloor,  editFloor2, chkRecordToFile};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(trackSpeed, &QSlider::valueChanged, this, [this] { trackSpeedChange(); });
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TQtConfigDialog::SetSpeedPosition(int32_t position) { trackSpeed->setValue(position); }

int32_t TQtConfigDialog::SpeedPosition() { return trackSpeed->value(); }

void TQtConfigDialog::SetSpeedCaption(const std::string& text) {
  Label2->setText(QString::fromStdString(text));
  Label2->adjustSize();
}

void TQtConfigDialog::SetRecordToFile(bool checked) { chkRecordToFile->setChecked(checked); }

bool TQtConfigDialog::RecordToFile() { return chkRecordToFile->isChecked(); }

TNumberEdit* TQtConfigDialog::Edit(TConfigEdit edit) const {
  switch (edit) {
    case TConfigEdit::MaxFreq: return editMaxFreq;
    case TConfigEdit::MinFreq: return editMinFreq;
    case TConfigEdit::Floor: return editFloor;
    case TConfigEdit::Floor2: return editFloor2;
  }
  return editFloor2;
}

std::u16string TQtConfigDialog::ReadEdit(TConfigEdit edit) {
  return Edit(edit)->Text().toStdU16String();
}

void TQtConfigDialog::WriteEdit(TConfigEdit edit, const std::u16string& text) {
  Edit(edit)->SetText(QString::fromStdU16String(text));
}

bool TQtConfigDialog::AskYesNo(const std::string& text) {
  QWidget* owner = parentWidget() ? parentWidget() : this;
  QMessageBox box(QMessageBox::Question, Title(), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, owner);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
  box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void TQtConfigDialog::EndDialog(bool ok) {
  if (ok) {
    accept();
  } else {
    reject();
  }
}

void TQtConfigDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // the window system showing it again is no new showing
  FormShow();
}

QString TQtConfigDialog::Title() const {
  if (!MessageTitle.isEmpty()) return MessageTitle;
  return ApplicationTitleFromPath(QCoreApplication::applicationFilePath());
}

void TQtConfigDialog::ReportError(std::exception_ptr error) {
  if (ExceptionHandler) {
    ExceptionHandler(error);
    return;
  }
  QMessageBox::critical(parentWidget() ? parentWidget() : this, Title(), ExceptionText(error));
}

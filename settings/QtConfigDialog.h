#pragma once
// The settings dialog's Qt front end: the controls, their layout and the plumbing from Qt's
// events to TfConfig's handlers (uConfig.h holds what the dialog does). Shown modally with
// exec(). Laid out in pixels designed at 120 dpi and scaled to the screen's logical dpi.
#include "uConfig.h"

#include <QDialog>
#include <QString>

#include <exception>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;
class TNumberEdit;

class TQtConfigDialog : public QDialog, private IConfigView, public TfConfig {
public:
  // `parent` is the main window: the dialog is centred on it and owns its message boxes.
  explicit TQtConfigDialog(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QSlider* trackSpeed = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  TNumberEdit* editMaxFreq = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label4 = nullptr;
  TNumberEdit* editMinFreq = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label5 = nullptr;
  TNumberEdit* editFloor = nullptr;
  QLabel* Label9 = nullptr;
  QLabel* Label6 = nullptr;
  TNumberEdit* editFloor2 = nullptr;
  QLabel* Label10 = nullptr;
  QCheckBox* chkRecordToFile = nullptr;
  QWidget* Panel1 = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

  // Where an error of a handler goes. The program points this at its default error handler;
  // when empty, a message box owned by the parent window shows the text.
  static std::function<void(std::exception_ptr)> ExceptionHandler;
  // Title of the message boxes; when empty, the program file's name by the title rule.
  static QString MessageTitle;

  // Design pixels (at 120 dpi) to screen pixels.
  int Scaled(int designPixels) const;

protected:
  void showEvent(QShowEvent* event) override;

private:
  // IConfigView
  void SetSpeedPosition(int32_t position) override;
  int32_t SpeedPosition() override;
  void SetSpeedCaption(const std::string& text) override;
  void SetRecordToFile(bool checked) override;
  bool RecordToFile() override;
  std::u16string ReadEdit(TConfigEdit edit) override;
  void WriteEdit(TConfigEdit edit, const std::u16string& text) override;
  bool AskYesNo(const std::string& text) override;
  void ReportError(std::exception_ptr error) override;
  void EndDialog(bool ok) override;

  TNumberEdit* Edit(TConfigEdit edit) const;
  QString Title() const;
  int Dpi;
};

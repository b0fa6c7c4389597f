#pragma once
// The settings dialog "環境設定": edits the maximum speed, the detection range, the two
// thresholds and the capture-file switch of GlobalSettings. Created once, after the main
// window, and shown modally with exec() as often as the user asks; each showing copies the
// settings into the controls first, so what was typed and cancelled is forgotten.
//
// Laid out in pixels designed at 120 dpi and scaled to the screen's logical dpi.
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

class TfConfig : public QDialog {
public:
  // `parent` is the main window: the dialog is centred on it and owns its message boxes.
  explicit TfConfig(QWidget* parent = nullptr);

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

  // Settings into the controls, and back (StoreControls then saves). StoreControls stops at
  // an edit that holds no whole number, with the settings before it already taken over.
  void LoadControls();
  void StoreControls();

  // Handlers, public so tests can drive them as the events do.
  void FormShow();
  void trackSpeedChange();
  void btnOKClick();
  void Button2Click();

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
  void Report(std::exception_ptr error);
  QString Title() const;
  int Dpi;
};

// The one dialog, created by the program after the main window.
extern TfConfig* fConfig;

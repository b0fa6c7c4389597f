#pragma once
// The settings dialog "環境設定" as behaviour, for any toolkit: it edits the maximum speed,
// the detection range, the two thresholds and the capture-file switch of GlobalSettings.
// Created once, after the main window, and shown modally as often as the user asks; each
// showing copies the settings into the controls first, so what was typed and cancelled is
// forgotten. A front end (QtConfigDialog.h; a Win32 dialog) owns the controls, lays them
// out and routes their events to the handlers below; what the behaviour needs of it is
// IConfigView.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

// The four numeric edits, by the setting each one edits.
enum class TConfigEdit { MaxFreq, MinFreq, Floor, Floor2 };

class IConfigView {
public:
  // trackSpeed: setting the position clamps it to the bar's range (10..60); a position that
  // changes calls the behaviour's trackSpeedChange.
  virtual void SetSpeedPosition(int32_t position) = 0;
  virtual int32_t SpeedPosition() = 0;
  virtual void SetSpeedCaption(const std::string& text) = 0;  // Label2
  virtual void SetRecordToFile(bool checked) = 0;             // chkRecordToFile
  virtual bool RecordToFile() = 0;
  // An edit's text through its checked read (NumberFilter.h: CheckText, which may show "0"),
  // and written unchecked.
  virtual std::u16string ReadEdit(TConfigEdit edit) = 0;
  virtual void WriteEdit(TConfigEdit edit, const std::u16string& text) = 0;
  // A Yes/No question with the question icon, owned by the application window and titled
  // with the application title; true for Yes. Runs a nested loop until answered.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The application's default error report for an error of a handler.
  virtual void ReportError(std::exception_ptr error) = 0;
  // Ends the modal showing with the OK (true) or the cancel result.
  virtual void EndDialog(bool ok) = 0;

protected:
  ~IConfigView() = default;
};

class TfConfig {
public:
  explicit TfConfig(IConfigView& view) : View(view) {}
  TfConfig(const TfConfig&) = delete;
  TfConfig& operator=(const TfConfig&) = delete;
  virtual ~TfConfig() = default;

  // Settings into the controls, and back (StoreControls then saves), each in the order the
  // dialog has always used. StoreControls stops at an edit that holds no whole number, with
  // the settings before it already taken over and nothing saved. Values outside the ranges
  // of settingranges.h are brought into them as a load does, and the user told which.
  void LoadControls();
  void StoreControls();

  // Handlers, called by the front end as its events arrive (and by tests).
  void FormShow();          // each showing, before the user sees it
  void trackSpeedChange();  // the bar's position changed
  void btnOKClick();        // stores and saves, then closes with OK even when storing failed
  void Button1Click();      // キャンセル: closes, settings as they are
  void Button2Click();      // 標準の設定: asks, then all settings back at their defaults

  // Label2's text for a bar position: the factor with two decimals, "3.00倍速".
  static std::string SpeedCaption(int32_t position);

  static constexpr const char* DefaultsQuestion = "標準の設定を読み込みますか。";

private:
  // Runs a handler's step; an error goes to the view's error report.
  void Run(const std::function<void()>& step);
  IConfigView& View;
};

// The one dialog, created by the program after the main window.
extern TfConfig* fConfig;

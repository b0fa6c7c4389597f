#pragma once
// The main window's Win32 front end: the controls with the layout's positions, texts and
// font, and the plumbing from window messages (clicks, the two window timers, MM_WIM_DATA,
// show and close) to TfMain's handlers; behaviour/uMain.h holds what the window does. It
// also reads the strip's background picture, since reading picture files is the system's.
//
// The audio input announces buffers to this window either by itself (winmm: MM_WIM_DATA
// posted to Handle()) or through the sink below, which posts the same message, so one
// handler serves every backend.
#include "uMain.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

class TWin32PaintBox;

class TWin32MainWindow : private IMainView, public TfMain {
public:
  // Creates the window (hidden) and its controls, reads the placement-independent state
  // and the background picture from `pictureFolder` (the program's folder when empty).
  // Raises std::runtime_error when the window cannot be made.
  TWin32MainWindow(IWaveIn& waveIn, IClock& clock, const std::wstring& pictureFolder = {});
  ~TWin32MainWindow() override;

  HWND Handle() const { return FHandle; }
  // A control by its id (controlids.h).
  HWND Control(int id) const { return GetDlgItem(FHandle, id); }

  static constexpr const wchar_t* PictureName = L"default.bmp";
  std::wstring PictureFile() const;

  // Runs `job` on the window's thread once the loop gets to it, through RunGuarded; callable
  // from any thread. Jobs still queued when the window goes are dropped.
  void Post(std::function<void()> job);

  // Called when the window is being destroyed, while it still exists (the placement is
  // written there); errors must not leave it.
  std::function<void(HWND)> OnDestroying;
  // Whether destroying the window ends the message loop (the program's window does).
  bool QuitOnDestroy = true;

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HWND AddControl(const wchar_t* windowClass, const char* text, DWORD style, int id, int left,
                  int top, int width, int height);
  HWND AddLabel(const char* text, int id, int left, int top);
  void FitLabel(HWND label);
  void LoadBackground();
  void RunPosted();
  void Destroying();

  // IMainView
  void SetCaption(TMainLabel label, const std::string& text) override;
  void SetCaptionColor(TMainLabel label, uint32_t color) override;
  void SetEnabled(TMainControl control, bool enabled) override;
  int32_t DevicePosition() override;
  int32_t DeviceCount() override;
  void SelectDevice(int32_t position) override;
  bool PublishChecked() override;
  void ShowInformation(const std::string& text) override;
  void ReportLater(std::exception_ptr error) override;
  void ProcessMessagesUntil(const std::function<bool()>& done) override;
  void ProcessMessagesWithoutInput() override;
  void SetTimerActive(TMainTimer timer, bool active) override;
  TDIBSurface& StripSurface() override;
  void PaintStrip() override;
  TWaveInWindow WaveInWindow() override;
  void DropWaveInNotices() override;

  // For backends with a capture thread of their own: posts MM_WIM_DATA as winmm does, and
  // the failure with its text.
  class TSink : public IWaveInSink {
  public:
    explicit TSink(TWin32MainWindow& owner) : Owner(owner) {}
    void WaveInData(HWAVEIN handle, WAVEHDR* header) override;
    void WaveInFailed(HWAVEIN handle, const std::string& detail) override;

  private:
    TWin32MainWindow& Owner;
  };

  HWND LabelHandle(TMainLabel label) const;

  IWaveIn& FWaveIn;
  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  std::unique_ptr<TWin32PaintBox> FPaintBox;
  std::wstring FPictureFolder;
  bool FShown = false;
  COLORREF FLabelColor[4] = {};  // by TMainLabel
  std::mutex FPostedLock;  // the sink and Post may be called from other threads
  std::deque<std::function<void()>> FPosted;
  std::deque<std::pair<HWAVEIN, std::string>> FFailures;
  TSink FSink{*this};
};

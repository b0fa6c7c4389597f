// The main window's behaviour through a fake front end, with no toolkit: starts and their
// failures, the calibration waits and their exits, the threshold, the speed rule's publish.
#include "WindowTestEnvironment.h"
#include "test_signals.h"
#include "uMain.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A window of plain values. Notices of the audio input are queued as a toolkit posts them
// and handled by the nested loops; an error leaving a handler is recorded as the
// default error report would show it.
class TFakeMainView : public IMainView, public IWaveInSink {
public:
  TfMain* Form = nullptr;
  std::map<TMainLabel, std::string> Captions;
  uint32_t FundamentalColor = kColorBlack;
  std::map<TMainControl, bool> Enabled;
  std::map<TMainTimer, bool> Timers;
  int32_t Position = 0, Count = 3;
  bool Publish = true;
  std::vector<std::string> Boxes, Errors;
  std::function<void()> WhileBoxOpen, EachLoopTurn;  // what the user and the device do meanwhile
  std::deque<std::function<void()>> Posted;
  TDIBSurface Strip{kStripWidth, kStripHeight, 32};

  void Handle(const std::function<void()>& handler) try { handler(); } catch (const std::exception& e) {
    Errors.push_back(e.what());
  }
  void Pump() {  // a handler may drop or add notices
    while (!Posted.empty()) {
      auto notice = std::move(Posted.front());
      Posted.pop_front();
      Handle(notice);
    }
  }

  void SetCaption(TMainLabel l, const std::string& text) override { Captions[l] = text; }
  void SetCaptionColor(TMainLabel, uint32_t color) override { FundamentalColor = color; }
  void SetEnabled(TMainControl c, bool on) override { Enabled[c] = on; }
  int32_t DevicePosition() override { return Position; }
  int32_t DeviceCount() override { return Count; }
  void SelectDevice(int32_t p) override { Position = p; }
  bool PublishChecked() override { return Publish; }
  void ShowInformation(const std::string& text) override {
    Boxes.push_back(text);
    if (WhileBoxOpen) WhileBoxOpen();
    Pump();
  }
  void ReportLater(std::exception_ptr error) override { Handle([&] { std::rethrow_exception(error); }); }
  void ProcessMessagesUntil(const std::function<bool()>& done) override {
    for (int turn = 0; !done(); ++turn) {
      ASSERT_LT(turn, 1000) << "a nested loop that never ends";
      ProcessMessagesWithoutInput();
    }
  }
  void ProcessMessagesWithoutInput() override {
    if (EachLoopTurn) EachLoopTurn();
    Pump();
  }
  void SetTimerActive(TMainTimer t, bool on) override { Timers[t] = on; }
  TDIBSurface& StripSurface() override { return Strip; }
  void PaintStrip() override {}
  TWaveInWindow WaveInWindow() override { return {nullptr, this}; }
  void DropWaveInNotices() override { Posted.clear(); }
  void WaveInData(HWAVEIN h, WAVEHDR* header) override {
    Posted.push_back([this, h, header] { Form->MMWimData(h, header); });
  }
  void WaveInFailed(HWAVEIN h, const std::string& detail) override {
    Posted.push_back([this, h, detail] { Form->WaveInFailed(h, detail); });
  }
};

class MainBehaviourTest : public ::testing::Test, public TWindowTestEnvironment {
public:  // the cases' actions reach the fixture
  MainBehaviourTest() {
    View.Form = &Form;
    Form.FormCreate();
    Form.FormShow();
  }
  void Click() { View.Handle([&] { Form.btnRecordClick(); }); }
  void Calibrate(int16_t level) {
    View.WhileBoxOpen = [this, level] { WaveIn.DeliverConstant(level); };
    Click();
  }
  void Feed(double hz) {
    ASSERT_TRUE(WaveIn.Deliver(Tone(hz)));
    View.Pump();
  }

  TFakeMainView View;
  TfMain Form{View, WaveIn, Clock};
};

}  // namespace

TEST_F(MainBehaviourTest, StartThatFailsLeavesTheWindowIdleAndReleasesEverything) {
  struct Case {
    const char* name;
    MMRESULT open, prepare, add;
    int32_t position;
  } cases[] = {
      {"no device selected", MMSYSERR_NOERROR, MMSYSERR_NOERROR, MMSYSERR_NOERROR, -1},
      {"open refused", MMSYSERR_ALLOCATED, MMSYSERR_NOERROR, MMSYSERR_NOERROR, 1},
      {"prepare refused", MMSYSERR_NOERROR, MMSYSERR_NOMEM, MMSYSERR_NOERROR, 1},
      {"queueing refused", MMSYSERR_NOERROR, MMSYSERR_NOERROR, MMSYSERR_INVALPARAM, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    View.Errors.clear(), View.Boxes.clear();
    WaveIn.OpenResult = c.open;
    WaveIn.PrepareResult = c.prepare;
    WaveIn.AddResult = c.add;
    View.Position = c.position;
    Clock.Now = 7000;
    const int32_t pushedAt = Form.History.Position;
    Click();
    EXPECT_EQ(View.Errors, std::vector<std::string>{TfMain::StartFailedText});
    EXPECT_TRUE(View.Boxes.empty());  // no calibration prompt
    EXPECT_FALSE(Form.Recording);
    EXPECT_FALSE(View.Enabled[TMainControl::btnStop]);
    EXPECT_TRUE(View.Timers[TMainTimer::Timer1]);
    EXPECT_EQ(WaveIn.OpenCount, 0);
    EXPECT_EQ(Form.WaveInHandle, nullptr);
    EXPECT_EQ(Form.BufferHandle, nullptr);
    EXPECT_EQ(Form.StartTime, 7000u);
    EXPECT_EQ(Form.Threshold, TSettingDefaults::viFloor);
    EXPECT_EQ(Form.History.Position, (pushedAt + 1) % TBasicFreqenycyTable::Size);
    EXPECT_FALSE(DeviceSaved());
  }
}

TEST_F(MainBehaviourTest, CalibrationWaitsAndTheirExits) {
  struct Case {
    const char* name;
    bool atPrompt;  // `during` runs while the prompt is open, else at each turn of the wait
    std::function<void(MainBehaviourTest&)> during;
    bool recording;
    double reference;
    std::string error;
  } cases[] = {
      {"a level arrives", false, [](MainBehaviourTest& t) { t.WaveIn.DeliverConstant(500); }, true, 500.0, ""},
      {"only exact zeros", false, [](MainBehaviourTest& t) { t.WaveIn.DeliverConstant(0); }, false, 0.0,
       "入力から無音"},
      {"no buffer at all", false, [](MainBehaviourTest& t) { t.Clock.Now += 1000; }, false, 0.0,
       "入力デバイスから音声がまったく届かない"},
      {"stopped", false, [](MainBehaviourTest& t) { t.Form.btnStopClick(); }, false, 0.0, ""},
      {"window closed", false, [](MainBehaviourTest& t) { EXPECT_TRUE(t.Form.FormCloseQuery()); }, false, 0.0, ""},
      {"window closed while the prompt is open", true,  // a buffer on its way is dropped too
       [](MainBehaviourTest& t) {
         t.WaveIn.DeliverConstant(700);
         t.Form.FormCloseQuery();
       },
       false, 0.0, ""},
      {"device fails", false, [](MainBehaviourTest& t) { t.WaveIn.Fail("unplugged"); }, false, 0.0,
       "録音デバイスでエラーが発生したため、録音を停止しました。\nunplugged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    View.Errors.clear();
    Form.ReferenceMean = Form.LastMean = 0.0;
    View.Position = 2;
    View.WhileBoxOpen = [&] { if (c.atPrompt) c.during(*this); };
    View.EachLoopTurn = [&] { if (!c.atPrompt) c.during(*this); };
    Click();
    EXPECT_EQ(View.Boxes.back(), TfMain::CalibrationPrompt);
    EXPECT_EQ(std::tuple(Form.Recording, Form.ReferenceMean, Form.LastMean, DeviceSaved()),
              std::tuple(c.recording, c.reference, c.reference, c.recording));
    EXPECT_EQ(View.Errors.size(), c.error.empty() ? 0u : 1u);
    EXPECT_EQ(View.Errors.empty() ? "" : View.Errors[0].substr(0, c.error.size()), c.error);
    EXPECT_EQ(WaveIn.Calls.front(), "open 1");
    Form.btnStopClick();
    EXPECT_EQ(WaveIn.OpenCount, 0);
    EXPECT_TRUE(View.Posted.empty());  // the device's last notice is dropped with it
    Reg->DeleteKey("Software\\Trevane\\Korvel");
    WaveIn.Calls.clear();
  }
}

TEST_F(MainBehaviourTest, SpeedStepsReachTheMailboxWhenTicked) {
  Calibrate(100);
  ASSERT_TRUE(Form.Recording);
  EXPECT_EQ(Mailbox->Memory()[0], 0);  // the player hears nothing before the first step
  struct Step {
    double hz;  // under the threshold steps up, at or above it steps down
    bool publish;
    float speed;
    const char* caption;
  } steps[] = {{200.0, true, 1.1f, "1.10倍速"}, {200.0, false, 1.2f, "1.20倍速"}, {1000.0, true, 1.0f, "1.00倍速"}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.caption);
    View.Publish = s.publish;
    const double before = Published();
    for (int i = 0; i < kRunLength; ++i) {
      EXPECT_NE(Form.SpeedFactor, s.speed);  // the step comes with the twentieth
      EXPECT_EQ(std::max(Form.BelowCount, Form.AboveCount), i);
      Feed(s.hz);
    }
    EXPECT_EQ(Form.SpeedFactor, s.speed);
    EXPECT_EQ(View.Captions[TMainLabel::Label3], s.caption);
    EXPECT_EQ(Published(), s.publish ? double(s.speed) : before);
  }
  Form.btnStopClick();
}

TEST_F(MainBehaviourTest, ThresholdFollowsTheRampOnceCalibrated) {
  Form.Timer2Timer();
  EXPECT_EQ(View.Captions[TMainLabel::Label4], "400hz");  // idle
  Clock.Now = 0xFFFFF000u;  // a start shortly before the clock wraps
  View.WhileBoxOpen = [&] {  // before calibration the floor holds whatever the time
    Clock.Now += 200000;
    Form.Timer2Timer();
    EXPECT_EQ(View.Captions[TMainLabel::Label4], "400hz");
    WaveIn.DeliverConstant(100);
  };
  Click();
  ASSERT_EQ(Form.ReferenceMean, 100.0);
  struct Tick {
    uint32_t elapsed;
    int32_t floor, floor2;
    int32_t threshold;
  } ticks[] = {
      {1, 400, 200, 400}, {1500, 400, 200, 399}, {150000, 400, 200, 300},
      {299999, 400, 200, 201}, {300000, 400, 200, 200}, {4000000, 400, 200, 200},
      {150000, 1000, 2000, 1500},  // a rising ramp is taken as it is; settings read each tick
      {150000, INT32_MIN, INT32_MAX, int32_t(INT32_MIN + (4294967295LL * 150000) / 300000)},
  };
  for (const Tick& t : ticks) {
    SCOPED_TRACE(t.elapsed);
    Settings->viFloor->Value = t.floor;
    Settings->viFloor2->Value = t.floor2;
    Clock.Now = 0xFFFFF000u + t.elapsed;  // wraps past zero for most of these
    Form.Timer2Timer();
    EXPECT_EQ(Form.Threshold, t.threshold);
    EXPECT_EQ(View.Captions[TMainLabel::Label4], std::to_string(t.threshold) + "hz");
  }
  Form.btnStopClick();
  Form.Timer2Timer();
  EXPECT_EQ(Form.Threshold, INT32_MIN);  // stopped: the floor again
}

TEST_F(MainBehaviourTest, EachBufferIsClassifiedWithTheSettingsAndThresholdOfItsMoment) {
  Calibrate(10);
  struct Buffer {
    const char* what;
    std::function<void(MainBehaviourTest&)> before;
    double hz;
    const char* fundamental;
    uint32_t color;
    int32_t above;
  } buffers[] = {
      {"under the floor", nullptr, 350, "349", kColorBlack, 0},
      {"ramped to 300 Hz", [](MainBehaviourTest& t) { t.Clock.Now = t.Form.StartTime + 150000; t.Form.Timer2Timer(); },
       350, "349", kColorRed, 1},
      {"in range", nullptr, 1000, "1001", kColorRed, 2},
      {"range narrowed mid-capture", [](MainBehaviourTest& t) { t.Settings->viMaxFreq->Value = 500; }, 1000,
       kNotDetectedCaption, kColorBlack, 3},
  };
  for (const Buffer& b : buffers) {
    SCOPED_TRACE(b.what);
    if (b.before) b.before(*this);
    Feed(b.hz);
    EXPECT_EQ(View.Captions[TMainLabel::lblFundamental], b.fundamental);
    EXPECT_EQ(View.FundamentalColor, b.color);
    EXPECT_EQ(Form.AboveCount, b.above);
  }
  Form.btnStopClick();
}

TEST_F(MainBehaviourTest, SettingsLockedByAnotherProcessKeepTheCaptureAnalysedAndAreReported) {
  const int held = ::open((Reg->FilePath() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  View.EachLoopTurn = [&] { WaveIn.DeliverConstant(900); };  // only the save's wait turns
  Calibrate(400);
  ::close(held);
  EXPECT_EQ(Form.ReferenceMean, 400.0);
  EXPECT_EQ(Form.LastMean, 900.0) << "no buffer analysed while the save waited";
  ASSERT_EQ(View.Errors.size(), 1u);
  EXPECT_EQ(View.Errors[0].rfind("'viSpeed' の設定に失敗しました\n", 0), 0u) << View.Errors[0];
  EXPECT_NE(View.Errors[0].find(": settings file locked by another process"), std::string::npos);
  EXPECT_TRUE(Form.Recording);
  Form.btnStopClick();
}

TEST_F(MainBehaviourTest, CaptureEndsAtExitAsStopWouldWithoutTouchingTheControls) {
  TInTestFolder inDir(Dir);
  Settings->vbRecordToFile->Value = true;
  Calibrate(300);
  ASSERT_TRUE(Form.Recording && Form.CaptureFile.DataChunk);
  Form.EndCaptureAtExit();
  EXPECT_FALSE(Form.Recording);
  EXPECT_EQ(Form.CaptureFile.DataChunk, nullptr);
  EXPECT_EQ(WaveIn.OpenCount, 0);
  EXPECT_FALSE(View.Enabled[TMainControl::btnRecord]);  // the window is no longer served
  Form.EndCaptureAtExit();  // idle: nothing to do
}

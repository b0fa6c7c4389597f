// The settings dialog's behaviour through a fake front end: what showing, OK, Cancel and
// the defaults button do to the controls and the settings, with no toolkit.
#include "NumberFilter.h"
#include "test_store.h"
#include "uConfig.h"
#include "uglobal.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Controls as plain values; the bar clamps as a track bar does, edits read as NumberFilter.
class TFakeConfigView : public IConfigView {
public:
  TfConfig* Form = nullptr;
  int32_t Position = 0;
  std::string Caption;
  bool Record = false;
  std::map<TConfigEdit, std::u16string> Edits;
  bool Answer = false;
  std::vector<std::string> Asked, Errors, Log;

  void SetSpeedPosition(int32_t p) override {
    p = std::clamp(p, 10, 60);
    if (p == Position) return;
    Position = p;
    Form->trackSpeedChange();
  }
  int32_t SpeedPosition() override { return Position; }
  void SetSpeedCaption(const std::string& text) override { Caption = text; }
  void SetRecordToFile(bool checked) override { Record = checked; }
  bool RecordToFile() override { return Record; }
  std::u16string ReadEdit(TConfigEdit e) override { return Edits[e] = CheckText(Edits[e], false).Text; }
  void WriteEdit(TConfigEdit e, const std::u16string& text) override { Edits[e] = text; }
  bool AskYesNo(const std::string& text) override { return Asked.push_back(text), Answer; }
  void ReportError(std::exception_ptr error) override { Errors.push_back(WhatOf(error)); }
  void EndDialog(bool ok) override { Log.push_back(ok ? "ok" : "cancel"); }
  // What the user sees: the bar, its caption, the highest frequency, the box.
  auto Shown() { return std::tuple(Position, Caption, Edits[TConfigEdit::MaxFreq], Record); }
};

class ConfigBehaviourTest : public ::testing::Test, public TTestStore {
protected:
  ConfigBehaviourTest() : TTestStore("cfg") {}
  void SetUp() override {
    Reg->WriteDword(kKey, "viSpeed", 45);
    Reg->WriteDword(kKey, "viMaxFreq", 2000);
    Settings = std::make_unique<TGlobalSettings>(*Reg);
    GlobalSettings = Settings.get();
    View.Form = &Form;
    Form.FormShow();
  }
  void TearDown() override { GlobalSettings = nullptr; }

  std::unique_ptr<TGlobalSettings> Settings;
  TFakeConfigView View;
  TfConfig Form{View};
};

}  // namespace

TEST_F(ConfigBehaviourTest, OkStoresInOrderAndStopsAtAnEmptyEdit) {
  EXPECT_EQ(View.Shown(), std::tuple(45, "4.50倍速", u"2000", false));  // every setting shown
  struct Case {
    const char* name;
    std::u16string minFreq;
    std::vector<std::string> errors;
    int32_t floor;       // after the empty edit: not taken over when storing stopped
    bool saved;
  } cases[] = {
      {"empty edit", u"", {"'' は整数ではありません"}, 400, false},
      {"junk reads as 0", u"12x", {}, 350, true},
      {"all numbers", u"-10", {}, 350, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Form.FormShow();
    View.Log.clear();
    View.Errors.clear();
    View.SetSpeedPosition(50);
    View.Record = true;
    View.Edits[TConfigEdit::MaxFreq] = u"2500";
    View.Edits[TConfigEdit::MinFreq] = c.minFreq;
    View.Edits[TConfigEdit::Floor] = u"350";
    Form.btnOKClick();
    EXPECT_EQ(View.Log, std::vector<std::string>{"ok"});  // closes with OK either way
    EXPECT_EQ(View.Errors, c.errors);
    // The box and the bar come before the edits: taken over either way.
    const TGlobalSettings& s = *GlobalSettings;
    EXPECT_EQ(std::tuple(s.vbRecordToFile->Value, s.viSpeed->Value, s.viMaxFreq->Value),
              std::tuple(true, 50, 2500));
    EXPECT_EQ(s.viFloor->Value, c.floor);
    EXPECT_EQ(Stored("viMaxFreq"), Dword(c.saved ? 2500 : 2000));
    EXPECT_EQ(View.Edits[TConfigEdit::MinFreq], c.minFreq == u"12x" ? u"0" : c.minFreq);
    GlobalSettings->Load();
  }
}

TEST_F(ConfigBehaviourTest, OkBringsADetectionRangeOutOfRangeBackAndSaysWhich) {
  const auto line = [](const char* name, int typed, int to) {
    return "'" + std::string(name) + "' の値 " + std::to_string(typed) + " は範囲外のため " +
           std::to_string(to) + " に直しました。";
  };
  struct Case {
    const char* name;
    std::u16string maxFreq, minFreq;
    int32_t max, min;  // in memory after OK
    std::string told;
    bool saved;
  } cases[] = {
      {"stopped by an empty edit", u"30000", u"", 22050, 20, line("viMaxFreq", 30000, 22050), false},
      {"in range", u"2500", u"30", 2500, 30, "", true},
      {"above the highest", u"30000", u"30", 22050, 30, line("viMaxFreq", 30000, 22050), true},
      {"at or below 0", u"2500", u"-5", 2500, 1, line("viMinFreq", -5, 1), true},
      {"ends crossed", u"100", u"500", 3000, 20, line("viMinFreq", 500, 20) + "\n" + line("viMaxFreq", 100, 3000), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Form.FormShow();
    Reg->TakeNotice();
    View.Edits[TConfigEdit::MaxFreq] = c.maxFreq;
    View.Edits[TConfigEdit::MinFreq] = c.minFreq;
    Form.btnOKClick();
    EXPECT_EQ(GlobalSettings->viMaxFreq->Value, c.max);
    EXPECT_EQ(GlobalSettings->viMinFreq->Value, c.min);
    EXPECT_EQ(Reg->TakeNotice(), c.told.empty() ? "" : "設定値を修正しました。\n" + c.told);
    EXPECT_EQ(Stored("viMaxFreq"), Dword(c.saved ? c.max : 2000));
  }
}

TEST_F(ConfigBehaviourTest, CancelAndTheDefaultsQuestion) {
  View.SetSpeedPosition(60);
  Form.Button1Click();
  EXPECT_EQ(View.Log, std::vector<std::string>{"cancel"});
  EXPECT_EQ(GlobalSettings->viSpeed->Value, 45);

  View.Answer = false;  // No: nothing happens
  Form.Button2Click();
  EXPECT_EQ(View.Asked, std::vector<std::string>{TfConfig::DefaultsQuestion});
  EXPECT_EQ(Stored("viSpeed"), Dword(45));
  EXPECT_EQ(View.Position, 60);

  View.Answer = true;  // Yes: the key emptied, the defaults shown, the dialog stays open
  Reg->WriteDword(kKey + "fMain", "left", 5);
  View.Record = true;
  Form.Button2Click();
  EXPECT_FALSE(Stored("viSpeed"));
  EXPECT_TRUE(Reg->KeyExists(kKey));
  EXPECT_TRUE(Reg->EnumSubkeys(kKey).empty());
  EXPECT_EQ(GlobalSettings->viSpeed->Value, TSettingDefaults::viSpeed);
  EXPECT_EQ(View.Shown(), std::tuple(30, "3.00倍速", u"3000", false));
  EXPECT_EQ(View.Log, std::vector<std::string>{"cancel"});
  Form.btnOKClick();  // the next OK writes every default
  EXPECT_EQ(Stored("viFloor"), Dword(400));
  EXPECT_EQ(Stored("vbRecordToFile"), Sz("0"));
  EXPECT_TRUE(View.Errors.empty());
}

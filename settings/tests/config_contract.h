#pragma once
// What the settings dialog does for its user, written once and run on every front end (the
// fake view, Qt, Win32) through a driver that works that front end's own controls. Each
// body expects GlobalSettings on `reg` and the dialog created, not shown.
#include "registry.h"
#include "uConfig.h"
#include "uglobal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

class TConfigDriver {
public:
  virtual ~TConfigDriver() = default;
  // Shows the dialog modally, lets `user` work it and returns once it is closed; checks it
  // closed with OK (`ok`) or cancel where the front end tells.
  virtual void Show(bool ok, const std::function<void()>& user) = 0;
  virtual int32_t Speed() = 0;  // the bar's position
  virtual std::string Caption() = 0;  // Label2
  virtual std::u16string Text(TConfigEdit edit) = 0;  // as shown, not read
  virtual bool Record() = 0;
  virtual bool Open() = 0;
  virtual void BarToEnd() = 0;  // the End key on the bar
  virtual void Type(TConfigEdit edit, const std::string& keys) = 0;  // over the whole text
  virtual void ClickRecord() = 0;
  // OK or キャンセル, clicked or (`key`) by Enter or Esc.
  virtual void Close(bool ok, bool key = false) = 0;
  // Clicks 標準の設定 and answers the question Yes or No; returns the question.
  virtual std::string Defaults(bool yes) = 0;
};

inline const std::string kSettingsKey = "\\Software\\Trevane\\Korvel\\";

// A stored setting as "dword N", "sz TEXT" or "missing".
inline std::string StoredText(TRegistry& reg, const char* name) {
  const auto v = reg.ReadValue(kSettingsKey, name);
  if (!v) return "missing";
  return v->Type == TRegType::Dword ? "dword " + std::to_string(v->Dword) : "sz " + v->Text;
}

// Opening shows the settings; a letter typed among digits is refused; OK takes every
// control over and saves every setting.
inline void ShowsTheSettingsAndOkSaves(TConfigDriver& d, TRegistry& reg) {
  reg.WriteDword(kSettingsKey, "viSpeed", 45);
  reg.WriteDword(kSettingsKey, "viMaxFreq", 2800);
  reg.WriteDword(kSettingsKey, "viMinFreq", 5);
  reg.WriteString(kSettingsKey, "vbRecordToFile", "1");
  GlobalSettings->Load();
  d.Show(true, [&] {
    EXPECT_EQ(std::tuple(d.Speed(), d.Caption(), d.Record()), std::tuple(45, "4.50倍速", true));
    EXPECT_EQ(d.Text(TConfigEdit::MaxFreq), u"2800");
    EXPECT_EQ(d.Text(TConfigEdit::MinFreq), u"5");
    d.Type(TConfigEdit::MaxFreq, "2x5");
    d.Type(TConfigEdit::Floor, "35O0");  // a letter O among the digits
    d.ClickRecord();
    d.Close(true);
  });
  const TGlobalSettings& s = *GlobalSettings;
  EXPECT_EQ(std::tuple(s.viMaxFreq->Value, s.viFloor->Value, s.vbRecordToFile->Value),
            std::tuple(25, 350, false));
  const std::pair<const char*, const char*> saved[] = {
      {"viSpeed", "dword 45"},  {"viMaxFreq", "dword 25"},  {"viMinFreq", "dword 5"},
      {"viFloor", "dword 350"}, {"vbRecordToFile", "sz 0"}, {"viWaveInDevice", "dword 0"}};
  for (auto [name, text] : saved) EXPECT_EQ(StoredText(reg, name), text);  // every setting
}

// Cancel forgets what was moved and typed; the next showing starts from the settings.
inline void CancelForgetsAndTheNextShowingStartsOver(TConfigDriver& d, TRegistry& reg) {
  TGlobalSettings& s = *GlobalSettings;
  s.viSpeed->Value = 30;
  s.viMaxFreq->Value = 3000;
  const std::string stored = StoredText(reg, "viSpeed");
  d.Show(false, [&] {
    d.BarToEnd();
    EXPECT_EQ(d.Speed(), 60);
    d.Type(TConfigEdit::MaxFreq, "999");
    d.Close(false);
  });
  EXPECT_EQ(std::tuple(s.viSpeed->Value, s.viMaxFreq->Value), std::tuple(30, 3000));
  EXPECT_EQ(StoredText(reg, "viSpeed"), stored);  // nothing saved
  d.Show(false, [&] {
    EXPECT_EQ(std::tuple(d.Speed(), d.Caption()), std::tuple(30, "3.00倍速"));
    EXPECT_EQ(d.Text(TConfigEdit::MaxFreq), u"3000");
    d.Close(false, true);
  });
}

// 標準の設定 asks first: No changes nothing; Yes empties the key (the placements below it
// too) and shows the defaults at once, the dialog still open; Cancel does not bring the old
// settings back.
inline void DefaultsAskFirstAndResetAtOnce(TConfigDriver& d, TRegistry& reg) {
  reg.WriteDword(kSettingsKey, "viSpeed", 45);
  reg.WriteDword(kSettingsKey + "fMain\\", "left", 5);
  GlobalSettings->Load();
  d.Show(false, [&] {
    EXPECT_EQ(d.Defaults(false), TfConfig::DefaultsQuestion);
    EXPECT_EQ(d.Speed(), 45);
    EXPECT_EQ(StoredText(reg, "viSpeed"), "dword 45");
    d.ClickRecord();
    EXPECT_EQ(d.Defaults(true), TfConfig::DefaultsQuestion);
    EXPECT_TRUE(d.Open());
    EXPECT_EQ(std::tuple(d.Speed(), d.Caption(), d.Record()), std::tuple(30, "3.00倍速", false));
    EXPECT_EQ(d.Text(TConfigEdit::MaxFreq), u"3000");
    EXPECT_EQ(d.Text(TConfigEdit::MinFreq), u"20");
    EXPECT_EQ(StoredText(reg, "viSpeed"), "missing");
    EXPECT_TRUE(reg.KeyExists(kSettingsKey));
    EXPECT_TRUE(reg.EnumSubkeys(kSettingsKey).empty());
    d.Close(false);
  });
  EXPECT_EQ(GlobalSettings->viSpeed->Value, 30);
  EXPECT_EQ(StoredText(reg, "viSpeed"), "missing");
}

// One test per body for a front end's fixture, whose `Driver` and the store `reg` (an
// expression of the fixture) the bodies use.
#define KORVEL_CONFIG_CONTRACT(Fixture, reg)                                                \
  TEST_F(Fixture, ShowsTheSettingsAndOkSaves) { ShowsTheSettingsAndOkSaves(Driver, reg); }  \
  TEST_F(Fixture, CancelForgets) { CancelForgetsAndTheNextShowingStartsOver(Driver, reg); } \
  TEST_F(Fixture, DefaultsAskFirst) { DefaultsAskFirstAndResetAtOnce(Driver, reg); }

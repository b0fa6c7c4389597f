#include "uConfig.h"

#include "NumberFilter.h"
#include "settingranges.h"
#include "uglobal.h"

TfConfig* fConfig = nullptr;

std::string TfConfig::SpeedCaption(int32_t position) {
  // position / 10 with two decimals, by integer arithmetic: the C library's "%.2f" would
  // follow the user's locale (a decimal comma). Positions are 10..60, never negative.
  return std::to_string(position / 10) + "." + char('0' + position % 10) + "0倍速";
}

void TfConfig::LoadControls() {
  View.SetSpeedPosition(GlobalSettings->viSpeed->Value);  // clamped by the bar
  View.SetRecordToFile(GlobalSettings->vbRecordToFile->Value);
  View.WriteEdit(TConfigEdit::MaxFreq, IntegerText(GlobalSettings->viMaxFreq->Value));
  View.WriteEdit(TConfigEdit::MinFreq, IntegerText(GlobalSettings->viMinFreq->Value));
  View.WriteEdit(TConfigEdit::Floor, IntegerText(GlobalSettings->viFloor->Value));
  View.WriteEdit(TConfigEdit::Floor2, IntegerText(GlobalSettings->viFloor2->Value));
}

void TfConfig::StoreControls() {
  GlobalSettings->vbRecordToFile->Value = View.RecordToFile();
  GlobalSettings->viSpeed->Value = View.SpeedPosition();
  // A value typed outside its range (settingranges.h) is brought into it as a load would
  // bring a hand-edited one, and the user is told which: what is saved and analysed with is
  // what the next start would use. Also when an empty edit stops the storing part-way.
  try {
    GlobalSettings->viMaxFreq->Value = TextAsInteger(View.ReadEdit(TConfigEdit::MaxFreq));
    GlobalSettings->viMinFreq->Value = TextAsInteger(View.ReadEdit(TConfigEdit::MinFreq));
    GlobalSettings->viFloor->Value = TextAsInteger(View.ReadEdit(TConfigEdit::Floor));
    GlobalSettings->viFloor2->Value = TextAsInteger(View.ReadEdit(TConfigEdit::Floor2));
  } catch (...) {
    CorrectOutOfRangeAndTell(*GlobalSettings);
    throw;
  }
  CorrectOutOfRangeAndTell(*GlobalSettings);
  GlobalSettings->Save();
}

void TfConfig::Run(const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    View.ReportError(std::current_exception());
  }
}

void TfConfig::FormShow() {
  Run([this] { LoadControls(); });
}

void TfConfig::trackSpeedChange() { View.SetSpeedCaption(SpeedCaption(View.SpeedPosition())); }

void TfConfig::btnOKClick() {
  // The dialog closes with OK even when storing fails; the error is shown first.
  Run([this] { StoreControls(); });
  View.EndDialog(true);
}

void TfConfig::Button1Click() { View.EndDialog(false); }

void TfConfig::Button2Click() {
  if (!View.AskYesNo(DefaultsQuestion)) return;
  Run([this] {
    GlobalSettings->RestoreDefaults();
    LoadControls();
  });
}

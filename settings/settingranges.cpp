#include "settingranges.h"

#include "registry.h"
#include "uglobal.h"

#include <algorithm>

namespace {
void Correct(TVariableInteger& v, int32_t to, std::string& told) {
  if (v.Value == to) return;
  told += "'" + v.Name + "' の値 " + std::to_string(v.Value) + " は範囲外のため " + std::to_string(to) +
          " に直しました。\n";
  v.Value = to;
}
void Clamp(TVariableInteger& v, const TSettingRange& r, std::string& told) {
  Correct(v, std::clamp(v.Value, r.Min, r.Max), told);
}
}  // namespace

std::string CorrectOutOfRange(TGlobalSettings& s) {
  std::string told;
  Clamp(*s.viSpeed, kSpeedRange, told);
  Clamp(*s.viMinFreq, kFrequencyRange, told);
  Clamp(*s.viMaxFreq, kFrequencyRange, told);
  if (s.viMinFreq->Value >= s.viMaxFreq->Value) {  // no frequency could be detected
    Correct(*s.viMinFreq, s.viMinFreq->DefaultValue, told);
    Correct(*s.viMaxFreq, s.viMaxFreq->DefaultValue, told);
  }
  if (!told.empty()) told.pop_back();
  return told;
}

void CorrectOutOfRangeAndTell(TGlobalSettings& s) {
  const std::string corrected = CorrectOutOfRange(s);
  if (!corrected.empty()) s.Registry().AddNotice("設定値を修正しました。\n" + corrected);
}

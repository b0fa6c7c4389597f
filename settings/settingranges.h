#pragma once
// The ranges in which the settings give a sound result, checked where settings enter the
// program (the store's load, the tools' options). The dialog offers no more than these.
#include <cstdint>
#include <string>

class TGlobalSettings;

struct TSettingRange {
  int32_t Min;
  int32_t Max;
  bool Contains(int64_t v) const { return v >= Min && v <= Max; }
};

// The speed limit in tenths: the dialog's track bar. Below 10 the rule's floor of 1.0
// would lie above its ceiling.
inline constexpr TSettingRange kSpeedRange{10, 60};
// Detection range in Hz: a measured line lies between 0 and half the sampling rate; the
// history strip's logarithmic scale needs a lower end above 0. The thresholds need no
// range: the ramp is computed in 64 bits, and one at or below 0 (or above every line)
// means what it says.
inline constexpr TSettingRange kFrequencyRange{1, 22050};

// Brings each stored value outside its range back into it (the nearest end; a detection
// range whose ends cross goes back to the defaults) and returns one line per value
// corrected, for the user, or empty.
std::string CorrectOutOfRange(TGlobalSettings& settings);
// The same, with the values corrected told to the user through the settings store's notices
// (which every program that loads the settings shows). Used at load and by the dialog's OK.
void CorrectOutOfRangeAndTell(TGlobalSettings& settings);

#pragma once
// The program's settings: one object, created at start-up and loaded from the registry,
// through which every reader reaches a setting at the moment of use
// (GlobalSettings->viSpeed->Value). The member pointers are replaced by RestoreDefaults,
// so nobody keeps one.
#include "uvariable.h"

#include <cstdint>
#include <memory>

class TRegistry;

// Every setting's value when the store holds none, and after RestoreDefaults: the one
// definition the store, the dialog's first texts and the tools read.
struct TSettingDefaults {
  static constexpr int32_t viSpeed = 30;
  static constexpr int32_t viMaxFreq = 3000;
  static constexpr int32_t viMinFreq = 20;
  static constexpr int32_t viFloor = 400;
  static constexpr int32_t viFloor2 = 200;
  static constexpr bool vbRecordToFile = false;
  static constexpr int32_t viWaveInDevice = 0;
};

// The settings key below HKEY_CURRENT_USER.
extern const char* const SettingsKeyPath;  // "\Software\Trevane\Korvel\"

class TGlobalSettings {
public:
  // CreateVariables, then Load.
  explicit TGlobalSettings(TRegistry& registry);
  TGlobalSettings(const TGlobalSettings&) = delete;
  TGlobalSettings& operator=(const TGlobalSettings&) = delete;
  ~TGlobalSettings();  // does not save

  void CreateVariables();
  // Values outside the ranges of settingranges.h are brought into them, with a notice.
  void Load();
  // Writes every setting, changed or not.
  void Save();
  // Deletes the settings key with everything below it, then all settings back at their
  // defaults. Writes nothing: the key stays empty until the next Save.
  void RestoreDefaults();

  TRegistry& Registry() { return Reg; }
  TVariableList* List() { return Variables.get(); }

  TVariableInteger* viSpeed = nullptr;         // tenths of the highest speed factor
  TVariableInteger* viMaxFreq = nullptr;       // Hz
  TVariableInteger* viMinFreq = nullptr;       // Hz
  TVariableInteger* viFloor = nullptr;         // Hz, threshold at capture start
  TVariableInteger* viFloor2 = nullptr;        // Hz, threshold five minutes in
  TVariableBoolean* vbRecordToFile = nullptr;  // also write the capture to a file
  TVariableInteger* viWaveInDevice = nullptr;  // position in the input-device list

private:
  TRegistry& Reg;
  std::unique_ptr<TVariableList> Variables;
};

// The one instance; created by the program at start-up, after the speed mailbox.
extern TGlobalSettings* GlobalSettings;

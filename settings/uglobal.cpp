#include "uglobal.h"

#include "registry.h"
#include "settingranges.h"

const char* const SettingsKeyPath = "\\Software\\Trevane\\Korvel\\";

TGlobalSettings* GlobalSettings = nullptr;

namespace {
// Enumerated from the last subkey to the first, each deleted the same way, then the key.
void DeleteTree(TRegistry& reg, std::string key) {
  while (!key.empty() && key.back() == '\\') key.pop_back();
  const auto subkeys = reg.EnumSubkeys(key);
  for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) DeleteTree(reg, key + "\\" + *it);
  reg.DeleteKey(key);
}
}  // namespace

TGlobalSettings::TGlobalSettings(TRegistry& registry) : Reg(registry) {
  CreateVariables();
  Load();
}

TGlobalSettings::~TGlobalSettings() = default;

void TGlobalSettings::CreateVariables() {
  auto list = std::make_unique<TVariableList>();
  auto* speed = new TVariableInteger(list.get(), false, TSettingDefaults::viSpeed, "viSpeed");
  auto* maxFreq = new TVariableInteger(list.get(), false, TSettingDefaults::viMaxFreq, "viMaxFreq");
  auto* minFreq = new TVariableInteger(list.get(), false, TSettingDefaults::viMinFreq, "viMinFreq");
  auto* floor = new TVariableInteger(list.get(), false, TSettingDefaults::viFloor, "viFloor");
  auto* floor2 = new TVariableInteger(list.get(), false, TSettingDefaults::viFloor2, "viFloor2");
  auto* record = new TVariableBoolean(list.get(), false, TSettingDefaults::vbRecordToFile, "vbRecordToFile");
  auto* device = new TVariableInteger(list.get(), false, TSettingDefaults::viWaveInDevice, "viWaveInDevice");
  Variables = std::move(list);
  viSpeed = speed;
  viMaxFreq = maxFreq;
  viMinFreq = minFreq;
  viFloor = floor;
  viFloor2 = floor2;
  vbRecordToFile = record;
  viWaveInDevice = device;
}

void TGlobalSettings::Load() {
  TRegistryIniFile ini(Reg, SettingsKeyPath);
  Variables->Load(ini);
  // A hand-edited value the dialog could not have saved: corrected, and the user told
  // through the store's notices. Written back with the next save.
  CorrectOutOfRangeAndTell(*this);
}

void TGlobalSettings::Save() {
  TRegistryIniFile ini(Reg, SettingsKeyPath);
  Variables->Save(ini);
}

void TGlobalSettings::RestoreDefaults() {
  // A key that is already gone or still has subkeys is no error here. A store that cannot
  // be written is: the settings are still reset and reloaded, then the user is told, since
  // the reload brings back whatever the deletion could not remove.
  std::exception_ptr storeError;
  try {
    DeleteTree(Reg, SettingsKeyPath);
  } catch (const ERegistryWriteError&) {
    storeError = std::current_exception();
  }
  viSpeed = viMaxFreq = viMinFreq = viFloor = viFloor2 = viWaveInDevice = nullptr;
  vbRecordToFile = nullptr;
  Variables.reset();
  CreateVariables();
  Load();
  if (storeError) std::rethrow_exception(storeError);
}

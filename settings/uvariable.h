#pragma once
// Setting variables: each knows its registry value name and default, and loads and saves
// itself through a TRegistryIniFile opened on the settings key. A TVariableList owns them.
#include "RegistryIniFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TVariableList;

class TVariable {
public:
  virtual ~TVariable() = default;
  virtual void Load(TRegistryIniFile& Ini) = 0;
  virtual void Save(TRegistryIniFile& Ini) = 0;

  bool ReadOnly;     // loaded but never saved
  std::string Name;  // the registry value name

protected:
  TVariable(bool readOnly, std::string name) : ReadOnly(readOnly), Name(std::move(name)) {}
};

// Variables are created with `new` and hand themselves to the list given (when not null),
// which owns them from then on:  new TVariableInteger(list, false, 30, "viSpeed");
class TVariableInteger : public TVariable {
public:
  TVariableInteger(TVariableList* List, bool ReadOnly, int32_t Default, std::string Name);
  // Keeps the current Value when the registry has none.
  void Load(TRegistryIniFile& Ini) override;
  void Save(TRegistryIniFile& Ini) override;

  int32_t DefaultValue;
  int32_t Value;
};

class TVariableBoolean : public TVariable {
public:
  TVariableBoolean(TVariableList* List, bool ReadOnly, bool Default, std::string Name);
  // Takes DefaultValue when the registry has none.
  void Load(TRegistryIniFile& Ini) override;
  void Save(TRegistryIniFile& Ini) override;

  bool DefaultValue;
  bool Value;
};

class TVariableList {
public:
  TVariableList() = default;
  TVariableList(const TVariableList&) = delete;
  TVariableList& operator=(const TVariableList&) = delete;
  // Destroys the items first to last.
  ~TVariableList();

  // Takes ownership; returns the variable.
  TVariable* Add(TVariable* Variable);
  int Count() const { return int(List.size()); }
  TVariable* Items(int Index) const { return List.at(size_t(Index)).get(); }

  // First to last; a failure leaves the items before it done and the rest untouched.
  void Load(TRegistryIniFile& Ini);
  void Save(TRegistryIniFile& Ini);  // skips read-only items

private:
  std::vector<std::unique_ptr<TVariable>> List;
};

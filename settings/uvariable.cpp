#include "uvariable.h"

TVariableInteger::TVariableInteger(TVariableList* List, bool ReadOnly, int32_t Default,
                                   std::string Name)
    : TVariable(ReadOnly, std::move(Name)), DefaultValue(Default), Value(Default) {
  if (List) List->Add(this);
}

void TVariableInteger::Load(TRegistryIniFile& Ini) { Value = Ini.ReadInteger(Name, Value); }

void TVariableInteger::Save(TRegistryIniFile& Ini) { Ini.WriteInteger(Name, Value); }

TVariableBoolean::TVariableBoolean(TVariableList* List, bool ReadOnly, bool Default,
                                   std::string Name)
    : TVariable(ReadOnly, std::move(Name)), DefaultValue(Default), Value(Default) {
  if (List) List->Add(this);
}

void TVariableBoolean::Load(TRegistryIniFile& Ini) { Value = Ini.ReadBool(Name, DefaultValue); }

void TVariableBoolean::Save(TRegistryIniFile& Ini) { Ini.WriteBool(Name, Value); }

TVariableList::~TVariableList() {
  for (auto& v : List) v.reset();
}

TVariable* TVariableList::Add(TVariable* Variable) {
  // Room first: once the pointer is in a unique_ptr nothing may throw, or the object
  // would be freed twice (by us and by the failed new-expression of its constructor).
  List.reserve(List.size() + 1);
  List.emplace_back(Variable);
  return Variable;
}

void TVariableList::Load(TRegistryIniFile& Ini) {
  for (auto& v : List) v->Load(Ini);
}

void TVariableList::Save(TRegistryIniFile& Ini) {
  for (auto& v : List)
    if (!v->ReadOnly) v->Save(Ini);
}

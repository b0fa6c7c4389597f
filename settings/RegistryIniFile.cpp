#include "RegistryIniFile.h"

#include <limits>

namespace {
std::string Fill(const char* format, const std::string& name) {
  std::string s = format;
  s.replace(s.find("%s"), 2, name);
  return s;
}
const char kWriteFailed[] = "'%s' の設定に失敗しました";
const char kReadFailed[] = "'%s' の取得に失敗しました";
const char kBadType[] = "'%s' のデータ型が不正です";
}  // namespace

TRegistryIniFile::TRegistryIniFile(TRegistry& registry, std::string keyPath)
    : Reg(registry), Key(std::move(keyPath)) {
  Reg.CreateKey(Key);  // failure shows up at the first write
}

std::optional<TRegValue> TRegistryIniFile::Read(const std::string& name) {
  try {
    return Reg.ReadValue(Key, name);
  } catch (const std::exception&) {
    throw ERegistryIniFileError(Fill(kReadFailed, name));
  }
}

int32_t TRegistryIniFile::ReadInteger(const std::string& name, int32_t defaultValue) {
  const auto v = Read(name);
  if (!v) return defaultValue;
  switch (v->Type) {
    case TRegType::Dword: return int32_t(v->Dword);
    case TRegType::Sz: {
      int32_t parsed;
      return ParseInt32(v->Text, parsed) ? parsed : defaultValue;
    }
    case TRegType::Other: break;
  }
  throw ERegistryIniFileError(Fill(kBadType, name));
}

void TRegistryIniFile::WriteInteger(const std::string& name, int32_t value) {
  try {
    const auto old = Reg.ReadValue(Key, name);
    if (old && old->Type == TRegType::Sz)
      Reg.WriteString(Key, name, std::to_string(value));
    else
      Reg.WriteDword(Key, name, uint32_t(value));
  } catch (const std::exception&) {
    throw ERegistryIniFileError(Fill(kWriteFailed, name));
  }
}

bool TRegistryIniFile::ReadBool(const std::string& name, bool defaultValue) {
  return ReadInteger(name, defaultValue ? 1 : 0) != 0;
}

void TRegistryIniFile::WriteBool(const std::string& name, bool value) {
  try {
    Reg.WriteString(Key, name, value ? "1" : "0");
  } catch (const std::exception&) {
    throw ERegistryIniFileError(Fill(kWriteFailed, name));
  }
}

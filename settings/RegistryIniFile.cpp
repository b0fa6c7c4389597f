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

// The value's message, then on a second line the file and the system's reason.
[[noreturn]] void TRegistryIniFile::WriteFailed(const std::string& name) {
  std::string text = Fill(kWriteFailed, name);
  try {
    throw;
  } catch (const ERegistryWriteError& e) {
    text += "\n" + e.Path + ": " + e.Reason;
  } catch (const std::exception& e) {
    text += "\n" + Reg.FilePath() + ": " + e.what();
  }
  throw ERegistryIniFileError(text);
}

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
  // The program cannot go on with a value it cannot use, nor can the user mend it from
  // inside: the file is kept aside as a corrupt one, so the next start runs on defaults.
  std::string text = Fill(kBadType, name) + "\n" + Reg.FilePath();
  const std::string aside = Reg.KeepAside();
  if (!aside.empty())
    text += "\n別名で保存しました。次回は標準の設定で起動します: " + aside;
  throw ERegistryIniFileError(text);
}

void TRegistryIniFile::WriteInteger(const std::string& name, int32_t value) {
  try {
    const auto old = Reg.ReadValue(Key, name);
    if (old && old->Type == TRegType::Sz)
      Reg.WriteString(Key, name, std::to_string(value));
    else
      Reg.WriteDword(Key, name, uint32_t(value));
  } catch (const std::exception&) {
    WriteFailed(name);
  }
}

bool TRegistryIniFile::ReadBool(const std::string& name, bool defaultValue) {
  return ReadInteger(name, defaultValue ? 1 : 0) != 0;
}

void TRegistryIniFile::WriteBool(const std::string& name, bool value) {
  try {
    Reg.WriteString(Key, name, value ? "1" : "0");
  } catch (const std::exception&) {
    WriteFailed(name);
  }
}

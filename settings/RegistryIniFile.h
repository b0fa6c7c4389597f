#pragma once
// Integer and boolean access to the values of one key of the registry stand-in, with the
// conversions the stored settings rely on:
//
//   ReadInteger  missing: the default; REG_SZ: its decimal text, the default when it does
//                not parse; REG_DWORD: the stored 32 bits as a signed number
//   WriteInteger REG_SZ decimal text if the value already exists as REG_SZ (a value keeps
//                the type it was found with), REG_DWORD otherwise
//   ReadBool     ReadInteger(name, default ? 1 : 0) != 0
//   WriteBool    REG_SZ "1" or "0"
//
// A value of a type other than text or 32-bit number ends the read with its message and the
// file's path, and the file is kept aside as a corrupt one. A failed write names the value,
// then the file and the system's reason on a second line.
//
// Opening creates the key when missing; when it can be neither opened nor created, reads
// find nothing and writes fail with the value's error.
#include "intparse.h"
#include "registry.h"

#include <cstdint>
#include <stdexcept>
#include <string>

// A value that could not be read, written or understood; what() is the message for the user.
class ERegistryIniFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TRegistryIniFile {
public:
  // keyPath is below HKEY_CURRENT_USER, e.g. "\Software\Trevane\Korvel\".
  TRegistryIniFile(TRegistry& registry, std::string keyPath);

  int32_t ReadInteger(const std::string& name, int32_t defaultValue);
  void WriteInteger(const std::string& name, int32_t value);
  bool ReadBool(const std::string& name, bool defaultValue);
  void WriteBool(const std::string& name, bool value);

  TRegistry& Registry() { return Reg; }
  const std::string& KeyPath() const { return Key; }

private:
  std::optional<TRegValue> Read(const std::string& name);
  [[noreturn]] void WriteFailed(const std::string& name);  // inside a catch block
  TRegistry& Reg;
  std::string Key;
};

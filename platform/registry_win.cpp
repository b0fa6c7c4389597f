// The registry itself: HKEY_CURRENT_USER through the wide-character Reg* calls, values as
// REG_DWORD and REG_SZ, text in UTF-8 on our side. The system keeps the hive consistent and
// shared between processes, so none of the file store's locking, renaming or notices has a
// counterpart here: TakeNotice has nothing to hand out and KeepAside nothing to move.
//
// The string a TRegistry is made with is a key below HKEY_CURRENT_USER under which all of
// its paths lie: empty for the program (CurrentUser), a private key of its own for a test.
#include "registry.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "winstr.h"

namespace {

const char kHive[] = "HKEY_CURRENT_USER";
const char kWriteFailed[] = "レジストリに書き込めませんでした。";

std::string Trimmed(const std::string& Key) {
  size_t B = 0, E = Key.size();
  while (B < E && Key[B] == '\\') ++B;
  while (E > B && Key[E - 1] == '\\') --E;
  std::string T = Key.substr(B, E - B);
  if (T.find("\\\\") != std::string::npos) throw std::invalid_argument("empty key component in '" + Key + "'");
  return T;
}

// An open key, closed on scope exit.
class TOpenKey {
public:
  TOpenKey() = default;
  ~TOpenKey() {
    if (H) RegCloseKey(H);
  }
  TOpenKey(const TOpenKey&) = delete;
  TOpenKey& operator=(const TOpenKey&) = delete;
  HKEY H = nullptr;
};

[[noreturn]] void WriteFailed(const std::string& Where, LONG Code) {
  throw ERegistryWriteError(std::string(kWriteFailed) + "\n" + Where + ": " + SystemErrorText(uint32_t(Code)), Where,
                            SystemErrorText(uint32_t(Code)));
}

}  // namespace

TRegistry::TRegistry(std::string filePath) : Target(Trimmed(filePath)) {
  Path = Target.empty() ? std::string(kHive) : std::string(kHive) + "\\" + Target;
}

TRegistry& TRegistry::CurrentUser() {
  static TRegistry Hive("");
  return Hive;
}

// Where the Linux build keeps its file; on Windows the hive itself.
std::string TRegistry::DefaultFilePath() { return kHive; }

std::string TRegistry::HomeFolder() {
  const char* Profile = std::getenv("USERPROFILE");
  return Profile && *Profile ? Profile : ".";
}

namespace {
std::wstring Below(const std::string& Root, const std::string& Key) {
  const std::string K = Trimmed(Key);
  return Utf8ToWide(Root.empty() ? K : K.empty() ? Root : Root + "\\" + K);
}
}  // namespace

bool TRegistry::CreateKey(const std::string& key) {
  TOpenKey K;
  return RegCreateKeyExW(HKEY_CURRENT_USER, Below(Target, key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &K.H,
                         nullptr) == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(const std::string& key) {
  TOpenKey K;
  return RegOpenKeyExW(HKEY_CURRENT_USER, Below(Target, key).c_str(), 0, KEY_READ, &K.H) == ERROR_SUCCESS;
}

std::optional<TRegValue> TRegistry::ReadValue(const std::string& key, const std::string& name) {
  TOpenKey K;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Below(Target, key).c_str(), 0, KEY_READ, &K.H) != ERROR_SUCCESS)
    return std::nullopt;
  const std::wstring Name = Utf8ToWide(name);
  DWORD Type = 0, Size = 0;
  LONG R = RegQueryValueExW(K.H, Name.c_str(), nullptr, &Type, nullptr, &Size);
  if (R == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (R != ERROR_SUCCESS) throw std::runtime_error(Path + ": " + SystemErrorText(uint32_t(R)));
  std::vector<BYTE> Data(Size + sizeof(wchar_t));  // room for a terminator the value may lack
  R = RegQueryValueExW(K.H, Name.c_str(), nullptr, &Type, Data.data(), &Size);
  if (R != ERROR_SUCCESS) throw std::runtime_error(Path + ": " + SystemErrorText(uint32_t(R)));
  TRegValue V;
  if (Type == REG_DWORD && Size == sizeof(DWORD)) {
    V.Type = TRegType::Dword;
    std::memcpy(&V.Dword, Data.data(), sizeof(DWORD));
  } else if (Type == REG_SZ) {
    std::wstring Text(reinterpret_cast<const wchar_t*>(Data.data()), Size / sizeof(wchar_t));
    if (const auto Nul = Text.find(L'\0'); Nul != std::wstring::npos) Text.resize(Nul);
    V.Type = TRegType::Sz;
    V.Text = WideToUtf8(Text);
  } else {
    V.Type = TRegType::Other;  // binary, expandable or multi-string text: not ours to read
  }
  return V;
}

namespace {
void SetValue(const std::string& Where, const std::wstring& Key, const std::string& Name, DWORD Type,
              const void* Data, DWORD Size) {
  TOpenKey K;
  LONG R = RegCreateKeyExW(HKEY_CURRENT_USER, Key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &K.H, nullptr);
  if (R == ERROR_SUCCESS)
    R = RegSetValueExW(K.H, Utf8ToWide(Name).c_str(), 0, Type, static_cast<const BYTE*>(Data), Size);
  if (R != ERROR_SUCCESS) WriteFailed(Where, R);
}
}  // namespace

void TRegistry::WriteDword(const std::string& key, const std::string& name, uint32_t value) {
  const DWORD V = value;
  SetValue(Path, Below(Target, key), name, REG_DWORD, &V, sizeof V);
}

void TRegistry::WriteString(const std::string& key, const std::string& name, const std::string& value) {
  const std::wstring Text = Utf8ToWide(value);
  SetValue(Path, Below(Target, key), name, REG_SZ, Text.c_str(), DWORD((Text.size() + 1) * sizeof(wchar_t)));
}

std::vector<std::string> TRegistry::EnumSubkeys(const std::string& key) {
  std::vector<std::string> Names;
  TOpenKey K;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Below(Target, key).c_str(), 0, KEY_READ, &K.H) != ERROR_SUCCESS) return Names;
  wchar_t Name[256];  // the longest key name the registry allows is 255 characters
  for (DWORD I = 0;; ++I) {
    DWORD Len = 256;
    if (RegEnumKeyExW(K.H, I, Name, &Len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    Names.push_back(WideToUtf8(std::wstring(Name, Len)));
  }
  auto Lower = [](std::string S) {
    std::transform(S.begin(), S.end(), S.begin(), [](unsigned char C) { return char(std::tolower(C)); });
    return S;
  };
  std::sort(Names.begin(), Names.end(), [&](const auto& A, const auto& B) { return Lower(A) < Lower(B); });
  return Names;
}

bool TRegistry::DeleteKey(const std::string& key) {
  if (!KeyExists(key) || !EnumSubkeys(key).empty()) return false;
  const LONG R = RegDeleteKeyW(HKEY_CURRENT_USER, Below(Target, key).c_str());
  if (R == ERROR_FILE_NOT_FOUND) return false;
  if (R != ERROR_SUCCESS) WriteFailed(Path, R);
  return true;
}

std::string TRegistry::KeepAside() { return {}; }

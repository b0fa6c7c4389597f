// Loading the engine on Windows: LoadLibrary of rendo.dll by its bare name (or the path of
// the copy beside the program) and
// GetProcAddress of its one export. The program's folder comes first in the system's own
// search order, so nothing else is needed to find the copy beside the program.
#include "rendoif.h"

#include <windows.h>

#include "winstr.h"

namespace {
constexpr const char* kLibraryName = "rendo.dll";

bool Exists(const std::string& Path) {
  return GetFileAttributesW(Utf8ToWide(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The path is UTF-8: through the wide call, so a folder named outside the ANSI code page (a
// user's profile under a Japanese name, where a per-user install lives) still loads.
void LoadFrom(const std::string& Path) {
  EngineLibrary = LoadLibraryW(Utf8ToWide(Path).c_str());
  if (EngineLibrary == nullptr) return;
  // FARPROC is the generic function pointer of the export table.
  EngineCreateInstance = reinterpret_cast<TRendoCreateInstance>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(EngineLibrary), "CreateInstance")));
  if (EngineCreateInstance == nullptr) {
    FreeLibrary(static_cast<HMODULE>(EngineLibrary));
    EngineLibrary = nullptr;
    return;
  }
  BindEngine();
}
}  // namespace

std::string ProgramFolder() {
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, Path.data(), DWORD(Path.size()));
    if (N == 0) return ".";
    if (N < Path.size()) {
      Path.resize(N);
      break;
    }
    Path.resize(Path.size() * 2);
  }
  const auto Slash = Path.find_last_of(L"\\/");
  return Slash == std::wstring::npos ? std::string(".") : WideToUtf8(Path.substr(0, Slash));
}

// The installed tree on Windows is one folder: program, engine and picture side by side.
std::string ProgramFileFolder(const std::string& Name, TProgramFileKind Kind) { return ProgramFolder(); }

std::string EngineFile() {
  if (EngineLibrary == nullptr) return {};
  wchar_t Path[MAX_PATH];
  const DWORD N = GetModuleFileNameW(static_cast<HMODULE>(EngineLibrary), Path, MAX_PATH);
  return N == 0 ? std::string() : WideToUtf8(std::wstring(Path, N));
}

void LoadEngineFrom(const std::string& Folder) {
  const std::string Local = Folder + "\\" + kLibraryName;
  LoadFrom(Exists(Local) ? Local : std::string(kLibraryName));
}

void LoadEngine() { LoadFrom(kLibraryName); }

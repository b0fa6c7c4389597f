// Loading the engine on Linux: dlopen of librendo.so, the program folder from /proc.
#include "rendoif.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace {
constexpr const char* kLibraryName = "librendo.so";
}  // namespace

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, size_t(n));
  const auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : exe.substr(0, slash));
}

std::string ProgramFileFolder(const std::string& Name, TProgramFileKind Kind) {
  const std::string own = ProgramFolder();
  struct stat st{};
  if (stat((own + "/" + Name).c_str(), &st) == 0) return own;
  const std::string installed =
      own + "/" + (Kind == TProgramFileKind::Engine ? KORVEL_INSTALLED_ENGINE_FOLDER : KORVEL_INSTALLED_DATA_FOLDER);
  if (stat((installed + "/" + Name).c_str(), &st) != 0) return own;
  char resolved[PATH_MAX];
  return realpath(installed.c_str(), resolved) ? std::string(resolved) : installed;
}

std::string EngineFile() {
  link_map* map = nullptr;
  if (EngineLibrary == nullptr || dlinfo(EngineLibrary, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
  char resolved[PATH_MAX];
  return realpath(map->l_name, resolved) ? std::string(resolved) : std::string(map->l_name);
}

void LoadEngineFrom(const std::string& Folder) {
  const std::string local = Folder + "/" + kLibraryName;
  EngineLibrary = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (EngineLibrary == nullptr) EngineLibrary = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (EngineLibrary == nullptr) return;

  EngineCreateInstance = reinterpret_cast<TRendoCreateInstance>(dlsym(EngineLibrary, "CreateInstance"));
  if (EngineCreateInstance == nullptr) {
    dlclose(EngineLibrary);
    EngineLibrary = nullptr;
    return;
  }

  BindEngine();
}

void LoadEngine() { LoadEngineFrom(ProgramFileFolder(kLibraryName, TProgramFileKind::Engine)); }

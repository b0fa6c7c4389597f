// lnk_target FILE.lnk: a shortcut's target path (raw, as stored) and working folder, one a
// line in UTF-8, read as the shell reads them (IShellLinkW through IPersistFile).
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>

static void Print(const wchar_t* text) {
  char out[4 * MAX_PATH];
  if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr)) out[0] = 0;
  std::printf("%s\n", out);
}

int wmain(int argc, wchar_t** argv) {
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  wchar_t target[MAX_PATH] = L"", folder[MAX_PATH] = L"";
  if (argc != 2 || FAILED(CoInitialize(nullptr)) ||
      FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))) ||
      FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
      FAILED(file->Load(argv[1], STGM_READ)) ||
      FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) ||
      FAILED(link->GetWorkingDirectory(folder, MAX_PATH))) {
    std::fprintf(stderr, "lnk_target: cannot read the shortcut\n");
    return 1;
  }
  Print(target);
  Print(folder);
  return 0;  // the process ends here: nothing to release
}

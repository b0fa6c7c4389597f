// lnk_target FILE.lnk: what the shell starts from a shortcut, as the shell reads it
// (IShellLinkW through IPersistFile): the target's path on the first line, the working
// folder on the second, both UTF-8. Exit status 1 when the file is no shortcut.
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

int Fail(const char* step, HRESULT hr) {
  std::fprintf(stderr, "lnk_target: %s failed (0x%08lx)\n", step, static_cast<unsigned long>(hr));
  return 1;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lnk_target FILE.lnk\n");
    return 2;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return Fail("CoInitializeEx", hr);
  IShellLinkW* link = nullptr;
  hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                        reinterpret_cast<void**>(&link));
  if (FAILED(hr)) return Fail("CoCreateInstance(ShellLink)", hr);
  IPersistFile* file = nullptr;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (FAILED(hr)) return Fail("QueryInterface(IPersistFile)", hr);
  hr = file->Load(argv[1], STGM_READ);
  if (FAILED(hr)) return Fail("Load", hr);
  wchar_t target[MAX_PATH] = L"";
  wchar_t folder[MAX_PATH] = L"";
  // The raw path as stored, not expanded or resolved: the test compares it with the
  // install folder the uninstall key names.
  hr = link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
  if (FAILED(hr) || target[0] == L'\0') return Fail("GetPath", hr);
  hr = link->GetWorkingDirectory(folder, MAX_PATH);
  if (FAILED(hr)) return Fail("GetWorkingDirectory", hr);
  std::printf("%s\n%s\n", Utf8(target).c_str(), Utf8(folder).c_str());
  file->Release();
  link->Release();
  CoUninitialize();
  return 0;
}

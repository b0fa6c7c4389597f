// The engine's binding: the library opened by file name from a folder (dlopen, or
// LoadLibraryW and GetProcAddress on Windows), with its three outcomes: bound, no library,
// and a library without the export unloaded again.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>

#include "test_folder.h"
#include "winstr.h"
#else
#include <dlfcn.h>
#endif

#include "rendoif.h"
#include "ucpuid.h"

namespace {

#ifdef _WIN32
const std::string kInFolder = "\\rendo.dll";
// By module name: whichever rendo.dll the process holds.
bool Loaded(const std::string&) { return GetModuleHandleA("rendo.dll") != nullptr; }
#else
const std::string kInFolder = "/librendo.so";
bool Loaded(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD); }
#endif

// The cases without an engine run first: once the real library is loaded, a lookup by
// bare name would find it already in the process.
TEST(EngineBinding, LibraryWithoutTheExportIsUnloadedAgain) {
  LoadEngineFrom(RENDO_WITHOUT_EXPORT_FOLDER);
  EXPECT_EQ(EngineLibrary, nullptr);
  EXPECT_FALSE(Engine);
  EXPECT_FALSE(EngineEffects);
  EXPECT_FALSE(Loaded(RENDO_WITHOUT_EXPORT_FOLDER + kInFolder));
}

// Not in the folder given: the bare name, which Windows looks up in the program's own
// folder first (the tests' copy may be there) and Linux in its library path (none there).
TEST(EngineBinding, MissingLibraryLeavesTheEngineEmpty) {
  LoadEngineFrom("no-engine-here");
  if (EngineLibrary == nullptr) {
    EXPECT_FALSE(Engine);
  } else {
    EXPECT_EQ(EngineFile(), ProgramFolder() + kInFolder);
  }
  ReleaseEngine();
}

TEST(EngineBinding, BindsTheEngineWithTwoReferencesAndAppliesTheSwitches) {
  DetectCpuFeatures();
  LoadEngineFrom(RENDO_LIBRARY_FOLDER);
  ASSERT_NE(EngineLibrary, nullptr);
  ASSERT_TRUE(Engine && EngineEffects);
  EXPECT_NE(EngineCreateInstance, nullptr);
  EXPECT_NE(EngineFile().find(kInFolder.substr(1)), std::string::npos) << EngineFile();

  // Engine and EngineEffects hold one reference each.
  IPixelEngine* raw = Engine.get();
  EXPECT_EQ(raw->AddRef(), 3u);

  // The switches reached the engine: with MMX on (any x86) an operation does its work.
  uint32_t target[4] = {9, 9, 9, 9};
  const uint32_t source[4] = {1, 1, 1, 1};
  raw->SetTarget(target, 16, 4, 1);
  raw->SubtractSaturated(source, 4);
  EXPECT_EQ(target[3], CpuHasMMX ? 8u : 9u);

  ReleaseEngine();
  EXPECT_FALSE(Engine);
  EXPECT_FALSE(EngineEffects);
  EXPECT_EQ(raw->Release(), 0u);  // the binding let go of both of its references
  EXPECT_TRUE(Loaded(RENDO_LIBRARY_FOLDER + kInFolder)) << "the library stays loaded";
}

TEST(EngineBinding, ProgramFolderIsTheTestsFolder) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.substr(folder.find_last_of("/\\") + 1), "tests");
}

#ifdef _WIN32
// A folder whose name the ANSI code page cannot spell (as a Japanese user's profile is on a
// Western system) still gives the engine.
TEST(EngineBinding, LoadsFromAFolderNamedOutsideTheAnsiCodePage) {
  const std::filesystem::path Folder = NewTestFolder("engine") / L"\u30a8\u30f3\u30b8\u30f3";
  std::filesystem::create_directories(Folder);
  std::filesystem::copy_file(std::filesystem::path(RENDO_LIBRARY_FOLDER) / "rendo.dll",
                             Folder / "rendo.dll");
  LoadEngineFrom(WideToUtf8(Folder.wstring()));
  EXPECT_NE(EngineLibrary, nullptr);
  EXPECT_TRUE(Engine);
  ReleaseEngine();
}
#endif

}  // namespace

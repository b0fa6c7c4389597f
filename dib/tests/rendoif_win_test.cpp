// The binding on Windows: LoadLibrary and GetProcAddress, with the same three outcomes as
// on Linux (bound, no library, a library without the export freed again).
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "rendoif.h"
#include "test_folder.h"
#include "ucpuid.h"
#include "winstr.h"

namespace {

TEST(EngineBindingWin, LibraryWithoutTheExportIsFreedAndABareNameLooksBesideTheProgram) {
  LoadEngineFrom(RENDO_WITHOUT_EXPORT_FOLDER);
  EXPECT_EQ(EngineLibrary, nullptr);
  EXPECT_FALSE(Engine);
  EXPECT_EQ(GetModuleHandleA((std::string(RENDO_WITHOUT_EXPORT_FOLDER) + "\\rendo.dll").c_str()), nullptr);
  // Not in the folder given: the bare name, which the system looks up in the program's own
  // folder first, then in its own folders (where there is none).
  LoadEngineFrom("C:\\no-engine-here");
  if (EngineLibrary != nullptr) {
    EXPECT_EQ(EngineFile(), ProgramFolder() + "\\rendo.dll");
  }
  ReleaseEngine();
}

TEST(EngineBindingWin, BindsTheEngineWithTwoReferencesAndAppliesTheSwitches) {
  DetectCpuFeatures();
  LoadEngineFrom(RENDO_LIBRARY_FOLDER);
  ASSERT_NE(EngineLibrary, nullptr);
  ASSERT_TRUE(Engine && EngineEffects);
  EXPECT_NE(EngineFile().find("rendo.dll"), std::string::npos);
  IPixelEngine* Raw = Engine.get();
  EXPECT_EQ(Raw->AddRef(), 3u);
  uint32_t Target[4] = {9, 9, 9, 9};
  const uint32_t Source[4] = {1, 1, 1, 1};
  Raw->SetTarget(Target, 16, 4, 1);
  Raw->SubtractSaturated(Source, 4);
  EXPECT_EQ(Target[3], CpuHasMMX ? 8u : 9u);
  ReleaseEngine();
  EXPECT_EQ(Raw->Release(), 0u);
  EXPECT_NE(GetModuleHandleA("rendo.dll"), nullptr) << "the library stays loaded";
}

// A folder whose name the ANSI code page cannot spell (as a Japanese user's profile is on a
// Western system) still gives the engine.
TEST(EngineBindingWin, LoadsFromAFolderNamedOutsideTheAnsiCodePage) {
  const std::filesystem::path Folder = NewTestFolder("engine") / L"\u30a8\u30f3\u30b8\u30f3";
  std::filesystem::create_directories(Folder);
  std::filesystem::copy_file(std::filesystem::path(RENDO_LIBRARY_FOLDER) / "rendo.dll", Folder / "rendo.dll");
  LoadEngineFrom(WideToUtf8(Folder.wstring()));
  EXPECT_NE(EngineLibrary, nullptr);
  EXPECT_TRUE(Engine);
  ReleaseEngine();
}

}  // namespace

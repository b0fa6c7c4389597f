#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "rendoif.h"
#include "ucpuid.h"

namespace {

std::string EmptyFolder() {
  const char* root = std::getenv("KORVEL_TEST_ROOT");
  return std::string(root ? root : "/tmp") + "/no-engine-here";
}

// The cases without an engine run first: once the real library is loaded, a lookup by
// bare name would find it already in the process.
TEST(EngineBinding, LibraryWithoutTheExportIsUnloadedAgain) {
  const std::string path = std::string(RENDO_WITHOUT_EXPORT_FOLDER) + "/librendo.so";
  LoadEngineFrom(RENDO_WITHOUT_EXPORT_FOLDER);
  EXPECT_EQ(EngineLibrary, nullptr);
  EXPECT_FALSE(Engine);
  EXPECT_FALSE(EngineEffects);
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(EngineBinding, MissingLibraryLeavesTheEngineEmpty) {
  LoadEngineFrom(EmptyFolder());
  EXPECT_EQ(EngineLibrary, nullptr);
  EXPECT_FALSE(Engine);
}

TEST(EngineBinding, BindsTheEngineWithTwoReferencesAndAppliesTheSwitches) {
  DetectCpuFeatures();
  LoadEngineFrom(RENDO_LIBRARY_FOLDER);
  ASSERT_NE(EngineLibrary, nullptr);
  ASSERT_TRUE(Engine);
  ASSERT_TRUE(EngineEffects);
  EXPECT_NE(EngineCreateInstance, nullptr);

  // Engine and EngineEffects hold one reference each.
  IPixelEngine* raw = Engine.get();
  EXPECT_EQ(raw->AddRef(), 3u);

  // The switches reached the engine: with MMX on (any x86-64) an operation does its work.
  uint32_t target[4] = {9, 9, 9, 9};
  const uint32_t source[4] = {1, 1, 1, 1};
  raw->SetTarget(target, 16, 4, 1);
  raw->SubtractSaturated(source, 4);
  EXPECT_EQ(target[3], CpuHasMMX ? 8u : 9u);

  ReleaseEngine();
  EXPECT_FALSE(Engine);
  EXPECT_FALSE(EngineEffects);
  EXPECT_EQ(raw->Release(), 0u);  // the binding let go of both of its references
  // The library stays loaded.
  EXPECT_NE(dlopen((std::string(RENDO_LIBRARY_FOLDER) + "/librendo.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(EngineBinding, ProgramFolderIsTheTestsFolder) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.substr(folder.rfind('/') + 1), "tests");
}

}  // namespace

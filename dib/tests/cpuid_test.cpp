#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rendo/rendo.h"
#include "ucpuid.h"

namespace {

// A processor described by register values, for DetectCpuFeatures.
struct TFakeMachine {
  bool HasCpuid = true;
  uint32_t Leaf1Edx = 0;
  uint32_t Ext1Edx = 0;
  bool OsSse = true;
  int OsSseAsked = 0;
};
TFakeMachine Machine;

TCpuProbe FakeProbe() {
  return {[] { return Machine.HasCpuid; },
          [](uint32_t leaf, uint32_t(&regs)[4]) {
            regs[0] = regs[1] = regs[2] = 0;
            regs[3] = leaf == 1 ? Machine.Leaf1Edx : leaf == 0x80000001u ? Machine.Ext1Edx : 0;
            return true;
          },
          [] {
            ++Machine.OsSseAsked;
            return Machine.OsSse;
          }};
}

// Records the switch calls an ICpuFeatures receives.
class TRecordingFeatures : public ICpuFeatures {
public:
  int32_t RENDO_CALL QueryInterface(const TGUID*, void** out) override {
    *out = nullptr;
    return RENDO_E_NOINTERFACE;
  }
  uint32_t RENDO_CALL AddRef() override { return ++Count; }
  uint32_t RENDO_CALL Release() override { return --Count; }
  void RENDO_CALL SetMmxEnabled(int32_t flag) override { Calls.push_back("mmx " + std::to_string(flag) + " @" + std::to_string(Count)); }
  void RENDO_CALL SetSecondaryFeature(int32_t flag) override { Calls.push_back("secondary " + std::to_string(flag)); }
  void RENDO_CALL SetSseEnabled(int32_t flag) override { Calls.push_back("sse " + std::to_string(flag)); }
  uint32_t Count = 1;
  std::vector<std::string> Calls;
};

TEST(CpuFeatures, NoCpuidMeansNoFeaturesAndEverythingSwitchedOff) {
  Machine = {};
  Machine.HasCpuid = false;
  Machine.Leaf1Edx = ~0u;
  Machine.Ext1Edx = ~0u;
  DetectCpuFeatures(FakeProbe());
  EXPECT_FALSE(CpuHasMMX);
  EXPECT_FALSE(CpuHas3DNow);
  EXPECT_FALSE(CpuHasSSE);
  EXPECT_FALSE(CpuUseSSE);
  EXPECT_EQ(Machine.OsSseAsked, 0);

  TRecordingFeatures features;
  ApplyCpuFeatures(&features);
  EXPECT_EQ(features.Calls, (std::vector<std::string>{"secondary 0", "sse 0", "mmx 0 @2"}));
  EXPECT_EQ(features.Count, 1u);  // the extra reference is held only during the call
}

TEST(CpuFeatures, SseWithoutSystemSupportKeepsTheSsePathOff) {
  Machine = {};
  Machine.Leaf1Edx = (1u << 23) | (1u << 25);
  Machine.OsSse = false;
  DetectCpuFeatures(FakeProbe());
  EXPECT_TRUE(CpuHasMMX);
  EXPECT_TRUE(CpuHasSSE);
  EXPECT_FALSE(CpuUseSSE);
  EXPECT_FALSE(CpuHas3DNow);
  EXPECT_EQ(Machine.OsSseAsked, 1);

  TRecordingFeatures features;
  ApplyCpuFeatures(&features);
  EXPECT_EQ(features.Calls, (std::vector<std::string>{"secondary 0", "sse 0", "mmx -1 @2"}));
}

TEST(CpuFeatures, EachFlagFromItsOwnBitAndSseAskedOnlyWhenPresent) {
  Machine = {};
  Machine.Ext1Edx = 1u << 31;
  DetectCpuFeatures(FakeProbe());
  EXPECT_TRUE(CpuHas3DNow);
  EXPECT_FALSE(CpuHasMMX);
  EXPECT_FALSE(CpuHasSSE);
  EXPECT_EQ(Machine.OsSseAsked, 0);

  Machine.Ext1Edx = 0;
  Machine.Leaf1Edx = 1u << 25;
  DetectCpuFeatures(FakeProbe());
  EXPECT_TRUE(CpuUseSSE);
  TRecordingFeatures features;
  ApplyCpuFeatures(&features);
  EXPECT_EQ(features.Calls, (std::vector<std::string>{"secondary 0", "sse -1", "mmx 0 @2"}));
}

TEST(CpuFeatures, ThisMachine) {
  DetectCpuFeatures();
#if defined(__x86_64__) || defined(__i386__)
  // Every x86-64 processor (and every one the SSE2 build of i686 runs on) has CPUID, MMX
  // and SSE, and Linux and Windows enable SSE state.
  EXPECT_TRUE(HasCPUID());
  EXPECT_TRUE(OSSupportsSSE());
  EXPECT_TRUE(CpuHasMMX);
  EXPECT_TRUE(CpuHasSSE);
  EXPECT_TRUE(CpuUseSSE);
#else
  EXPECT_FALSE(CpuHasMMX);
  EXPECT_FALSE(CpuUseSSE);
#endif
}

}  // namespace

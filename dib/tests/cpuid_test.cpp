#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
constexpr uint32_t kMmx = 1u << 23, kSse = 1u << 25;  // leaf 1
constexpr uint32_t k3DNow = 1u << 31;  // leaf 0x80000001

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

// Records the switch calls an ICpuFeatures receives, and the reference count at the last.
class TRecordingFeatures : public ICpuFeatures {
public:
  int32_t RENDO_CALL QueryInterface(const TGUID*, void** out) override {
    *out = nullptr;
    return RENDO_E_NOINTERFACE;
  }
  uint32_t RENDO_CALL AddRef() override { return ++Count; }
  uint32_t RENDO_CALL Release() override { return --Count; }
  void RENDO_CALL SetMmxEnabled(int32_t flag) override { Note("mmx ", flag, " @" + RefCount()); }
  void RENDO_CALL SetSecondaryFeature(int32_t flag) override { Note("sec ", flag, " "); }
  void RENDO_CALL SetSseEnabled(int32_t flag) override { Note("sse ", flag, " "); }
  void Note(const char* name, int32_t flag, const std::string& end) {
    Calls += name + std::to_string(flag) + end;
  }
  std::string RefCount() const { return std::to_string(Count); }
  uint32_t Count = 1;
  std::string Calls;
};

// The flags DetectCpuFeatures set, by name.
std::string Flags() {
  return std::string(CpuHasMMX ? "mmx " : "") + (CpuHas3DNow ? "3dnow " : "") +
         (CpuHasSSE ? "sse " : "") + (CpuUseSSE ? "use-sse " : "");
}

// Each flag comes from its own bit; the system is asked about SSE only when the processor
// has it. The switches go over with an extra reference held only during the calls.
TEST(CpuFeatures, FlagsAndSwitchesOfFakeMachines) {
  const struct {
    const char* Name;
    TFakeMachine Machine;
    const char* Flags;
    int OsSseAsked;
    const char* Calls;
  } kRows[] = {
      {"no CPUID", {false, ~0u, ~0u}, "", 0, "sec 0 sse 0 mmx 0 @2"},
      {"no OS SSE", {true, kMmx | kSse, 0, false}, "mmx sse ", 1, "sec 0 sse 0 mmx -1 @2"},
      {"3DNow only", {true, 0, k3DNow}, "3dnow ", 0, "sec -1 sse 0 mmx 0 @2"},
      {"SSE only", {true, kSse, 0}, "sse use-sse ", 1, "sec 0 sse -1 mmx 0 @2"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.Name);
    Machine = row.Machine;
    DetectCpuFeatures(FakeProbe());
    EXPECT_EQ(Flags(), row.Flags);
    EXPECT_EQ(Machine.OsSseAsked, row.OsSseAsked);
    TRecordingFeatures features;
    ApplyCpuFeatures(&features);
    EXPECT_EQ(features.Calls, row.Calls);
    EXPECT_EQ(features.Count, 1u);
  }
}

TEST(CpuFeatures, ThisMachine) {
  DetectCpuFeatures();
#if defined(__x86_64__) || defined(__i386__)
  // Every x86-64 processor (and every one the SSE2 build of i686 runs on) has CPUID, MMX
  // and SSE, and Linux and Windows enable SSE state.
  EXPECT_EQ(std::tuple(HasCPUID(), OSSupportsSSE(), CpuHasMMX, CpuHasSSE, CpuUseSSE),
            std::tuple(true, true, true, true, true));
#else
  EXPECT_EQ(std::tuple(CpuHasMMX, CpuUseSSE), std::tuple(false, false));
#endif
}

}  // namespace

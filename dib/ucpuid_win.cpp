// The SSE system test on Windows: a system that does not save SSE state makes XORPS raise
// an illegal-instruction exception. A vectored handler catches that one exception at the
// probe's own address, notes it and resumes after the instruction (three bytes:
// 0F 57 C0); any other exception goes on to the handlers it belongs to.
#include "ucpuid.h"

#include <windows.h>

// The XORPS below; the assembler name is given, as 32-bit and 64-bit C names differ.
extern "C" const char korvel_sse_probe[] __asm__("korvel_sse_probe");

namespace {

volatile LONG ProbeFaulted = 0;

#ifdef _WIN64
void SkipProbe(CONTEXT* Context) { Context->Rip += 3; }
#else
void SkipProbe(CONTEXT* Context) { Context->Eip += 3; }
#endif

LONG CALLBACK SseProbeFault(EXCEPTION_POINTERS* E) {
  const DWORD Code = E->ExceptionRecord->ExceptionCode;
  if (E->ExceptionRecord->ExceptionAddress != korvel_sse_probe ||
      (Code != EXCEPTION_ILLEGAL_INSTRUCTION && Code != EXCEPTION_PRIV_INSTRUCTION))
    return EXCEPTION_CONTINUE_SEARCH;
  ProbeFaulted = 1;
  SkipProbe(E->ContextRecord);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Not inlined: the label must exist exactly once. Compiled for SSE whatever the
// baseline, as the instruction is what is being tried.
__attribute__((noinline, target("sse"))) void RunProbe() {
  __asm__ volatile(
      ".globl korvel_sse_probe\n"
      "korvel_sse_probe:\n\t"
      "xorps %%xmm0, %%xmm0" ::: "xmm0");
}

}  // namespace

bool OSSupportsSSE() {
  if (!HasCPUID()) return false;
  void* Handler = AddVectoredExceptionHandler(1, SseProbeFault);
  if (Handler == nullptr) return false;
  ProbeFaulted = 0;
  RunProbe();
  RemoveVectoredExceptionHandler(Handler);
  return ProbeFaulted == 0;
}

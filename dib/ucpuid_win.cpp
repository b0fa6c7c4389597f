// The SSE system test on Windows: a system that does not save SSE state makes XORPS raise
// an illegal-instruction exception. A vectored handler catches that one exception at the
// probe's own address, notes it and resumes after the instruction (three bytes:
// 0F 57 C0); any other exception goes on to the handlers it belongs to. 32-bit x86 only,
// like the build (the resume point is Eip).
#include "ucpuid.h"

#include <windows.h>

extern "C" const char korvel_sse_probe[];  // the XORPS below

namespace {

volatile LONG ProbeFaulted = 0;

LONG CALLBACK SseProbeFault(EXCEPTION_POINTERS* E) {
  const DWORD Code = E->ExceptionRecord->ExceptionCode;
  if (E->ExceptionRecord->ExceptionAddress != korvel_sse_probe ||
      (Code != EXCEPTION_ILLEGAL_INSTRUCTION && Code != EXCEPTION_PRIV_INSTRUCTION))
    return EXCEPTION_CONTINUE_SEARCH;
  ProbeFaulted = 1;
  E->ContextRecord->Eip += 3;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Not inlined: the label must exist exactly once.
__attribute__((noinline)) void RunProbe() {
  __asm__ volatile(
      ".globl _korvel_sse_probe\n"
      "_korvel_sse_probe:\n\t"
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

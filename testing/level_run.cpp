// korvel_level_run <level> <program> [args...]: runs the program with the kernel level
// capped at <level>, or exits 77 (a skip to CTest) when this build or processor lacks it,
// so a level's run never passes quietly at a lower level.
#include "kernel_levels.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
  TKernelLevel level;
  if (argc < 3 || !ParseKernelLevel(argv[1], level)) {
    std::fprintf(stderr, "usage: korvel_level_run Ref|SSE2|AVX2 <program> [args...]\n");
    return 2;
  }
  if (!KernelLevelUsable(level)) {
    std::printf("%s kernels: not built or not supported by this processor; skipped\n", argv[1]);
    return 77;
  }
  setenv(kKernelLevelCapVariable, argv[1], 1);
  execv(argv[2], argv + 2);
  std::perror(argv[2]);
  return 2;
}

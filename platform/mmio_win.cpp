// The failure text of winmm's mmioOpenA, which reports through GetLastError only.
#include "mmio.h"

#include "winstr.h"

std::string MmioOpenFailureText() { return SystemErrorText(GetLastError()); }

// The engine's names for the kernel levels, which the transform shares
// (levels/kernel_levels.h: one enum, one probe, one cap).
//
// No inline code here: the per-instruction-set files include this header (see
// kernels_colour.h for why).
#pragma once

#include "kernel_levels.h"

namespace rendo_kernels {

using ::ActiveKernelLevel;
using ::kKernelLevelCount;
using ::kKernelLevels;
using ::KernelLevelName;
using ::KernelLevelUsable;
using ::TKernelLevel;

}  // namespace rendo_kernels

#pragma once
// The history strip's size in pixels: one column per history value. A header of its own so
// the background generator, which the cross build compiles for the build machine, needs
// nothing else of the program.
#include <cstdint>

inline constexpr int32_t kStripWidth = 220;
inline constexpr int32_t kStripHeight = 60;

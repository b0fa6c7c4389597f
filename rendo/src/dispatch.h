// One table builder for every kernel family.
//
// A family's table is a struct of kernel pointers and nothing else. The reference table
// fills every slot; each instruction-set level's object library defines one table of the
// same type holding the kernels it implements (the rest null). The table for a level is
// the reference with the tables of every built level up to it laid over it slot by slot,
// so no kernel a level's table holds can be left out: the slots are walked generically,
// not listed by hand.
//
// Not for the per-instruction-set files (inline code; see kernels_colour.h).
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "levels.h"

namespace rendo_kernels {

// Any kernel pointer, seen as one table slot. All function pointers share one
// representation on the targets this library builds for.
using TAnyKernel = void (*)();

template <typename TTable>
inline constexpr size_t kKernelSlots = sizeof(TTable) / sizeof(TAnyKernel);

template <typename TTable>
TAnyKernel KernelSlot(const TTable& table, size_t slot) {
  static_assert(std::is_trivially_copyable_v<TTable> && sizeof(TTable) % sizeof(TAnyKernel) == 0,
                "a kernel table holds kernel pointers only");
  TAnyKernel kernel;
  std::memcpy(&kernel, reinterpret_cast<const unsigned char*>(&table) + slot * sizeof kernel, sizeof kernel);
  return kernel;
}

template <typename TTable>
void SetKernelSlot(TTable& table, size_t slot, TAnyKernel kernel) {
  std::memcpy(reinterpret_cast<unsigned char*>(&table) + slot * sizeof kernel, &kernel, sizeof kernel);
}

// The table that level's own object library defines (the reference for Ref); null when
// the level is not built into this library.
template <typename TTable>
const TTable* OwnKernelTable(TKernelLevel level);

// The built table for exactly one level; null when the level is not built.
template <typename TTable>
const TTable* KernelTableFor(TKernelLevel level);

// The built table of ActiveKernelLevel(), filled on first use.
template <typename TTable>
const TTable& ActiveKernels();

}  // namespace rendo_kernels

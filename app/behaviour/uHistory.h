#pragma once
// The ring of the last 220 analysis results shown by the history strip. Values are
// fractions 0..1 (0: nothing detected).
#include <array>
#include <cstddef>
#include <cstdint>

class TBasicFreqenycyTable {
public:
  static constexpr int32_t Size = 220;

  // Writes the slot at Position and moves Position on, wrapping after the last slot.
  void Push(float value);

  // Age 0 is the slot the next Push overwrites (the oldest value), age 1 the newest, up to
  // age 219 (the second oldest). Ages outside 0..219 wrap into the ring as well.
  float ReadAge(int32_t age) const;

  int32_t Position = 0;
  std::array<float, Size> Items{};
};

#include "uHistory.h"

void TBasicFreqenycyTable::Push(float value) {
  Items[std::size_t(Position)] = value;
  if (++Position > Size - 1) Position = 0;
}

float TBasicFreqenycyTable::ReadAge(int32_t age) const {
  // Callers pass 0..219; any other age is folded into the ring instead of reading outside
  // it (a negative index before, an index past the end after).
  int64_t i = (int64_t(Position) - int64_t(age)) % Size;
  if (i < 0) i += Size;
  return Items[std::size_t(i)];
}

#pragma once
// The one integer syntax of the settings: the store reads its values with it, and the
// number fields of the dialog accept what it accepts.
#include <cstdint>
#include <string>

// Strict decimal 32-bit parse: optional sign, digits, nothing else, within range.
bool ParseInt32(const std::string& text, int32_t& value);

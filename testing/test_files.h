#pragma once
// Whole files and little-endian fields for tests: reading what a program wrote, building
// the RIFF/WAV files it reads.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The whole file; empty when it cannot be read.
inline std::string ReadFileText(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
inline std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline uint32_t ReadLe32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

inline void PutLe16(std::string& s, uint16_t v) { s.push_back(char(v)), s.push_back(char(v >> 8)); }
inline void PutLe32(std::string& s, uint32_t v) { PutLe16(s, uint16_t(v)), PutLe16(s, uint16_t(v >> 16)); }

// The 44-byte header of a PCM WAV file (16-byte fmt chunk) whose data chunk of
// `dataBytes` follows it.
inline std::string PcmWavHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes) {
  const uint16_t frameBytes = uint16_t(channels * bits / 8);
  std::string w = "RIFF";
  PutLe32(w, 36 + dataBytes);
  w += "WAVEfmt ";
  PutLe32(w, 16);
  PutLe16(w, 1);  // PCM
  PutLe16(w, channels);
  PutLe32(w, rate);
  PutLe32(w, rate * frameBytes);
  PutLe16(w, frameBytes);
  PutLe16(w, bits);
  w += "data";
  PutLe32(w, dataBytes);
  return w;
}

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

// Replaces the file's content; false when it cannot be written.
inline bool WriteFileText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  return bool(out << text);
}

inline uint32_t ReadLe32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

inline void PutLe16(std::string& s, uint16_t v) { s += {char(v), char(v >> 8)}; }
inline void PutLe32(std::string& s, uint32_t v) {
  s += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// What a WAV file declares, the malformed values included that a reader must refuse.
struct TWavShape {
  uint16_t Tag = 1, Channels = 2, Bits = 16;  // tag 1: PCM
  uint32_t Rate = 44100;
  uint32_t FmtBytes = 16;          // 18 adds the extension's size word (0)
  int64_t DeclaredDataBytes = -1;  // -1: the true size
  bool ZeroSizes = false;          // both sizes 0, as a capture whose writer was killed
};

// The header of a WAV file (RIFF, fmt and data chunk headers) whose `dataBytes` of data follow.
inline std::string WavHeader(uint32_t dataBytes, const TWavShape& shape = {}) {
  const uint16_t frameBytes = uint16_t(shape.Channels * shape.Bits / 8);
  const int64_t declared = shape.DeclaredDataBytes >= 0 ? shape.DeclaredDataBytes : dataBytes;
  std::string w = "RIFF";
  PutLe32(w, shape.ZeroSizes ? 0 : 4 + 8 + shape.FmtBytes + 8 + dataBytes);
  w += "WAVEfmt ";
  PutLe32(w, shape.FmtBytes);
  PutLe16(w, shape.Tag);
  PutLe16(w, shape.Channels);
  PutLe32(w, shape.Rate);
  PutLe32(w, shape.Rate * frameBytes);
  PutLe16(w, frameBytes);
  PutLe16(w, shape.Bits);
  if (shape.FmtBytes == 18) PutLe16(w, 0);
  w += "data";
  PutLe32(w, shape.ZeroSizes ? 0 : uint32_t(declared));
  return w;
}

// A WAV file of 16-bit samples (interleaved when there are several channels); false when
// it cannot be written.
inline bool WriteWavFile(const std::filesystem::path& p, const std::vector<int16_t>& samples,
                         const TWavShape& shape = {}) {
  std::string data;
  for (int16_t s : samples) PutLe16(data, uint16_t(s));
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << WavHeader(uint32_t(data.size()), shape) << data;
  return bool(out.flush());
}

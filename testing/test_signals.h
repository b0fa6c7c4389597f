#pragma once
// Test signals: a sine tone as sample values, as a function of the frame, and as
// interleaved stereo frames. One formula everywhere, so a frequency a test expects to be
// measured (1001 Hz for a 1000 Hz tone) comes from the same samples in every test.
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

// Frame p of a sine tone: amplitude in sample units, phase 0 at frame 0, rounded to the
// nearest sample.
inline int16_t ToneSample(double hz, double amplitude, int64_t p, double rate = 44100.0) {
  return int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * double(p) / rate)));
}

inline std::function<int16_t(uint32_t)> Tone(double hz, double amplitude = 10000.0) {
  return [=](uint32_t p) { return ToneSample(hz, amplitude, p); };
}

// `count` frames of the tone on both channels, interleaved.
inline std::vector<int16_t> ToneFrames(double hz, double amplitude, uint32_t count) {
  std::vector<int16_t> frames(size_t(count) * 2);
  for (uint32_t i = 0; i < count; ++i)
    frames[2 * size_t(i)] = frames[2 * size_t(i) + 1] = ToneSample(hz, amplitude, i);
  return frames;
}

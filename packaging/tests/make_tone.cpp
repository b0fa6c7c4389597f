// make_tone FILE HZ QUIET_S LOUD_S: a 16-bit 44100 Hz stereo WAV file holding a sine tone,
// first barely audible (what a calibration takes as its quiet reference), then loud.
#include "alsa_test_route.h"
#include "test_files.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_tone FILE HZ QUIET_SECONDS LOUD_SECONDS\n");
    return 2;
  }
  const double hz = std::atof(argv[2]);
  const auto frames = [](const char* seconds) { return uint32_t(std::atof(seconds) * 44100); };
  std::vector<int16_t> samples = ToneFrames(hz, 30.0, frames(argv[3]));
  const std::vector<int16_t> loud = ToneFrames(hz, 12000.0, frames(argv[4]));
  samples.insert(samples.end(), loud.begin(), loud.end());

  const uint32_t dataBytes = uint32_t(samples.size() * sizeof(int16_t));
  const std::string header = PcmWavHeader(2, 44100, 16, dataBytes);

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(header.data(), std::streamsize(header.size()));
  out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(dataBytes));
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

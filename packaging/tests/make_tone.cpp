// make_tone FILE HZ QUIET_S LOUD_S: a 16-bit 44100 Hz stereo WAV file holding a sine tone,
// first barely audible (what a calibration takes as its quiet reference), then loud.
#include "alsa_test_route.h"
#include "test_files.h"
#include "test_signals.h"

#include <cstdio>
#include <cstdlib>

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
  if (!WriteWavFile(argv[1], samples)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

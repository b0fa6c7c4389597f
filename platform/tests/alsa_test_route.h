#pragma once
// A private ALSA setup for tests that capture through real ALSA: writes a temporary ALSA
// configuration and points ALSA_CONFIG_PATH at it, so the test never sees the machine's
// sound setup. Two kinds of capture device can stand in it:
//
//  - a file device (ALSA's `file` PCM over `null`): delivers the file's frames as fast as
//    they are read, with no clock; at the end of the file it repeats its last period, so
//    feed whole buffers (N x 8192 frames) and stop after N;
//  - the paced test device (this folder's ioplug module): delivers the file at 44100
//    frames per second, then goes silent, hangs or fails as asked, and can be made
//    exclusive (a second open is "busy").
//
// Usage:
//   TAlsaTestRoute route;
//   WriteRawFrames(route.File("in.raw"), CounterFrames(0, 4 * 8192));
//   route.Add({.InputFile = route.File("in.raw")}).Install();
//   ... open WAVE_MAPPER, capture ...
//
// Install before the code under test first calls ALSA, or at least with a new route: ALSA
// reloads its configuration whenever ALSA_CONFIG_PATH names other files. The environment
// is process-wide: tests that install routes must not run their ALSA work concurrently
// in one process.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Interleaved 16-bit stereo frames first, first+1, ...: the left sample carries the low 16
// bits of the frame's index, the right sample the high 16 bits, so a gap, a repeat or a
// reordering anywhere in a capture shows as a break in the count.
std::vector<int16_t> CounterFrames(uint32_t first, uint32_t count);
// The index one counter frame carries.
uint32_t CounterValue(const int16_t* frame);
// `count` frames of zeros.
std::vector<int16_t> SilenceFrames(uint32_t count);
// Writes interleaved frames as raw little-endian 16-bit samples (the capture format).
void WriteRawFrames(const std::string& path, const std::vector<int16_t>& interleaved);

enum class TAlsaTestEnd { Silence, Hang, Fail };
// The test device's names of the ends, in TAlsaTestEnd's order.
inline constexpr const char* kAlsaTestEndNames[] = {"silence", "hang", "fail"};

// A capture device of the route; fill it by name ({.InputFile = ..., .Paced = true}), the
// rest keeping these values.
struct TAlsaTestPcm {
  std::string Name = "default";  // the PCM's name in the configuration
  std::string InputFile{};       // raw 16-bit stereo frames
  bool Paced = false;            // false: file device (no clock); true: paced test device
  TAlsaTestEnd End = TAlsaTestEnd::Silence;  // paced only: what follows the file
  std::string LockFile{};        // paced only: held exclusively while open (busy device)
  std::string Description{};     // non-empty: listed in ALSA's device hints with this text
};

class TAlsaTestRoute {
public:
  // folder: where the configuration (and, by File(), test inputs) go; made when missing.
  // By default a new folder under the test's private root (NewTestFolder).
  explicit TAlsaTestRoute(std::string folder = {});
  // Restores the previous ALSA_CONFIG_PATH and removes the configuration file.
  ~TAlsaTestRoute();
  TAlsaTestRoute(const TAlsaTestRoute&) = delete;
  TAlsaTestRoute& operator=(const TAlsaTestRoute&) = delete;

  TAlsaTestRoute& Add(const TAlsaTestPcm& pcm);
  // Appends configuration text as it stands (e.g. a `namehint.pcm { ... }` block).
  TAlsaTestRoute& AddText(const std::string& text);
  // Writes the configuration to a file of a new name and sets ALSA_CONFIG_PATH to it.
  // Throws std::runtime_error when the file cannot be written.
  void Install();

  std::string File(const std::string& name) const { return Folder + "/" + name; }
  const std::string& ConfigPath() const { return Path; }

  // A one-line set-up: `default` as the paced test device.
  static void InstallPacedDefault(TAlsaTestRoute& route, const std::string& inputFile,
                                  TAlsaTestEnd end = TAlsaTestEnd::Silence);

  // The paced test device's module, as built with the tests.
  static std::string PluginPath();

private:
  std::string Folder;
  std::string Config;
  std::string Path;
  std::optional<std::string> Previous;  // ALSA_CONFIG_PATH before the first Install
  bool Installed = false;
};

// korvel-replay: runs the program's per-buffer analysis on a WAV recording, so the
// settings can be tuned on a recording instead of a live sensor.
//
//   korvel-replay [options] FILE.wav
//
// Output: one CSV row a buffer on stdout (none with --quiet), and with --plot an SVG
// picture of the whole recording. Exit 0 on success, 2 for a bad command line or
// an unusable file (message on stderr), 1 when the settings or the mailbox fail.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "openfile.h"
#include "plot.h"
#include "registry.h"
#include "replay.h"
#include "settingranges.h"
#include "uSharedMemory.h"
#include "uglobal.h"

namespace {

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "korvel-replay: %s\n", problem);
  std::fprintf(stderr,
               "usage: korvel-replay [options] FILE.wav\n"
               "  --defaults         use the default settings, not the stored ones\n"
               "  --speed N          highest speed factor in tenths (viSpeed)\n"
               "  --min-freq N       lower end of the detection range, Hz (viMinFreq)\n"
               "  --max-freq N       upper end of the detection range, Hz (viMaxFreq)\n"
               "  --floor N          threshold at the start, Hz (viFloor)\n"
               "  --floor2 N         threshold after five minutes, Hz (viFloor2)\n"
               "  --calibrate N      buffer whose mean becomes the 0 dB reference (default 0)\n"
               "  --publish          publish every speed step to the speed mailbox\n"
               "  --mailbox-dir DIR  folder of the mailbox objects (default /dev/shm)\n"
               "  --realtime         pace the analysis at one buffer per 8192/44100 s\n"
               "  --plot OUT.svg     also draw the whole recording into an SVG picture\n"
               "  --quiet            no CSV on stdout\n"
               "The file: PCM WAV, 16 bits, 44100 Hz, 1 or 2 channels (the first is analysed).\n");
  return 2;
}

std::optional<int64_t> ParseInt(const char* text) {
  int64_t v = 0;
  const char* end = text + std::strlen(text);
  const auto r = std::from_chars(text, end, v);
  if (r.ec != std::errc() || r.ptr != end || *text == '\0') return std::nullopt;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  TReplayOptions options;
  bool defaults = false, publish = false, calibrateGiven = false, quiet = false;
  const char* plotPath = nullptr;
  std::optional<int64_t> speed, minFreq, maxFreq, floor1, floor2;
  std::string mailboxDir = kSharedDirectory;
  const char* path = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::optional<int64_t>& into, int64_t lo, int64_t hi) -> bool {
      if (i + 1 >= argc) return false;
      into = ParseInt(argv[++i]);
      return into && *into >= lo && *into <= hi;
    };
    std::optional<int64_t> cal;
    if (a == "--help" || a == "-h") {
      Usage(nullptr);
      return 0;
    } else if (a == "--defaults") {
      defaults = true;
    } else if (a == "--publish") {
      publish = true;
    } else if (a == "--realtime") {
      options.Realtime = true;
    } else if (a == "--quiet") {
      quiet = true;
    } else if (a == "--plot") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return Usage("--plot needs a file name");
      plotPath = argv[++i];
    } else if (a == "--mailbox-dir" && i + 1 < argc) {
      mailboxDir = argv[++i];
    } else if (a == "--speed") {
      if (!value(speed, kSpeedRange.Min, kSpeedRange.Max)) return Usage("--speed needs an integer from 10 to 60");
    } else if (a == "--min-freq") {
      if (!value(minFreq, kFrequencyRange.Min, kFrequencyRange.Max))
        return Usage("--min-freq needs an integer from 1 to 22050");
    } else if (a == "--max-freq") {
      if (!value(maxFreq, kFrequencyRange.Min, kFrequencyRange.Max))
        return Usage("--max-freq needs an integer from 1 to 22050");
    } else if (a == "--floor") {
      if (!value(floor1, INT32_MIN, INT32_MAX)) return Usage("--floor needs an integer");
    } else if (a == "--floor2") {
      if (!value(floor2, INT32_MIN, INT32_MAX)) return Usage("--floor2 needs an integer");
    } else if (a == "--calibrate") {
      if (!value(cal, 0, INT32_MAX)) return Usage("--calibrate needs a buffer number (0 or more)");
      options.CalibrateBuffer = *cal;
      calibrateGiven = true;
    } else if (a == "--") {
      if (i + 1 < argc && path != nullptr) return Usage("more than one file");
      if (i + 1 < argc) path = argv[++i];
      if (i + 1 < argc) return Usage("more than one file");
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      return Usage("more than one file");
    }
  }
  if (path == nullptr) return Usage("no file given");
  // The picture is written after the whole file has been read: never over the recording.
  std::error_code same;
  if (plotPath && std::filesystem::equivalent(path, plotPath, same))
    return Usage("--plot would overwrite the recording");

  try {
    if (!defaults) {
      // The settings as the program reads them at start-up.
      TGlobalSettings settings(TRegistry::CurrentUser());
      options.Speed = SpeedSettings(settings);
      options.viFloor = settings.viFloor->Value;
      options.viFloor2 = settings.viFloor2->Value;
    }
    // What the program would show at start-up (a corrected value, a file kept aside).
    if (const std::string notice = TRegistry::CurrentUser().TakeNotice(); !notice.empty())
      std::fprintf(stderr, "korvel-replay: %s\n", notice.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvel-replay: cannot read the settings: %s\n", e.what());
    return 1;
  }
  if (speed) options.Speed.viSpeed = int32_t(*speed);
  if (minFreq) options.Speed.viMinFreq = int32_t(*minFreq);
  if (maxFreq) options.Speed.viMaxFreq = int32_t(*maxFreq);
  if (floor1) options.viFloor = int32_t(*floor1);
  if (floor2) options.viFloor2 = int32_t(*floor2);
  if (options.Speed.viMinFreq >= options.Speed.viMaxFreq)
    return Usage("the lowest frequency to detect must lie below the highest");
  // For the plot's title: each setting and where it came from.
  std::vector<TPlotSetting> shown;
  const struct {
    const char* Name;
    int32_t Value;
    bool Given;
  } used[] = {{"viSpeed", options.Speed.viSpeed, speed.has_value()},
              {"viMinFreq", options.Speed.viMinFreq, minFreq.has_value()},
              {"viMaxFreq", options.Speed.viMaxFreq, maxFreq.has_value()},
              {"viFloor", options.viFloor, floor1.has_value()},
              {"viFloor2", options.viFloor2, floor2.has_value()}};
  for (const auto& u : used) shown.push_back({u.Name, u.Value, u.Given ? "option" : defaults ? "defaults" : "store"});

  std::string openError;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenRegularFile(path, openError), &std::fclose);
  if (!file) {
    std::fprintf(stderr, "korvel-replay: %s: %s\n", path, openError.c_str());
    return 2;
  }
  try {
    const TWavInfo info = ReadWavHeader(file.get());
    if (info.Unfinished)
      std::fprintf(stderr, "korvel-replay: %s: data size is 0 (capture never stopped); reading to the end\n", path);
    // A file without a whole buffer (a capture stopped before its first buffer) gives the
    // header alone; only a calibration buffer asked for by name must exist.
    if (calibrateGiven && options.CalibrateBuffer >= info.Buffers()) {
      std::fprintf(stderr, "korvel-replay: %s: --calibrate %lld, but the file has %lld whole buffers\n", path,
                   static_cast<long long>(options.CalibrateBuffer), static_cast<long long>(info.Buffers()));
      return 2;
    }
    std::unique_ptr<TSpeedSharedMemory> mailbox;
    if (publish) {
      try {
        mailbox = std::make_unique<TSpeedSharedMemory>(mailboxDir);
      } catch (const ESpeedLinkError& e) {
        std::fprintf(stderr, "korvel-replay: speed mailbox: %s\n", e.FullText().c_str());
        return 1;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "korvel-replay: speed mailbox: %s\n", e.what());
        return 1;
      }
    }
    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);
    std::vector<TReplayRow> rows;
    RunReplay(file.get(), info, options, quiet ? nullptr : stdout,
              mailbox ? std::function<void(double)>([&](double v) { mailbox->SetSpeed(v); })
                      : std::function<void(double)>(),
              plotPath ? std::function<void(const TReplayRow&)>([&](const TReplayRow& r) { rows.push_back(r); })
                       : std::function<void(const TReplayRow&)>());
    if (plotPath) {
      try {
        WritePlotFile(plotPath, TPlotInfo{path, options, shown}, rows);
      } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "korvel-replay: --plot: %s\n", e.what());
        return 1;
      }
    }
    if (std::fflush(stdout) != 0) {
      std::fprintf(stderr, "korvel-replay: cannot write the output: %s\n", std::strerror(errno));
      return 1;
    }
  } catch (const EReplayInput& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvel-replay: %s: %s\n", path, e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvel-replay: %s\n", e.what());
    return 1;
  }
  return 0;
}

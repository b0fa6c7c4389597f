#include "alsa_test_route.h"

#include "test_files.h"
#include "test_folder.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

std::vector<int16_t> CounterFrames(uint32_t first, uint32_t count) {
  std::vector<int16_t> frames(size_t(count) * 2);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t index = first + i;
    frames[2 * size_t(i)] = int16_t(uint16_t(index & 0xFFFFu));
    frames[2 * size_t(i) + 1] = int16_t(uint16_t(index >> 16));
  }
  return frames;
}

uint32_t CounterValue(const int16_t* frame) {
  return uint32_t(uint16_t(frame[0])) | (uint32_t(uint16_t(frame[1])) << 16);
}

std::vector<int16_t> SilenceFrames(uint32_t count) {
  return std::vector<int16_t>(size_t(count) * 2);
}

void WriteRawFrames(const std::string& path, const std::vector<int16_t>& interleaved) {
  // The samples are stored little-endian, as the machine (x86-64, arm64) holds them.
  const auto* bytes = reinterpret_cast<const char*>(interleaved.data());
  if (!WriteFileText(path, std::string(bytes, interleaved.size() * sizeof(int16_t))))
    throw std::runtime_error("cannot write " + path);
}

namespace {

// An ALSA configuration string literal. A line break stays literal: ALSA's parser reads
// backslash-n like a backslash at the end of a line, as a continuation, and drops it.
std::string Quoted(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

TAlsaTestRoute::TAlsaTestRoute(std::string folder)
    : Folder(folder.empty() ? NewTestFolder("alsa").string() : std::move(folder)) {
  std::filesystem::create_directories(Folder);
  Config = "pcm_type.korveltest { lib " + Quoted(PluginPath()) + " }\n";
}

TAlsaTestRoute::~TAlsaTestRoute() {
  if (!Installed) return;
  if (Previous)
    setenv("ALSA_CONFIG_PATH", Previous->c_str(), 1);
  else
    unsetenv("ALSA_CONFIG_PATH");
  std::remove(Path.c_str());
}

TAlsaTestRoute& TAlsaTestRoute::Add(const TAlsaTestPcm& pcm) {
  std::string body;
  if (pcm.Paced) {
    body = "  type korveltest\n  file " + Quoted(pcm.InputFile) + "\n  end " +
           kAlsaTestEndNames[int(pcm.End)] + "\n";
    if (!pcm.LockFile.empty()) body += "  lock " + Quoted(pcm.LockFile) + "\n";
  } else {
    // The file PCM writes what passes through to `file`; capture only needs `infile`.
    body = "  type file\n  slave.pcm { type null }\n  file \"/dev/null\"\n  format \"raw\"\n"
           "  infile " + Quoted(pcm.InputFile) + "\n";
  }
  if (!pcm.Description.empty())
    body += "  hint { show on description " + Quoted(pcm.Description) + " }\n";
  Config += "pcm." + pcm.Name + " {\n" + body + "}\n";
  return *this;
}

TAlsaTestRoute& TAlsaTestRoute::AddText(const std::string& text) {
  Config += text;
  if (!text.empty() && text.back() != '\n') Config += '\n';
  return *this;
}

void TAlsaTestRoute::Install() {
  // A new name each time: ALSA decides whether to reload by the files' names and times, and
  // a rewrite within the same second would otherwise go unnoticed.
  static std::atomic<unsigned> serial{0};
  const std::string path =
      Folder + "/asound-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".conf";
  if (!WriteFileText(path, Config)) throw std::runtime_error("cannot write " + path);
  if (!Installed) {
    if (const char* previous = std::getenv("ALSA_CONFIG_PATH")) Previous = previous;
  } else {
    std::remove(Path.c_str());
  }
  Path = path;
  Installed = true;
  setenv("ALSA_CONFIG_PATH", Path.c_str(), 1);
}

void TAlsaTestRoute::InstallPacedDefault(TAlsaTestRoute& route, const std::string& inputFile,
                                         TAlsaTestEnd end) {
  route.Add({.InputFile = inputFile, .Paced = true, .End = end}).Install();
}

std::string TAlsaTestRoute::PluginPath() { return KORVEL_ALSA_TEST_PLUGIN; }

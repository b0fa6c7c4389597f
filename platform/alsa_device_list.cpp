#include "alsa_device_list.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <map>
#include <set>

namespace {
std::string TakeHint(const void* hint, const char* id) {
  char* text = snd_device_name_get_hint(hint, id);
  if (!text) return {};
  std::string value(text);
  std::free(text);
  return value;
}
}  // namespace

std::vector<TAlsaCaptureDevice> SelectCaptureDevices(const std::vector<TAlsaDeviceHint>& hints) {
  std::vector<TAlsaCaptureDevice> devices;
  std::set<std::string> seen;
  for (const TAlsaDeviceHint& hint : hints) {
    if (hint.Name.empty() || hint.Name == "null") continue;
    if (!hint.Direction.empty() && hint.Direction != "Input") continue;
    if (!seen.insert(hint.Name).second) continue;
    std::string label = hint.Description.substr(0, hint.Description.find('\n'));
    if (label.empty()) label = hint.Name;
    devices.push_back({hint.Name, label});
  }
  std::map<std::string, int> uses;
  for (const TAlsaCaptureDevice& d : devices) ++uses[d.Label];
  for (TAlsaCaptureDevice& d : devices)
    if (uses[d.Label] > 1 && d.Label != d.Name) d.Label += " (" + d.Name + ")";
  return devices;
}

std::vector<TAlsaCaptureDevice> EnumerateAlsaCaptureDevices() {
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return {};
  std::vector<TAlsaDeviceHint> list;
  for (void** h = hints; *h; ++h)
    list.push_back({TakeHint(*h, "NAME"), TakeHint(*h, "DESC"), TakeHint(*h, "IOID")});
  snd_device_name_free_hint(hints);
  return SelectCaptureDevices(list);
}

#pragma once
// The capture devices the audio input offers, from ALSA's device-name hints.
#include <string>
#include <vector>

// One entry of snd_device_name_hint(-1, "pcm"): NAME, DESC and IOID as ALSA gives them
// (IOID empty means both directions).
struct TAlsaDeviceHint {
  std::string Name;
  std::string Description;
  std::string Direction;
};

struct TAlsaCaptureDevice {
  std::string Name;   // the PCM name passed to snd_pcm_open
  std::string Label;  // what the device list shows
};

// Keeps the hints that can capture (IOID empty or "Input"), in ALSA's order, dropping
// "null" (it captures silence) and repeats of a name. The label is the first line of the
// description, or the name when there is none; labels that would read the same for two
// devices (one card's several PCMs share the card's line) get the PCM name appended, so
// every entry shows which device it opens.
std::vector<TAlsaCaptureDevice> SelectCaptureDevices(const std::vector<TAlsaDeviceHint>& hints);

// Asks ALSA for the pcm hints of all cards and software devices and selects the capture
// devices. An ALSA error yields an empty list.
std::vector<TAlsaCaptureDevice> EnumerateAlsaCaptureDevices();

#pragma once
// The ALSA backend of the audio input (no toolkit: notices go to the window's sink).
#include "wavein.h"

#include <memory>

// Device numbers index ALSA's capture-capable PCMs; WAVE_MAPPER opens "default".
std::unique_ptr<IWaveIn> CreateAlsaWaveIn();

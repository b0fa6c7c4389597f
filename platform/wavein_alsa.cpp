#include "wavein.h"

std::unique_ptr<IWaveIn> CreateAlsaWaveIn() { return nullptr; }

#pragma once
// The waveform audio input of Windows (winmm), behind IWaveIn. Windows builds only.
#include <memory>

#include "wavein.h"

// Device numbers are winmm's own (waveInGetNumDevs), names from waveInGetDevCapsW;
// WAVE_MAPPER opens the system's preferred input. Open takes TWaveInWindow::Native as the
// HWND that receives MM_WIM_DATA (CALLBACK_WINDOW); a null one opens without notices.
std::unique_ptr<IWaveIn> CreateWinmmWaveIn();

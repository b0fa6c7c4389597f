#pragma once
// The per-buffer analysis: what the main window's MMWimData does with one filled capture
// buffer, without the window. Split where the window hands the buffer back to the driver:
//
//   MeasureBuffer  mean level, spectrum, strongest line, frequency   (before the re-queue)
//   Decide         level in dB, case, run counters, speed step,      (after it)
//                  label texts, history value
//
// The window and korvel-replay both call these two, so a recording replayed through the
// tool gives what the program would have done. No Qt, no I/O.
#include "uglobal.h"

#include <cstdint>
#include <span>
#include <string>

class TFastFourier;

// Frames of a capture buffer: 4 bytes each, first channel then second channel, 16-bit
// signed little-endian. Only the first channel is analysed.
constexpr int32_t kFramesPerBuffer = 8192;
constexpr int32_t kBytesPerFrame = 4;
constexpr int32_t kBufferBytes = kFramesPerBuffer * kBytesPerFrame;
constexpr int32_t kSampleRate = 44100;  // of the capture, and of every file replayed
// The sampling interval handed to BinToFrequency.
constexpr double kSampleInterval = 1.0 / kSampleRate;
// How long the threshold takes from viFloor down to viFloor2 after a start: five minutes.
constexpr uint32_t kRampMs = 5 * 60 * 1000;
constexpr double kLoudnessGateDb = 5.0;
constexpr int32_t kRunLength = 20;

struct TBufferMeasure {
  double Mean = 0.0;       // mean absolute first-channel sample, 0..32768
  int32_t Line = 0;        // first line 1..N/2-1 with the largest power; 0 if none
  double Frequency = 0.0;  // Line * kSampleRate / N Hz; 0 if none
};

// The transform as the analysis needs it: one spectrum per capture buffer
// (kFramesPerBuffer points), rectangular window. Every caller of MeasureBuffer sets its
// component up with this.
void SetUpTransform(TFastFourier& fft);

// The handler's measurement, before the re-queue: clears the imaginary parts, reads all
// N frames (N = fft.SpectrumSize(); the buffer must hold at least N * 4 bytes, else
// std::invalid_argument), feeds sample / 32768 into points 1..N, transforms with the
// component's window and takes the first line whose PowerAt equals MaxPower.
TBufferMeasure MeasureBuffer(std::span<const uint8_t> frames, TFastFourier& fft);

// The three settings the decision reads, at the moment of use.
struct TSpeedSettings {
  int32_t viSpeed = TSettingDefaults::viSpeed;  // highest speed factor, in tenths
  int32_t viMinFreq = TSettingDefaults::viMinFreq;  // detection range, Hz
  int32_t viMaxFreq = TSettingDefaults::viMaxFreq;
};

// The settings' current values, read now: the one mapping from the settings object.
TSpeedSettings SpeedSettings(const TGlobalSettings& settings);

// The window's state the speed rule carries from buffer to buffer.
struct TSpeedState {
  int32_t BelowCount = 0;
  int32_t AboveCount = 0;
  float SpeedFactor = 1.0f;
};

enum class TToneCase : char {
  Silent = 'A',      // under the loudness gate, or no calibration yet
  OutOfRange = 'B',  // loud, outside viMinFreq..viMaxFreq
  InRange = 'C',     // loud, inside the range
};

// Label colours as the window's colour values: black 0, pure red 255.
constexpr uint32_t kColorBlack = 0;
constexpr uint32_t kColorRed = 255;

struct TDecision {
  double LevelDb = 0.0;
  TToneCase Case = TToneCase::Silent;
  std::string FundamentalCaption;  // lblFundamental
  uint32_t FundamentalColor = kColorBlack;
  std::string VolumeCaption;       // lblVolume (the final text of the buffer)
  bool HistoryPush = false;
  float HistoryValue = 0.0f;
  bool ApplySpeed = false;         // the rule took a step: ApplySpeed(SpeedValue) runs
  float SpeedValue = 0.0f;
};

// The handler's decision, after the re-queue: level, case, run counters and speed step,
// captions, history value. Updates the counters in state; when the rule steps, also
// state.SpeedFactor (the window's ApplySpeed sets the same value again, shows it and
// publishes it). Speed steps are formed in extended precision and stored as float.
//
// Besides a missing calibration (ReferenceMean 0), a buffer is silent (case A) when the
// level has no finite value to compare (mean 0 against a reference) and when viMinFreq
// or viMaxFreq is not positive (the range has no logarithm). Nothing else is touched
// then, exactly as for a quiet buffer.
TDecision Decide(const TBufferMeasure& measure, const TSpeedSettings& settings,
                 int32_t Threshold, double ReferenceMean, TSpeedState& state);

// The threshold Timer2 sets: viFloor + (viFloor2 - viFloor) * elapsed div kRampMs during
// the ramp (64-bit product, quotient truncated toward zero), viFloor2 after.
// elapsedMs is the unsigned 32-bit difference of two millisecond-clock readings.
int32_t RampThreshold(uint32_t elapsedMs, int32_t viFloor, int32_t viFloor2);

// Captions. "%f" as the captions use it: two decimals, rounded half away from zero on the
// value's 18 significant digits (not C's printf, which rounds the binary value half to even).
std::string FormatFixed2(double value);
std::string SpeedCaption(float speed);            // "1.10倍速"
std::string VolumeCaption(double levelDb);        // "12.34dB"
std::string FundamentalCaption(double frequency); // "1001" (truncated toward zero)
std::string ThresholdCaption(int32_t threshold);  // "400hz"
inline constexpr const char* kSilentCaption = "(無音)";
inline constexpr const char* kNotDetectedCaption = "(未検出)";

#pragma once
// korvel-replay's engine: reads a PCM WAV recording and runs every whole buffer of 8192
// frames through the program's own per-buffer analysis (MeasureBuffer, Decide) with the
// threshold the program's one-second timer would have set, writing one CSV row a buffer.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "toneanalysis.h"

// The recording cannot be used: unreadable, malformed, truncated or in another format.
class EReplayInput : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TWavInfo {
  int Channels = 0;         // 1 or 2
  int BlockAlign = 0;       // bytes per frame
  int64_t DataOffset = 0;   // file offset of the first frame
  int64_t DataBytes = 0;    // bytes of frame data
  bool Unfinished = false;  // sizes 0 as a capture that never stopped leaves them
  int64_t Buffers() const { return DataBytes / BlockAlign / kFramesPerBuffer; }
};

// Parses the RIFF header. Accepts 16-bit PCM (format 1, or WAVE_FORMAT_EXTENSIBLE with
// the PCM subformat) at 44100 Hz with 1 or 2 channels; raises EReplayInput otherwise.
// A file whose data size is 0 while frames follow (the capture file of a killed program) is
// read up to its end and reported as Unfinished.
TWavInfo ReadWavHeader(std::FILE* file);

struct TReplayOptions {
  TSpeedSettings Speed;       // viSpeed, viMinFreq, viMaxFreq
  int32_t viFloor = TSettingDefaults::viFloor;
  int32_t viFloor2 = TSettingDefaults::viFloor2;
  int64_t CalibrateBuffer = 0;  // OK pressed after this buffer (see RunReplay for a mean of 0)
  bool Realtime = false;
};

// Threshold buffer b is judged with: that of the last whole-second tick at or before the
// buffer's completion, (b + 1) * 8192 / 44100 s. viFloor at ticks before the calibration
// buffer is complete or while the reference is 0; the ramp from viFloor to viFloor2 (as
// Timer2 computes it for that many elapsed milliseconds) at the others.
int32_t ReplayThreshold(int64_t buffer, const TReplayOptions& options, double referenceMean);

// What the analysis gave for one buffer: one CSV row, and one column of the plot.
struct TReplayRow {
  int64_t Buffer = 0;
  double TimeS = 0.0;      // the buffer's start in the file
  double Mean = 0.0;
  double LevelDb = 0.0;    // -inf for a mean of 0 against a reference
  double Frequency = 0.0;  // the strongest line, measured for silent buffers too
  TToneCase Case = TToneCase::Silent;
  bool AtOrAbove = false;  // case C at or above the threshold (the window's red label)
  int32_t Threshold = 0;
  int32_t BelowCount = 0;
  int32_t AboveCount = 0;
  float Speed = 1.0f;      // the factor after the buffer
  bool Published = false;  // the rule stepped (ApplySpeed ran)
};

// Runs the analysis over every whole buffer and writes the CSV (header included) to out,
// when out is not null; row, when set, sees every buffer's record as the CSV is written.
// The reference is the mean of buffer CalibrateBuffer or, where that is exactly 0, of the
// first later buffer whose mean is not (the program waits for one after OK).
// publish, when set, is called with the new factor wherever ApplySpeed runs.
// Raises EReplayInput when the file ends before its declared data.
void RunReplay(std::FILE* file, const TWavInfo& info, const TReplayOptions& options,
               std::FILE* out, const std::function<void(double)>& publish,
               const std::function<void(const TReplayRow&)>& row = {});

#include "toneanalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "fastfourier.h"

namespace {

inline int32_t FirstChannel(const uint8_t* frame) {
  return static_cast<int16_t>(static_cast<uint16_t>(frame[0] | frame[1] << 8));
}

// The speed steps: the float factor widened, the constant added in extended precision,
// the clamp taken there, the result rounded once to float.
float StepUp(float speed, int32_t viSpeed) {
  const long double v = static_cast<long double>(speed) + 0.1L;
  return static_cast<float>(std::min(v, static_cast<long double>(viSpeed) / 10.0L));
}

float StepDown(float speed) {
  const long double v = static_cast<long double>(speed) - 0.2L;
  return static_cast<float>(std::max(v, 1.0L));
}

double Log10(double x) { return static_cast<double>(std::log10(static_cast<long double>(x))); }

}  // namespace

void SetUpTransform(TFastFourier& fft) {
  fft.SetSpectrumSize(kFramesPerBuffer);
  fft.SetWeightingWindow(fwRectangle);
}

TSpeedSettings SpeedSettings(const TGlobalSettings& settings) {
  return {settings.viSpeed->Value, settings.viMinFreq->Value, settings.viMaxFreq->Value};
}

TBufferMeasure MeasureBuffer(std::span<const uint8_t> frames, TFastFourier& fft) {
  const int32_t n = fft.SpectrumSize();
  if (frames.size() < static_cast<size_t>(n) * kBytesPerFrame)
    throw std::invalid_argument("MeasureBuffer: the buffer holds fewer frames than the transform");
  TBufferMeasure m;
  fft.ClearImaginary();
  double sum = 0.0;
  const uint8_t* p = frames.data();
  for (int32_t i = 0; i < n; ++i, p += kBytesPerFrame) {
    const int32_t s = FirstChannel(p);
    sum += static_cast<double>(std::abs(s));
    fft.SetReal(i + 1, s / 32768.0);
  }
  m.Mean = sum / n;
  fft.Transform();
  // The first line k = 1..N/2-1 with PowerAt(k) == MaxPower, found without asking
  // every line (TFastFourier gives the same line the one-by-one search would).
  m.Line = fft.FirstLineAtMaxPower();
  if (m.Line > 0) m.Frequency = fft.BinToFrequency(m.Line, kSampleInterval);
  return m;
}

TDecision Decide(const TBufferMeasure& measure, const TSpeedSettings& settings,
                 int32_t Threshold, double ReferenceMean, TSpeedState& state) {
  TDecision d;
  const bool calibrated = ReferenceMean != 0.0;
  if (calibrated)
    d.LevelDb = static_cast<double>(
        20.0L * std::log10(static_cast<long double>(measure.Mean) / ReferenceMean));
  const bool rangeValid = settings.viMinFreq > 0 && settings.viMaxFreq > 0;

  // A level of -inf (mean 0) or NaN fails this test and counts as quiet.
  if (!calibrated || !rangeValid || !(d.LevelDb >= kLoudnessGateDb)) {
    d.Case = TToneCase::Silent;
    d.FundamentalCaption = kNotDetectedCaption;
    d.FundamentalColor = kColorBlack;
    d.VolumeCaption = kSilentCaption;
    return d;
  }
  d.VolumeCaption = VolumeCaption(d.LevelDb);

  const double logMin = Log10(settings.viMinFreq);
  const double logMax = Log10(settings.viMaxFreq);
  const double logF = Log10(measure.Frequency);  // -inf when no line was found: case B

  if (logF <= logMin || logF >= logMax || std::isnan(logF)) {
    d.Case = TToneCase::OutOfRange;
    d.FundamentalColor = kColorBlack;
    state.BelowCount = 0;
    ++state.AboveCount;
    if (state.AboveCount >= kRunLength) {
      state.AboveCount = 0;
      d.ApplySpeed = true;
      d.SpeedValue = StepDown(state.SpeedFactor);
    }
    d.FundamentalCaption = kNotDetectedCaption;
    d.HistoryPush = true;
    d.HistoryValue = 0.0f;
  } else {
    d.Case = TToneCase::InRange;
    d.FundamentalCaption = FundamentalCaption(measure.Frequency);
    d.HistoryPush = true;
    d.HistoryValue = static_cast<float>(
        1.0L - (static_cast<long double>(logF) - logMin) / (static_cast<long double>(logMax) - logMin));
    if (static_cast<double>(Threshold) > measure.Frequency) {
      d.FundamentalColor = kColorBlack;
      ++state.BelowCount;
      state.AboveCount = 0;
    } else {
      d.FundamentalColor = kColorRed;
      state.BelowCount = 0;
      ++state.AboveCount;
    }
    if (state.BelowCount >= kRunLength) {
      state.BelowCount = 0;
      d.ApplySpeed = true;
      d.SpeedValue = StepUp(state.SpeedFactor, settings.viSpeed);
    } else if (state.AboveCount >= kRunLength) {
      state.AboveCount = 0;
      d.ApplySpeed = true;
      d.SpeedValue = StepDown(state.SpeedFactor);
    }
  }
  if (d.ApplySpeed) state.SpeedFactor = d.SpeedValue;
  return d;
}

int32_t RampThreshold(uint32_t elapsedMs, int32_t viFloor, int32_t viFloor2) {
  if (elapsedMs >= kRampMs) return viFloor2;
  const int64_t span = static_cast<int64_t>(viFloor2) - viFloor;
  return static_cast<int32_t>(viFloor + span * static_cast<int64_t>(elapsedMs) / kRampMs);
}

std::string FormatFixed2(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // 18 significant digits d.ddd...e±X, then decimal rounding half away from zero.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  std::string digits;
  const char* q = buf;
  for (; *q != 'e'; ++q)
    if (*q >= '0' && *q <= '9') digits.push_back(*q);
  const int exponent = std::atoi(q + 1);
  // Number of leading digits that lie at or above the second decimal.
  const int keep = exponent + 3;
  std::string hundredths;  // |value| * 100, rounded, as decimal digits
  if (keep >= static_cast<int>(digits.size())) {
    hundredths = digits + std::string(static_cast<size_t>(keep) - digits.size(), '0');
  } else if (keep < 0) {
    hundredths = "0";
  } else {
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    hundredths = keep == 0 ? "0" : digits.substr(0, static_cast<size_t>(keep));
    if (up) {
      int i = static_cast<int>(hundredths.size()) - 1;
      for (; i >= 0 && hundredths[static_cast<size_t>(i)] == '9'; --i) hundredths[static_cast<size_t>(i)] = '0';
      if (i >= 0)
        ++hundredths[static_cast<size_t>(i)];
      else
        hundredths.insert(hundredths.begin(), '1');
    }
  }
  const size_t nz = hundredths.find_first_not_of('0');
  hundredths = nz == std::string::npos ? "" : hundredths.substr(nz);
  const bool zero = hundredths.empty();
  while (hundredths.size() < 3) hundredths.insert(hundredths.begin(), '0');
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += hundredths.substr(0, hundredths.size() - 2) + "." + hundredths.substr(hundredths.size() - 2);
  return out;
}

std::string SpeedCaption(float speed) { return FormatFixed2(speed) + "倍速"; }

std::string VolumeCaption(double levelDb) { return FormatFixed2(levelDb) + "dB"; }

std::string FundamentalCaption(double frequency) {
  return std::to_string(static_cast<long long>(std::trunc(frequency)));
}

std::string ThresholdCaption(int32_t threshold) { return std::to_string(threshold) + "hz"; }

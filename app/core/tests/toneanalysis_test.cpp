#include "toneanalysis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fastfourier.h"
#include "test_signals.h"

namespace {

// One capture buffer: `first` on the first channel, something else on the second (which
// must not count).
std::vector<uint8_t> Buffer(const std::function<int16_t(uint32_t)>& first, int16_t second = 12345) {
  std::vector<uint8_t> b(kBufferBytes);
  for (uint32_t p = 0; p < uint32_t(kFramesPerBuffer); ++p) {
    const int16_t s = first(p);
    std::memcpy(&b[4 * size_t(p)], &s, 2);
    std::memcpy(&b[4 * size_t(p) + 2], &second, 2);
  }
  return b;
}

TFastFourier ProgramFFT() {
  TFastFourier fft("FFT1");
  fft.SetSpectrumSize(kFramesPerBuffer);
  fft.SetWeightingWindow(fwRectangle);
  return fft;
}

constexpr double kReference = 5.0;  // a quiet room's mean, in sample units
const TSpeedSettings kDefaults{30, 20, 3000};

// A loud measurement at a frequency, as MeasureBuffer would give it.
TBufferMeasure Loud(double hz) { return TBufferMeasure{5000.0, 1, hz}; }
TBufferMeasure Quiet() { return TBufferMeasure{5.0, 1, 1001.0}; }

}  // namespace

TEST(MeasureBuffer, ThousandHertzToneIsLine186AndRedAtTheDefaultThreshold) {
  TFastFourier fft = ProgramFFT();
  const TBufferMeasure m = MeasureBuffer(Buffer(Tone(1000)), fft);
  EXPECT_EQ(m.Line, 186);
  EXPECT_NEAR(m.Frequency, 186 * 44100.0 / 8192, 1e-9);
  EXPECT_NEAR(m.Mean, 10000 * 2 / M_PI, 10.0);

  TSpeedState state{3, 7, 1.0f};
  const TDecision d = Decide(m, kDefaults, 400, kReference, state);
  EXPECT_EQ(d.Case, TToneCase::InRange);
  EXPECT_EQ(d.FundamentalCaption, "1001");
  EXPECT_EQ(d.FundamentalColor, kColorRed);
  EXPECT_EQ(state.AboveCount, 8);
  EXPECT_EQ(state.BelowCount, 0);
  EXPECT_EQ(d.VolumeCaption, VolumeCaption(d.LevelDb));
  EXPECT_NEAR(d.LevelDb, 20 * std::log10(m.Mean / kReference), 1e-9);
  EXPECT_TRUE(d.HistoryPush);
  const double expected = 1 - (std::log10(m.Frequency) - std::log10(20.0)) / (std::log10(3000.0) - std::log10(20.0));
  EXPECT_NEAR(d.HistoryValue, expected, 1e-6);
  EXPECT_FALSE(d.ApplySpeed);
}

TEST(MeasureBuffer, MeanReadsOnlyTheFirstChannelIncludingItsMostNegativeValue) {
  TFastFourier fft = ProgramFFT();
  EXPECT_EQ(MeasureBuffer(Buffer([](uint32_t) { return int16_t(-32768); }, 0), fft).Mean, 32768.0);
  EXPECT_EQ(MeasureBuffer(Buffer(Tone(0, 0), -32768), fft).Mean, 0.0);
  std::vector<uint8_t> shortBuffer(kBufferBytes - 4);
  EXPECT_THROW(MeasureBuffer(shortBuffer, fft), std::invalid_argument);
}

TEST(SpeedRule, TwentyBuffersBelowTheThresholdRaiseTheSpeedOnce) {
  TFastFourier fft = ProgramFFT();
  const TBufferMeasure m = MeasureBuffer(Buffer(Tone(300, 8000)), fft);
  EXPECT_EQ(m.Line, 56);
  TSpeedState state;
  for (int i = 1; i <= 20; ++i) {
    const TDecision d = Decide(m, kDefaults, 400, kReference, state);
    EXPECT_EQ(d.FundamentalCaption, "301");
    EXPECT_EQ(d.FundamentalColor, kColorBlack);
    EXPECT_EQ(d.ApplySpeed, i == 20) << i;
    if (i == 20) {
      EXPECT_EQ(SpeedCaption(d.SpeedValue), "1.10倍速");
    }
  }
  EXPECT_EQ(state.SpeedFactor, 1.10000002384185791015625f);
  EXPECT_EQ(double(state.SpeedFactor), 1.10000002384185791015625);
  EXPECT_EQ(state.BelowCount, 0);
}

TEST(SpeedRule, StepsClampAndStillPublish) {
  TSpeedState top{19, 0, 3.0f};
  TDecision d = Decide(Loud(300), kDefaults, 400, kReference, top);
  ASSERT_TRUE(d.ApplySpeed);
  EXPECT_EQ(d.SpeedValue, 3.0f);

  TSpeedState bottom{0, 19, 1.0f};
  d = Decide(Loud(1000), kDefaults, 400, kReference, bottom);
  ASSERT_TRUE(d.ApplySpeed);
  EXPECT_EQ(d.SpeedValue, 1.0f);

  // Up three times from 1.0 gives the float nearest 1.3; down from there gives 1.1, then 1.0.
  TSpeedState s;
  for (int step = 0; step < 3; ++step) {
    s.BelowCount = 19;
    Decide(Loud(300), kDefaults, 400, kReference, s);
  }
  EXPECT_EQ(SpeedCaption(s.SpeedFactor), "1.30倍速");
  s.AboveCount = 19;
  Decide(Loud(1000), kDefaults, 400, kReference, s);
  EXPECT_EQ(SpeedCaption(s.SpeedFactor), "1.10倍速");
  EXPECT_GT(s.SpeedFactor, 1.05f);
  s.AboveCount = 19;
  Decide(Loud(1000), kDefaults, 400, kReference, s);
  EXPECT_EQ(s.SpeedFactor, 1.0f);

  // The upper limit follows viSpeed.
  TSpeedState capped{19, 0, 1.45f};
  d = Decide(Loud(300), TSpeedSettings{15, 20, 3000}, 400, kReference, capped);
  EXPECT_EQ(d.SpeedValue, 1.5f);
}

TEST(SpeedRule, SilenceNeitherContinuesNorBreaksARun) {
  TSpeedState s;
  for (int i = 0; i < 19; ++i) Decide(Loud(300), kDefaults, 400, kReference, s);
  for (int i = 0; i < 7; ++i) {
    const TDecision d = Decide(Quiet(), kDefaults, 400, kReference, s);
    EXPECT_EQ(d.Case, TToneCase::Silent);
    EXPECT_EQ(d.VolumeCaption, "(無音)");
    EXPECT_EQ(d.FundamentalCaption, "(未検出)");
    EXPECT_FALSE(d.HistoryPush);
  }
  EXPECT_EQ(s.BelowCount, 19);
  EXPECT_TRUE(Decide(Loud(300), kDefaults, 400, kReference, s).ApplySpeed);
}

TEST(SpeedRule, OutOfRangeBreaksAnUpRunAndCountsTowardADownStep) {
  TSpeedState s{0, 0, 1.5f};
  for (int i = 0; i < 19; ++i) Decide(Loud(300), kDefaults, 400, kReference, s);
  TDecision d = Decide(Loud(5000), kDefaults, 400, kReference, s);
  EXPECT_EQ(d.Case, TToneCase::OutOfRange);
  EXPECT_EQ(d.FundamentalCaption, "(未検出)");
  EXPECT_EQ(d.FundamentalColor, kColorBlack);
  EXPECT_TRUE(d.HistoryPush);
  EXPECT_EQ(d.HistoryValue, 0.0f);
  EXPECT_EQ(s.BelowCount, 0);
  EXPECT_EQ(s.AboveCount, 1);
  // Below viMinFreq, at viMaxFreq, and in range at/above the threshold all count down.
  for (int i = 0; i < 18; ++i) Decide(Loud(i % 3 == 0 ? 10.0 : i % 3 == 1 ? 3000.0 : 400.0), kDefaults, 400, kReference, s);
  EXPECT_EQ(s.AboveCount, 19);
  d = Decide(Loud(15), kDefaults, 400, kReference, s);
  ASSERT_TRUE(d.ApplySpeed);
  EXPECT_EQ(SpeedCaption(d.SpeedValue), "1.30倍速");
  EXPECT_EQ(s.AboveCount, 0);
}

TEST(SpeedRule, UncalibratedSilentMeanAndMeaninglessLimitsAreCaseA) {
  TSpeedState s{4, 0, 1.0f};
  TDecision d = Decide(Loud(300), kDefaults, 400, 0.0, s);
  EXPECT_EQ(d.Case, TToneCase::Silent);
  EXPECT_EQ(d.LevelDb, 0.0);
  // A mean of exactly 0 against a reference has no finite level: quiet, not a fault.
  d = Decide(TBufferMeasure{0.0, 56, 301.0}, kDefaults, 400, kReference, s);
  EXPECT_EQ(d.Case, TToneCase::Silent);
  EXPECT_EQ(d.VolumeCaption, "(無音)");
  for (TSpeedSettings bad : {TSpeedSettings{30, 0, 3000}, TSpeedSettings{30, -20, 3000},
                             TSpeedSettings{30, 20, 0}, TSpeedSettings{30, 20, -1}}) {
    d = Decide(Loud(300), bad, 400, kReference, s);
    EXPECT_EQ(d.Case, TToneCase::Silent);
    EXPECT_FALSE(d.HistoryPush);
  }
  EXPECT_EQ(s.BelowCount, 4);  // nothing counted
  // An empty range (min >= max) classifies every loud buffer as outside it.
  d = Decide(Loud(300), TSpeedSettings{30, 500, 100}, 400, kReference, s);
  EXPECT_EQ(d.Case, TToneCase::OutOfRange);
  // Just under the loudness gate is still quiet; at it, loud.
  d = Decide(TBufferMeasure{kReference * std::pow(10.0, 4.999 / 20), 56, 301.0}, kDefaults, 400, kReference, s);
  EXPECT_EQ(d.Case, TToneCase::Silent);
  d = Decide(TBufferMeasure{kReference * std::pow(10.0, 5.001 / 20), 56, 301.0}, kDefaults, 400, kReference, s);
  EXPECT_EQ(d.Case, TToneCase::InRange);
}

TEST(Threshold, RampsFromFloorToFloor2OverFiveMinutes) {
  EXPECT_EQ(RampThreshold(0, 400, 200), 400);
  EXPECT_EQ(RampThreshold(1, 400, 200), 400);         // truncation toward zero
  EXPECT_EQ(RampThreshold(1500, 400, 200), 399);
  EXPECT_EQ(RampThreshold(150000, 400, 200), 300);
  EXPECT_EQ(RampThreshold(299999, 400, 200), 201);
  EXPECT_EQ(RampThreshold(300000, 400, 200), 200);
  EXPECT_EQ(RampThreshold(0xFFFFFFFFu, 400, 200), 200);
  EXPECT_EQ(RampThreshold(150000, 200, 400), 300);      // rising ramp
  EXPECT_EQ(RampThreshold(299999, -2000000000, 2000000000), 1999986666);  // no 32-bit overflow
  EXPECT_EQ(ThresholdCaption(399), "399hz");
}

TEST(Captions, TwoDecimalsRoundHalfAwayFromZero) {
  EXPECT_EQ(FormatFixed2(1.1f), "1.10");
  EXPECT_EQ(FormatFixed2(12.344), "12.34");
  EXPECT_EQ(FormatFixed2(0.125), "0.13");    // an exact tie rounds away from zero
  EXPECT_EQ(FormatFixed2(-0.125), "-0.13");
  EXPECT_EQ(FormatFixed2(2.675), "2.67");    // the double lies just below 2.675
  EXPECT_EQ(FormatFixed2(9.999), "10.00");
  EXPECT_EQ(FormatFixed2(-3.5), "-3.50");
  EXPECT_EQ(FormatFixed2(-0.001), "0.00");
  EXPECT_EQ(FormatFixed2(0.0), "0.00");
  EXPECT_EQ(FormatFixed2(0.005), "0.01");
  EXPECT_EQ(FormatFixed2(0.004), "0.00");
  EXPECT_EQ(FormatFixed2(1234567.891), "1234567.89");
  EXPECT_EQ(FormatFixed2(-INFINITY), "-INF");
  EXPECT_EQ(VolumeCaption(12.34), "12.34dB");
  EXPECT_EQ(VolumeCaption(-3.5), "-3.50dB");
  EXPECT_EQ(SpeedCaption(3.0f), "3.00倍速");
  EXPECT_EQ(FundamentalCaption(1001.33), "1001");
  EXPECT_EQ(FundamentalCaption(301.46), "301");
}

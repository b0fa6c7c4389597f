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

// The measurement with the program's transform.
TBufferMeasure Measure(std::span<const uint8_t> buffer) {
  TFastFourier fft("FFT1");
  SetUpTransform(fft);
  return MeasureBuffer(buffer, fft);
}

constexpr double kReference = 5.0;  // a quiet room's mean, in sample units
const TSpeedSettings kDefaults{30, 20, 3000};

// A loud measurement at a frequency, as MeasureBuffer would give it.
TBufferMeasure Loud(double hz) { return TBufferMeasure{5000.0, 1, hz}; }

// The decision at threshold 400 (lines below it count up, at or above it down).
TDecision DecideAt(const TBufferMeasure& m, TSpeedState& state,
                   const TSpeedSettings& settings = kDefaults, double reference = kReference) {
  return Decide(m, settings, 400, reference, state);
}

// The 20th buffer of a run at `hz`: the rule steps, and gives the new speed.
float Step(TSpeedState& state, double hz, int32_t viSpeed = 30) {
  (hz < 400 ? state.BelowCount : state.AboveCount) = 19;
  const TDecision d = DecideAt(Loud(hz), state, TSpeedSettings{viSpeed, 20, 3000});
  EXPECT_TRUE(d.ApplySpeed) << hz;
  return d.SpeedValue;
}

// What the window shows of a decision: the case, both captions, the colour, a history push.
auto Shown(const TDecision& d) {
  return std::tuple(d.Case, d.VolumeCaption, d.FundamentalCaption, d.FundamentalColor,
                    d.HistoryPush);
}

// Case A: the quiet captions, nothing for the history.
void ExpectSilent(const TDecision& d) {
  EXPECT_EQ(Shown(d), std::tuple(TToneCase::Silent, "(無音)", "(未検出)", kColorBlack, false));
}

}  // namespace

TEST(MeasureBuffer, ThousandHertzToneIsLine186AndRedAtTheDefaultThreshold) {
  const TBufferMeasure m = Measure(Buffer(Tone(1000)));
  EXPECT_EQ(m.Line, 186);
  EXPECT_NEAR(m.Frequency, 186 * 44100.0 / 8192, 1e-9);
  EXPECT_NEAR(m.Mean, 10000 * 2 / M_PI, 10.0);

  TSpeedState state{3, 7, 1.0f};
  const TDecision d = DecideAt(m, state);
  EXPECT_EQ(Shown(d),
            std::tuple(TToneCase::InRange, VolumeCaption(d.LevelDb), "1001", kColorRed, true));
  EXPECT_EQ(std::pair(state.AboveCount, state.BelowCount), std::pair(8, 0));
  EXPECT_NEAR(d.LevelDb, 20 * std::log10(m.Mean / kReference), 1e-9);
  const double decades = std::log10(3000.0) - std::log10(20.0);
  EXPECT_NEAR(d.HistoryValue, 1 - (std::log10(m.Frequency) - std::log10(20.0)) / decades, 1e-6);
  EXPECT_FALSE(d.ApplySpeed);
}

TEST(MeasureBuffer, MeanReadsOnlyTheFirstChannelIncludingItsMostNegativeValue) {
  EXPECT_EQ(Measure(Buffer([](uint32_t) { return int16_t(-32768); }, 0)).Mean, 32768.0);
  EXPECT_EQ(Measure(Buffer(Tone(0, 0), -32768)).Mean, 0.0);
  EXPECT_THROW(Measure(std::vector<uint8_t>(kBufferBytes - 4)), std::invalid_argument);
}

TEST(SpeedRule, TwentyBuffersBelowTheThresholdRaiseTheSpeedOnce) {
  const TBufferMeasure m = Measure(Buffer(Tone(300, 8000)));
  EXPECT_EQ(m.Line, 56);
  TSpeedState state;
  for (int i = 1; i <= 20; ++i) {
    const TDecision d = DecideAt(m, state);
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
  TSpeedState top{0, 0, 3.0f}, bottom{0, 0, 1.0f}, capped{0, 0, 1.45f};
  EXPECT_EQ(Step(top, 300), 3.0f);
  EXPECT_EQ(Step(bottom, 1000), 1.0f);
  EXPECT_EQ(Step(capped, 300, 15), 1.5f);  // the upper limit follows viSpeed

  // Up three times from 1.0 gives the float nearest 1.3; down from there gives 1.1, then 1.0.
  TSpeedState s;
  for (int step = 0; step < 3; ++step) Step(s, 300);
  EXPECT_EQ(SpeedCaption(s.SpeedFactor), "1.30倍速");
  Step(s, 1000);
  EXPECT_EQ(SpeedCaption(s.SpeedFactor), "1.10倍速");
  EXPECT_GT(s.SpeedFactor, 1.05f);
  Step(s, 1000);
  EXPECT_EQ(s.SpeedFactor, 1.0f);
}

TEST(SpeedRule, SilenceNeitherContinuesNorBreaksARun) {
  TSpeedState s;
  for (int i = 0; i < 19; ++i) DecideAt(Loud(300), s);
  for (int i = 0; i < 7; ++i) ExpectSilent(DecideAt(TBufferMeasure{kReference, 1, 1001.0}, s));
  EXPECT_EQ(s.BelowCount, 19);
  EXPECT_TRUE(DecideAt(Loud(300), s).ApplySpeed);
}

TEST(SpeedRule, OutOfRangeBreaksAnUpRunAndCountsTowardADownStep) {
  TSpeedState s{0, 0, 1.5f};
  for (int i = 0; i < 19; ++i) DecideAt(Loud(300), s);
  TDecision d = DecideAt(Loud(5000), s);
  EXPECT_EQ(Shown(d), std::tuple(TToneCase::OutOfRange, VolumeCaption(d.LevelDb), "(未検出)",
                                 kColorBlack, true));
  EXPECT_EQ(d.HistoryValue, 0.0f);
  EXPECT_EQ(std::pair(s.BelowCount, s.AboveCount), std::pair(0, 1));
  // Below viMinFreq, at viMaxFreq, and in range at/above the threshold all count down.
  const double kDown[] = {10.0, 3000.0, 400.0};
  for (int i = 0; i < 18; ++i) DecideAt(Loud(kDown[i % 3]), s);
  EXPECT_EQ(s.AboveCount, 19);
  d = DecideAt(Loud(15), s);
  ASSERT_TRUE(d.ApplySpeed);
  EXPECT_EQ(SpeedCaption(d.SpeedValue), "1.30倍速");
  EXPECT_EQ(s.AboveCount, 0);
}

TEST(SpeedRule, UncalibratedSilentMeanAndMeaninglessLimitsAreCaseA) {
  TSpeedState s{4, 0, 1.0f};
  TDecision d = DecideAt(Loud(300), s, kDefaults, 0.0);
  ExpectSilent(d);
  EXPECT_EQ(d.LevelDb, 0.0);
  // A mean of exactly 0 against a reference has no finite level: quiet, not a fault.
  ExpectSilent(DecideAt(TBufferMeasure{0.0, 56, 301.0}, s));
  for (TSpeedSettings bad : {TSpeedSettings{30, 0, 3000}, TSpeedSettings{30, -20, 3000},
                             TSpeedSettings{30, 20, 0}, TSpeedSettings{30, 20, -1}})
    ExpectSilent(DecideAt(Loud(300), s, bad));
  EXPECT_EQ(s.BelowCount, 4);  // nothing counted
  // An empty range (min >= max) classifies every loud buffer as outside it.
  EXPECT_EQ(DecideAt(Loud(300), s, TSpeedSettings{30, 500, 100}).Case, TToneCase::OutOfRange);
  // Just under the loudness gate is still quiet; at it, loud.
  auto atDb = [](double db) {
    return TBufferMeasure{kReference * std::pow(10.0, db / 20), 56, 301.0};
  };
  ExpectSilent(DecideAt(atDb(4.999), s));
  EXPECT_EQ(DecideAt(atDb(5.001), s).Case, TToneCase::InRange);
}

TEST(Threshold, RampsFromFloorToFloor2OverFiveMinutes) {
  EXPECT_EQ(RampThreshold(0, 400, 200), 400);
  EXPECT_EQ(RampThreshold(1, 400, 200), 400);  // truncation toward zero
  EXPECT_EQ(RampThreshold(1500, 400, 200), 399);
  EXPECT_EQ(RampThreshold(150000, 400, 200), 300);
  EXPECT_EQ(RampThreshold(299999, 400, 200), 201);
  EXPECT_EQ(RampThreshold(300000, 400, 200), 200);
  EXPECT_EQ(RampThreshold(0xFFFFFFFFu, 400, 200), 200);
  EXPECT_EQ(RampThreshold(150000, 200, 400), 300);  // rising ramp
  EXPECT_EQ(RampThreshold(299999, -2000000000, 2000000000), 1999986666);  // no 32-bit overflow
  EXPECT_EQ(ThresholdCaption(399), "399hz");
}

TEST(Captions, TwoDecimalsRoundHalfAwayFromZero) {
  // 0.125 is an exact tie and rounds away from zero; the double nearest 2.675 lies below it.
  const std::pair<double, const char*> kFixed2[] = {
      {1.1f, "1.10"},     {12.344, "12.34"}, {0.125, "0.13"}, {-0.125, "-0.13"},
      {2.675, "2.67"},    {9.999, "10.00"},  {-3.5, "-3.50"}, {-0.001, "0.00"},
      {0.0, "0.00"},      {0.005, "0.01"},   {0.004, "0.00"}, {1234567.891, "1234567.89"},
      {-INFINITY, "-INF"}};
  for (const auto& [value, text] : kFixed2) EXPECT_EQ(FormatFixed2(value), text) << value;
  EXPECT_EQ(VolumeCaption(12.34), "12.34dB");
  EXPECT_EQ(VolumeCaption(-3.5), "-3.50dB");
  EXPECT_EQ(SpeedCaption(3.0f), "3.00倍速");
  EXPECT_EQ(FundamentalCaption(1001.33), "1001");
  EXPECT_EQ(FundamentalCaption(301.46), "301");
}

#include "fastfourier.h"
#include "test_signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <tuple>
#include <type_traits>

#include "literal_fourier.h"

namespace {

constexpr TFastFourierWgtWin kAllWindows[] = {fwRectangle,  fwTriangle,    fwCos2,
                                              fwGauss,      fwHamming,     fwBlackman,
                                              fwBlkmHarris, fwBlkmNuttall, fwUserDef};

bool SameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Index of the first value whose bits differ, or -1.
long FirstDifference(std::span<const double> a, const std::vector<double>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameBits(a[i], b[i])) return long(i);
  return -1;
}

// Fills both with the same random complex points and, for fwUserDef, user weights.
void FillRandom(TFastFourier& fft, TLiteralFourier& lit, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> v(-1.0, 1.0);
  for (int32_t i = 1; i <= lit.N; ++i) {
    const double re = v(rng), im = v(rng), w = v(rng);
    fft.SetReal(i, re);
    fft.SetImaginary(i, im);
    fft.SetUserWeight(i, w);
    lit.Data[2 * size_t(i - 1)] = re;
    lit.Data[2 * size_t(i - 1) + 1] = im;
    lit.UserWindow[size_t(i - 1)] = w;
  }
}

// The search the analysis is defined by: the first line 1..N/2-1 with PowerAt == MaxPower.
int32_t SearchLineByLine(TFastFourier& fft) {
  const double max = fft.MaxPower();
  for (int32_t k = 1; k <= fft.SpectrumSize() / 2 - 1; ++k)
    if (fft.PowerAt(k) == max) return k;
  return 0;
}

// The message of the error a size raises; "accepted" when it raises none.
std::string Refusal(TFastFourier& fft, int32_t size) {
  try {
    fft.SetSpectrumSize(size);
  } catch (const EKetraFourierError& e) {
    return e.what();
  }
  return "accepted";
}

// Weight the window gives the 0-based point p: a unit impulse there leaves its weight
// in line 0 (the butterflies only add zeros to it).
double WeightOf(TFastFourierWgtWin kind, int32_t n, int32_t p) {
  TFastFourier fft;
  fft.SetSpectrumSize(n);
  fft.SetWeightingWindow(kind);
  fft.SetReal(p + 1, 1.0);
  fft.Transform();
  return fft.Data()[0];
}

}  // namespace

// The fallback for when the tables cannot be allocated, reached directly.
struct TFastFourierPlainPath {
  static void Run(TFastFourier& fft, int direction) { fft.ComputeFFTPlain(direction); }
};

TEST(FastFourierExactness, EveryLevelWindowAndSizeMatchesTheLiteralAlgorithm) {
  std::mt19937_64 rng(20261208);
  for (TKernelLevel level : UsableKernelLevels()) {
    for (int32_t n : {1, 2, 4, 8, 16, 32, 64, 128, 256, 1024, 8192, 65536}) {
      for (TFastFourierWgtWin kind : kAllWindows) {
        TFastFourier fft("FFT1");
        fft.SetKernelLevel(level);
        fft.SetSpectrumSize(n);
        fft.SetWeightingWindow(kind);
        TLiteralFourier lit(n);
        lit.Kind = kind;
        // Two rounds: the second reuses the cached tables of the first.
        for (int round = 0; round < 2; ++round) {
          FillRandom(fft, lit, rng);
          fft.Transform();
          lit.Transform();
          const long at = FirstDifference(fft.Data(), lit.Data);
          ASSERT_EQ(at, -1) << "level " << KernelLevelName(level) << " N " << n << " window "
                            << int(kind) << " round " << round << " value " << at;
          ASSERT_TRUE(SameBits(fft.MaxPower(), lit.MaxPower())) << "N " << n;
          for (int32_t k = 0; k <= n / 2; ++k)
            ASSERT_TRUE(SameBits(fft.PowerAt(k), lit.PowerAt(k))) << "N " << n << " line " << k;
        }
      }
      // Both directions (the inverse with its own twiddles), through the kernels and through
      // the fallback without tables.
      TFastFourier fft;
      fft.SetKernelLevel(level);
      fft.SetSpectrumSize(n);
      TLiteralFourier lit(n);
      for (bool plain : {false, true})
        for (int direction : {1, -1}) {
          FillRandom(fft, lit, rng);
          plain ? TFastFourierPlainPath::Run(fft, direction) : fft.ComputeFFT(direction);
          lit.ComputeFFT(direction);
          ASSERT_EQ(FirstDifference(fft.Data(), lit.Data), -1)
              << "level " << KernelLevelName(level) << " N " << n << " plain " << plain
              << " direction " << direction;
        }
    }
  }
}

TEST(FastFourierExactness, FirstLineAtMaxPowerEqualsTheLineByLineSearch) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  const auto noise = [&](int32_t) { return sample(rng) / 32768.0; };
  TFastFourier fft("FFT1");
  fft.SetSpectrumSize(8192);
  // Transforms x and compares the two searches; gives the line found.
  auto agree = [&](const std::function<double(int32_t)>& x, const std::string& name) {
    fft.ClearImaginary();
    for (int32_t i = 1; i <= fft.SpectrumSize(); ++i) fft.SetReal(i, x(i - 1));
    fft.Transform();
    const int32_t k = fft.FirstLineAtMaxPower();
    EXPECT_EQ(k, SearchLineByLine(fft)) << name;
    return k;
  };
  // Program-like input: random 16-bit samples, and tones of a few frequencies.
  for (int trial = 0; trial < 10; ++trial) EXPECT_GT(agree(noise, "noise"), 0);
  for (double hz : {50.0, 300.0, 1000.0, 2999.0, 15000.0})
    agree([&](int32_t p) { return ToneSample(hz, 9000, p) / 32768.0; }, std::to_string(hz));
  // Ties: an impulse has the same power on every line; two equal cosines tie too.
  EXPECT_EQ(agree([](int32_t p) { return p == 0 ? 1.0 : 0.0; }, "impulse"), 1);
  const auto cosines = [](int32_t p) {
    return std::cos(2 * M_PI * 40 * p / 8192.0) + std::cos(2 * M_PI * 700 * p / 8192.0);
  };
  agree(cosines, "two cosines");
  // Magnitudes outside the screen's range take the plain scan and still agree.
  for (double scale : {0.0, 1e-160, 1e-300, 1e150, 1e300})
    agree([&](int32_t p) { return scale * noise(p); }, std::to_string(scale));
  agree([&](int32_t p) { return p == 5 ? NAN : noise(p); }, "NaN");
  // Small sizes: no line at all below N/2 for N <= 2.
  for (int32_t n : {1, 2, 4, 16}) {
    fft.SetSpectrumSize(n);
    agree(noise, "N " + std::to_string(n));
  }
}

TEST(FastFourierSize, RefusedSizesRaiseAndChangeNothing) {
  static_assert(std::is_base_of_v<EKetraError, EKetraFourierError>);
  static_assert(std::is_base_of_v<std::exception, EKetraError>);
  TFastFourier fft("FFT1");
  fft.SetSpectrumSize(64);
  fft.SetReal(3, 0.25);
  fft.SetUserWeight(5, 0.5);
  for (int32_t bad : {1000, 0, -1, 3, 16777216, INT_MIN, INT_MAX, -8192})
    EXPECT_EQ(Refusal(fft, bad), "Component \"FFT1\": data length must be power of 2") << bad;
  EXPECT_EQ(std::tuple(fft.SpectrumSize(), fft.Data().size(), fft.Data()[4], fft.UserWeight(5)),
            std::tuple(64, size_t(128), 0.25, 0.5));

  TFastFourier other("Spec2");
  EXPECT_EQ(Refusal(other, 12), "Component \"Spec2\": data length must be power of 2");
}

TEST(FastFourierSize, AcceptedSizesClearDataAndUserWindow) {
  TFastFourier fft("FFT1");
  EXPECT_EQ(
      std::tuple(fft.SpectrumSize(), fft.WeightingWindow(), fft.UserWeight(1), fft.UserWeight(256)),
      std::tuple(256, fwRectangle, 1.0, 1.0));
  for (int32_t n : {1, 2, 8192, 8388608}) {
    fft.SetReal(1, 3.0);
    fft.SetSpectrumSize(n);
    ASSERT_EQ(fft.Data().size(), 2 * size_t(n));
    EXPECT_EQ(std::tuple(fft.SpectrumSize(), fft.Data()[0], fft.UserWeight(1), fft.UserWeight(n)),
              std::tuple(n, 0.0, 0.0, 0.0));
  }
  // Zero user weights after a resize: fwUserDef gives an all-zero spectrum.
  fft.SetSpectrumSize(64);
  fft.SetWeightingWindow(fwUserDef);
  for (int32_t i = 1; i <= 64; ++i) fft.SetReal(i, 1.0);
  fft.Transform();
  for (double v : fft.Data()) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(fft.MaxPower(), 0.0);
}

TEST(FastFourierSpectrum, CosineOfEightPeriodsOverSixtyFourPoints) {
  TFastFourier fft, fresh;
  for (TFastFourier* f : {&fft, &fresh}) {
    f->SetSpectrumSize(64);
    for (int32_t i = 1; i <= 64; ++i) f->SetReal(i, std::cos(2 * M_PI * 8 * (i - 1) / 64.0));
    f->Transform();
  }
  EXPECT_EQ(fft.MaxPower(), fft.PowerAt(8));
  for (int32_t k = 1; k <= 31; ++k)
    EXPECT_NEAR(fft.PowerAt(k), k == 8 ? 32.0 : 0.0, k == 8 ? 1e-9 : 1e-20) << k;
  EXPECT_EQ(fft.PowerAt(56), 0.0);
  EXPECT_EQ(fft.PowerAt(-1), 0.0);
  // The power query does not depend on whether the statistics were computed.
  for (int32_t k = 0; k <= 32; ++k) EXPECT_TRUE(SameBits(fresh.PowerAt(k), fft.PowerAt(k)));
}

TEST(FastFourierSpectrum, AllZeroInputAndOutOfRangeArguments) {
  TFastFourier fft;
  fft.SetSpectrumSize(8192);
  fft.SetReal(0, 5.0);  // ignored
  fft.SetReal(8193, 5.0);  // ignored
  fft.Transform();
  EXPECT_EQ(fft.MaxPower(), 0.0);
  EXPECT_EQ(fft.MaxPower(), fft.PowerAt(1));
  EXPECT_EQ(fft.BinToFrequency(0, 1 / 44100.0), 0.0);
  EXPECT_EQ(fft.BinToFrequency(4097, 1 / 44100.0), 0.0);
  EXPECT_NEAR(fft.BinToFrequency(1, 1 / 44100.0), 44100.0 / 8192, 1e-12);
  EXPECT_NEAR(fft.BinToFrequency(186, 1 / 44100.0), 1001.3, 0.05);
}

TEST(FastFourierSpectrum, StatisticsFollowEveryChangeOfTheData) {
  TFastFourier fft;
  fft.SetSpectrumSize(16);
  fft.SetReal(2, 1.0);
  fft.Transform();
  const double first = fft.MaxPower();
  EXPECT_GT(first, 0.0);
  EXPECT_EQ(first, 0.125);  // |X_k| = 1 on every line: (1 + 1) / 16
  for (int32_t i = 1; i <= 16; ++i) fft.SetReal(i, 0.0);
  EXPECT_GT(fft.MaxPower(), 0.0);  // the imaginary parts are still there
  fft.ClearImaginary();
  EXPECT_EQ(fft.MaxPower(), 0.0);
  fft.SetReal(3, 2.0);
  fft.Transform();
  EXPECT_EQ(fft.MaxPower(), 4 * first);
}

TEST(FastFourierWindows, TriangleHammingAndGaussWeights) {
  const double kTriangle4[] = {0.5, 1.0, 1.0, 0.5};
  for (int32_t p = 0; p < 4; ++p) EXPECT_EQ(WeightOf(fwTriangle, 4, p), kTriangle4[p]) << p;
  EXPECT_EQ(WeightOf(fwTriangle, 1, 0), 1.0);  // N div 2 = 0: nothing is weighted
  EXPECT_NEAR(WeightOf(fwHamming, 64, 31), 1.0, 1e-9);  // i = N/2
  EXPECT_NEAR(WeightOf(fwHamming, 64, 63), 0.086956522, 1e-9);  // i = N: x = 1/2
  EXPECT_NEAR(WeightOf(fwGauss, 64, 31), 1.0, 1e-15);
  EXPECT_NEAR(WeightOf(fwGauss, 64, 63), std::exp(-0.5 * 9.0), 1e-12);
  EXPECT_NEAR(WeightOf(fwCos2, 64, 63), 0.0, 1e-15);
  EXPECT_NEAR(WeightOf(fwBlackman, 64, 31), 1.0, 1e-5);
  // Changing the kind after a transform takes effect on the next one.
  TFastFourier fft;
  fft.SetSpectrumSize(4);
  fft.SetWeightingWindow(fwTriangle);
  fft.SetReal(1, 1.0);
  fft.Transform();
  fft.SetWeightingWindow(fwRectangle);
  fft.ClearImaginary();
  for (int32_t i = 1; i <= 4; ++i) fft.SetReal(i, i == 1 ? 1.0 : 0.0);
  fft.Transform();
  EXPECT_EQ(fft.Data()[0], 1.0);
}

TEST(FastFourierLevels, UnavailableLevelIsRefused) {
  TFastFourier fft;
  const auto levels = UsableKernelLevels();
  ASSERT_FALSE(levels.empty());
  EXPECT_EQ(levels.front(), TKernelLevel::Ref);
  // The highest level unless KORVEL_KERNEL_LEVEL caps it.
  EXPECT_EQ(fft.KernelLevel(), ActiveKernelLevel());
  for (TKernelLevel l : {TKernelLevel::Ref, TKernelLevel::SSE2, TKernelLevel::AVX2}) {
    if (std::ranges::find(levels, l) != levels.end())
      EXPECT_NO_THROW(fft.SetKernelLevel(l));
    else
      EXPECT_THROW(fft.SetKernelLevel(l), EKetraError);
  }
}

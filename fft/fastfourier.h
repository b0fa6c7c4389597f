#pragma once
// TFastFourier: N complex points, a weighting window, an in-place radix-2 transform
// (decimation in time) and queries on the resulting spectrum.
//
// Results are defined bit for bit by the plain algorithm: bit reversal, then for every
// span L = 1, 2, ..., N/2 the butterflies in the order m = 0..L-1, groups g = m, m+2L, ...
// with the twiddle factor advanced by the trigonometric recurrence after each m. This
// implementation precomputes the twiddles of each span with that very recurrence and runs
// the butterflies of a span group by group (they touch disjoint points, so the order is
// free) with SIMD kernels doing the same IEEE double operations as the scalar code. The
// bit reversal is done as a gather in the first pass (spans 1 and 2), and later passes
// run two or three spans each while the points are in registers.
// Build with -ffp-contract=off: a fused multiply-add would change the last bits.
//
// Point numbers given to SetReal are 1-based (1..N); spectral lines are 0-based.
#include "kernel_levels.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class EKetraError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class EKetraFourierError : public EKetraError {
public:
  using EKetraError::EKetraError;
};

enum TFastFourierWgtWin : uint8_t {
  fwRectangle = 0,
  fwTriangle = 1,
  fwCos2 = 2,
  fwGauss = 3,
  fwHamming = 4,
  fwBlackman = 5,
  fwBlkmHarris = 6,
  fwBlkmNuttall = 7,
  fwUserDef = 8,
};


class TFastFourier {
public:
  static constexpr int32_t kMaxSpectrumSize = 1 << 23;

  // Name is the component's name, quoted in error messages ("FFT1" in the main window).
  explicit TFastFourier(std::string Name = {});

  const std::string& Name() const { return FName; }
  void SetName(std::string Name) { FName = std::move(Name); }

  int32_t SpectrumSize() const { return FN; }
  // A power of two from 1 to 2^23; clears the data and sets every user weight to 0.0.
  // Anything else raises EKetraFourierError and changes nothing.
  void SetSpectrumSize(int32_t Value);

  TFastFourierWgtWin WeightingWindow() const { return FWindow; }
  void SetWeightingWindow(TFastFourierWgtWin Value);

  // Real (imaginary) part of point Index - 1; Index outside 1..N is ignored.
  void SetReal(int32_t Index, double Value) {
    if (Index < 1 || Index > FN) return;
    FData[2 * static_cast<size_t>(Index - 1)] = Value;
    FStatisticsValid = false;
  }
  void SetImaginary(int32_t Index, double Value);
  void ClearImaginary();

  // Weighting window, then the forward transform.
  void Transform();
  // +1 forward (unscaled), -1 inverse (divided by N). Any other positive value counts as
  // +1 and any other negative value as -1; 0 does nothing.
  void ComputeFFT(int32_t Direction);

  // Power of line 0..N div 2; 0 for any other line.
  double PowerAt(int32_t Line) const;
  // Largest PowerAt over lines 1..N/2-1, computed once per change of the data.
  // PowerAt(k) == MaxPower() holds exactly for every line carrying the largest power.
  double MaxPower();
  // The first line k in 1..N/2-1 with PowerAt(k) == MaxPower(), 0 when there is none: the
  // same answer as asking PowerAt line by line, without computing every line exactly.
  int32_t FirstLineAtMaxPower();
  // Frequency of line 1..N div 2 for a sampling interval in seconds; 0 otherwise.
  double BinToFrequency(int32_t Line, double Interval) const;

  // fwUserDef weights, 1-based like SetReal; out-of-range indices are ignored / give 0.
  double UserWeight(int32_t Index) const;
  void SetUserWeight(int32_t Index, double Value);

  // Real and imaginary parts interleaved, 2N values. The span is valid until the next
  // transform or size change (the transform works between two buffers).
  std::span<const double> Data() const { return FData; }

  // The butterfly kernels start at ActiveKernelLevel() (every level gives identical bits).
  // Pins them to one level (tests, benchmarks); a level this machine cannot run raises
  // EKetraError.
  void SetKernelLevel(TKernelLevel Level);
  TKernelLevel KernelLevel() const { return FLevel; }

private:
  friend struct TFastFourierPlainPath;  // the tests' way to the fallback below

  double LineSum(int32_t k) const;
  void ComputeStatistics();
  void ApplyWindow();
  void PrepareTables();
  void ComputeFFTPlain(int direction);
  std::string Message(const char* text) const;

  std::string FName;
  int32_t FN = 0;
  TFastFourierWgtWin FWindow = fwRectangle;
  bool FStatisticsValid = false;
  double FMaxPowerValue = 0.0;
  std::vector<double> FUserWindow;
  std::vector<double> FData;

  // Derived tables, rebuilt lazily after a size change.
  TKernelLevel FLevel;
  bool FTablesReady = false;
  std::vector<uint32_t> FSwaps;         // bit-reversal pairs, flattened (N < 8)
  std::vector<uint32_t> FBlockOf;       // rev(r) for r < N/4 (N >= 8)
  std::vector<double> FWork;            // the transform's second buffer
  std::vector<double> FTwiddles[2];     // [0] forward, [1] inverse; span L at offset 2L
  std::vector<long double> FWeights;    // weights of FWeightsKind, in extended precision
  int FWeightsKind = -1;
  // Lines whose exact sums were formed by the last statistics (all lines that can carry
  // the largest power), ascending, with those sums; valid when FScreened.
  bool FScreened = false;
  std::vector<int32_t> FCandidates;
  std::vector<double> FCandidateSums;
  std::vector<double> FScratch;         // per-point |x|^2 for the statistics
};

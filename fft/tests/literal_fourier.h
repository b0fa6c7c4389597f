#pragma once
// The transform component's algorithm transcribed literally, the way it reads in the
// design: weights applied point by point, the bit reversal with its running reversed
// index, and the butterflies in the order m, then group, with the twiddle recurrence
// advanced after each m. The fast component must reproduce these bits exactly.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "x87math.h"

struct TLiteralFourier {
  int32_t N;
  int Kind = 0;  // TFastFourierWgtWin value
  std::vector<double> Data;  // 2N, interleaved
  std::vector<double> UserWindow;  // N

  explicit TLiteralFourier(int32_t n)
      : N(n), Data(2 * size_t(n), 0.0), UserWindow(size_t(n), 0.0) {}

  // The product is formed in extended precision and stored as a double.
  void Weigh(int32_t i, long double w) {
    Data[2 * size_t(i - 1)] = static_cast<double>(Data[2 * size_t(i - 1)] * w);
    Data[2 * size_t(i - 1) + 1] = static_cast<double>(Data[2 * size_t(i - 1) + 1] * w);
  }

  void Transform() {
    const long double pi = kPiExt;
    if (Kind == 1) {
      for (int32_t i = 1; i <= N / 2; ++i) {
        Weigh(i, 2.0L * i / N);
        Weigh(N - i + 1, 2.0L * i / N);
      }
    } else if (Kind != 0) {
      for (int32_t i = 1; i <= N; ++i) {
        const long double x = (i - N / 2.0L) / N;
        long double w = 1.0L;
        if (Kind == 2) {
          const long double c = ExtCos(pi * x);
          w = c * c;
        } else if (Kind == 3) {
          const long double a = ((i - N / 2.0L) * 3.0L / N) * 2.0L;
          w = std::exp(-0.5L * (a * a));
        } else if (Kind == 4) {
          w = 0.543478261L + 0.456521739L * ExtCos(2.0L * pi * x);
        } else if (Kind == 5) {
          w = 0.42659L + 0.49656L * ExtCos(2.0L * pi * x) + 0.076848L * ExtCos(4.0L * pi * x);
        } else if (Kind == 6) {
          w = 0.35875L + 0.48829L * ExtCos(2.0L * pi * x) + 0.14128L * ExtCos(4.0L * pi * x) +
              0.01168L * ExtCos(6.0L * pi * x);
        } else if (Kind == 7) {
          w = 0.3635819L + 0.4891775L * ExtCos(2.0L * pi * x) + 0.1365995L * ExtCos(4.0L * pi * x) +
              0.0106411L * ExtCos(6.0L * pi * x);
        } else {
          w = UserWindow[size_t(i - 1)];
        }
        Weigh(i, w);
      }
    }
    ComputeFFT(1);
  }

  void ComputeFFT(int s) {
    const int32_t n = N;
    int32_t j = 0;
    for (int32_t i = 0; i < n; ++i) {
      if (j > i) {
        std::swap(Data[2 * size_t(j)], Data[2 * size_t(i)]);
        std::swap(Data[2 * size_t(j) + 1], Data[2 * size_t(i) + 1]);
      }
      int32_t m = n / 2;
      while (m >= 1 && j >= m) {
        j -= m;
        m /= 2;
      }
      j += m;
    }
    for (int32_t L = 1; L < n; L *= 2) {
      const double theta = static_cast<double>(s * kPiExt / L);
      const long double sh = ExtSin(0.5L * theta);
      const double wpr = static_cast<double>(-2.0L * sh * sh);
      const double wpi = static_cast<double>(ExtSin(theta));
      double wr = 1.0, wi = 0.0;
      for (int32_t m = 0; m < L; ++m) {
        for (int32_t g = m; g < n; g += 2 * L) {
          const size_t a = 2 * size_t(g), b = 2 * size_t(g + L);
          const double tr = wr * Data[b] - wi * Data[b + 1];
          const double ti = wr * Data[b + 1] + wi * Data[b];
          Data[b] = Data[a] - tr;
          Data[b + 1] = Data[a + 1] - ti;
          Data[a] = Data[a] + tr;
          Data[a + 1] = Data[a + 1] + ti;
        }
        const double wtemp = wr;
        wr = wr + (wr * wpr - wi * wpi);
        wi = wi + (wi * wpr + wtemp * wpi);
      }
    }
    if (s == -1)
      for (double& v : Data) v = v / N;
  }

  double PowerAt(int32_t k) const {
    if (k < 0 || k > N / 2) return 0.0;
    if (k == 0) return static_cast<double>(Square(0) + Square(1)) / N;
    return Sum(k) / N;
  }

  double MaxPower() const {
    double best = 0.0;
    for (int32_t k = 1; k <= N / 2 - 1; ++k) best = std::max(best, Sum(k));
    return best / N;
  }

  // |X_k|^2 + |X_N-k|^2, summed left to right in extended precision.
  double Sum(int32_t k) const {
    const size_t a = 2 * size_t(k), b = 2 * size_t(N - k);
    return static_cast<double>(Square(a) + Square(a + 1) + Square(b) + Square(b + 1));
  }

  long double Square(size_t at) const { return (long double)Data[at] * Data[at]; }
};

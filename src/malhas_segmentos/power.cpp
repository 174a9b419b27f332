#include "malhas_segmentos/power.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace malha {

namespace {

// log 2 in two parts (Cody and Waite): the first has its low 32 bits zero,
// so that k * kLog2High is exact for |k| < 2^11; the second is the rest.
constexpr double kLog2High = 6.93147180369123816490e-01;
constexpr double kLog2Low = 1.90821492927058770002e-10;
constexpr double kInverseLog2 = 1.44269504088896338700e+00;
constexpr double kSqrtHalf = 0.70710678118654752440;

// 1/(2n + 1) for n = 0 .. 11: log m = 2z (1 + z^2/3 + z^4/5 + ...) with
// z = (m - 1)/(m + 1). For m in [sqrt(1/2), sqrt(2)), |z| <= 0.1716 and
// z^2 <= 0.0295, so the first term left out, z^24/25, is below 1e-38.
constexpr std::array<double, 12> kLogSeries = {1.0,        1.0 / 3.0,  1.0 / 5.0,  1.0 / 7.0,
                                               1.0 / 9.0,  1.0 / 11.0, 1.0 / 13.0, 1.0 / 15.0,
                                               1.0 / 17.0, 1.0 / 19.0, 1.0 / 21.0, 1.0 / 23.0};

// 1/k! for k = 0 .. 14: exp r = sum of r^k/k!. For |r| <= log(2)/2 the first
// term left out, r^15/15!, is below 1e-19.
constexpr std::array<double, 15> kExpSeries = {1.0,
                                               1.0,
                                               1.0 / 2.0,
                                               1.0 / 6.0,
                                               1.0 / 24.0,
                                               1.0 / 120.0,
                                               1.0 / 720.0,
                                               1.0 / 5040.0,
                                               1.0 / 40320.0,
                                               1.0 / 362880.0,
                                               1.0 / 3628800.0,
                                               1.0 / 39916800.0,
                                               1.0 / 479001600.0,
                                               1.0 / 6227020800.0,
                                               1.0 / 87178291200.0};

// The polynomial with coefficients c[0] + c[1] t + ... by Horner's rule,
// highest term first: one fixed order of operations.
template <std::size_t N>
double horner(const std::array<double, N>& c, double t) {
  double sum = c[N - 1];
  for (std::size_t n = N - 1; n > 0; --n) sum = sum * t + c[n - 1];
  return sum;
}

}  // namespace

double mesh_log(double x) {
  // x = m 2^k exactly, m in [sqrt(1/2), sqrt(2)); frexp gives m in [1/2, 1).
  int k = 0;
  double m = std::frexp(x, &k);
  if (m < kSqrtHalf) {
    m *= 2.0;
    --k;
  }
  const double z = (m - 1.0) / (m + 1.0);
  const double log_m = 2.0 * z * horner(kLogSeries, z * z);
  const double dk = static_cast<double>(k);
  return dk * kLog2High + (dk * kLog2Low + log_m);
}

double mesh_exp(double y) {
  // y = n log 2 + r with |r| <= log(2)/2; exp y = 2^n exp r, the scaling exact.
  const double n = std::floor(y * kInverseLog2 + 0.5);
  const double r = (y - n * kLog2High) - n * kLog2Low;
  return std::ldexp(horner(kExpSeries, r), static_cast<int>(n));
}

}  // namespace malha

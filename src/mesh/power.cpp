#include "mesh/power.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

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

// The polynomial c[0] + c[1] t + c[2] t^2 + ... by Estrin's scheme: the
// terms paired as c[0] + c[1] t, c[2] + c[3] t, ..., the pairs paired in t^2,
// and so on. The operations' order is fixed as for Horner's rule, and each
// level's products are independent of one another, so that they overlap
// instead of waiting each for the last.
template <std::size_t N>
double estrin(const std::array<double, N>& c, double t) {
  std::array<double, N> level = c;
  std::size_t count = N;
  while (count > 1) {
    std::size_t next = 0;
    for (std::size_t k = 0; k + 1 < count; k += 2) level[next++] = level[k] + level[k + 1] * t;
    if (count % 2 != 0) level[next++] = level[count - 1];
    count = next;
    t *= t;
  }
  return level[0];
}

}  // namespace

// The exponent and mantissa fields of a double, used to split and to scale
// by powers of two: exact operations, done here on the bits rather than by
// frexp and ldexp, which are calls into the C library.
constexpr int kMantissaBits = 52;
constexpr std::uint64_t kMantissaMask = (std::uint64_t{1} << kMantissaBits) - 1;
constexpr int kExponentBias = 1023;

// 2^n for a normal result (-1022 <= n <= 1023).
double power_of_two(int n) {
  return std::bit_cast<double>(static_cast<std::uint64_t>(n + kExponentBias) << kMantissaBits);
}

double mesh_log(double x) {
  // x = m 2^k exactly with m in [1, 2) (x normal), then m in [sqrt(1/2),
  // sqrt(2)) by halving it (exact) and raising k.
  const auto bits = std::bit_cast<std::uint64_t>(x);
  int k = static_cast<int>(bits >> kMantissaBits) - kExponentBias;
  double m = std::bit_cast<double>((bits & kMantissaMask) |
                                   (static_cast<std::uint64_t>(kExponentBias) << kMantissaBits));
  if (m >= 2.0 * kSqrtHalf) {
    m *= 0.5;
    ++k;
  }
  const double z = (m - 1.0) / (m + 1.0);
  const double log_m = 2.0 * z * estrin(kLogSeries, z * z);
  const double dk = static_cast<double>(k);
  return dk * kLog2High + (dk * kLog2Low + log_m);
}

double mesh_exp(double y) {
  // y = n log 2 + r with |r| <= log(2)/2; exp y = 2^n exp r, the scaling
  // exact. n is the nearest whole number: the conversion truncates towards
  // zero, and one is taken off for a negative fraction (floor).
  const double v = y * kInverseLog2 + 0.5;
  const int truncated = static_cast<int>(v);
  const int n = truncated - (v < truncated ? 1 : 0);
  const double dn = static_cast<double>(n);
  const double r = (y - dn * kLog2High) - dn * kLog2Low;
  return estrin(kExpSeries, r) * power_of_two(n);
}

}  // namespace malha

// A power function whose bytes do not depend on the C library: the graded
// mesh is written to files that must be the same on every platform, and
// std::pow, std::exp and std::log are not correctly rounded, so two C
// libraries may round them differently. This one is built from additions,
// multiplications, divisions, square roots and exact scalings by powers of
// two, in a fixed order, which IEEE arithmetic rounds alike everywhere.
#pragma once

#include <cmath>

namespace malha {

// log(x) for 2^-1000 < x <= 2^1000, to within a few units in the last place.
double mesh_log(double x);

// exp(y) for -700 <= y <= 0, to within a few units in the last place.
double mesh_exp(double y);

// base^exponent for one exponent from 0 to 64 and bases 2^-1000 < base <= 1,
// to within a few units in the last place (relative error below 1e-14):
// exact products for the whole part of the exponent, a square root for a
// fraction of one half, exp(f log(base)) for any other fraction f.
class MeshPower {
 public:
  explicit MeshPower(double exponent)
      : whole_(static_cast<int>(std::floor(exponent))),
        fraction_(exponent - std::floor(exponent)) {}

  double operator()(double base) const {
    double result = 1.0;
    for (int k = 0; k < whole_; ++k) result *= base;
    if (fraction_ == 0.5) return result * std::sqrt(base);
    if (fraction_ > 0.0) return result * mesh_exp(fraction_ * mesh_log(base));
    return result;
  }

 private:
  int whole_;
  double fraction_;  // exact: the exponent less its whole part
};

inline double mesh_power(double base, double exponent) {
  return MeshPower(exponent)(base);
}

}  // namespace malha

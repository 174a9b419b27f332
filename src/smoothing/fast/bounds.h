// What the fast smoothing pass (smoothing/fast/pass.cpp) states and its tests check.
#pragma once

namespace malha {

// Step 5 of smoothing/fast/pass.cpp: the determinants det = yeta*xksi - xeta*yksi
// for which the operations of the plain pass that the fused loop leaves out
// (jac = 1/det in metric_terms_at, then g = 1/(jac*jac) and the source terms
// with zero sources in coefficients_at) raise no trapped exception: exactly
// those with kSafeDetLow <= |det| <= kSafeDetHigh, the doubles strictly
// between 2^-512 and 2^512. Below, jac*jac overflows; above, jac*jac is
// subnormal or zero and 1/(jac*jac) overflows or divides by zero. The tests
// (test_fast_argument.cpp) check the doubles next to each end and a sample
// of the whole range.
inline constexpr double kSafeDetLow = 0x1.0000000000001p-512;
inline constexpr double kSafeDetHigh = 0x1.fffffffffffffp+511;

}  // namespace malha

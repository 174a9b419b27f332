// The two parts of the fast smoothing pass, as its driver (smoothing/fast/pass.cpp,
// which also holds the argument their comments cite by step) runs them.
#pragma once

#include <cstdint>

namespace malha {

struct MeshState;
class HelperThread;

// Steps 4 and 5 over the whole mesh: the upper half of the rows on the
// helper when there is one (smoothing/fast/coefficients.cpp).
bool fused_coefficients(MeshState& s, double* u, HelperThread* helper, bool avx2);

// The coefficients and the interleaved coordinates a sweep reads.
struct SweepData {
  double* u;
  const double* alpha;
  const double* gamma;
  const double* half_beta;
  const double* ap;
  std::int64_t nxv;
};

// Steps 6 to 9: nsweep sweeps over the interior, then the coordinates back
// (smoothing/fast/sweeps.cpp).
void sweep_pairs(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                 HelperThread* helper);

}  // namespace malha

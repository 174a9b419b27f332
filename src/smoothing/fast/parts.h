// The two parts of the fast smoothing pass, as its driver (smoothing/fast/pass.cpp,
// which also holds the argument their comments cite by step) runs them.
#pragma once

#include <cstdint>

namespace malha {

struct MeshState;
class HelperThread;

// Step 1: the arrays of the mesh state that carry the coefficients. Without
// sources, alpha is both west and east and gamma both south and north; with
// them, aw, ae, as and an. Both ways 0.5*beta is kept in anw (half_beta),
// and ap in ap.
struct CoefficientArrays {
  double *west, *east, *south, *north, *half_beta, *ap;
};
CoefficientArrays coefficient_arrays(MeshState& s, bool sourced);

// Steps 4 and 5 over the whole mesh, with the source terms psrc and qsrc
// when `sourced`: the upper half of the rows on the helper when there is one
// (smoothing/fast/coefficients.cpp).
bool fused_coefficients(MeshState& s, double* u, HelperThread* helper, bool avx2, bool sourced);

// The coefficients and the interleaved coordinates a sweep reads; east and
// north are read only when `sourced`.
struct SweepData {
  double* u;
  CoefficientArrays a;
  std::int64_t nxv;
  bool sourced;
};

// Steps 6 to 9: nsweep sweeps over the interior, then the coordinates back
// (smoothing/fast/sweeps.cpp).
void sweep_pairs(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                 HelperThread* helper);

}  // namespace malha

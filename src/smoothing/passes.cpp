#include "smoothing/passes.h"

#include "smoothing/coef.h"
#include "smoothing/metricas.h"

namespace malha {

void gauss_seidel(Array1<double>& u, const Array1<double>& ap, const Array1<double>& ae,
                  const Array1<double>& aw, const Array1<double>& an, const Array1<double>& as,
                  const Array1<double>& ane, const Array1<double>& anw, const Array1<double>& ase,
                  const Array1<double>& asw, std::int32_t nxv, std::int32_t nyv,
                  std::int32_t nsweep) {
  for (std::int32_t sweep = 1; sweep <= nsweep; ++sweep) {
    for (std::int32_t j = 2; j <= nyv - 1; ++j) {
      for (std::int32_t i = 2; i <= nxv - 1; ++i) {
        const std::int64_t k = static_cast<std::int64_t>(j - 1) * nxv + i;
        const std::int64_t n = k + nxv, so = k - nxv;
        // West, south-west, south and south-east already hold this sweep's
        // values; the order of the eight products is part of the result.
        const double sum = asw(k) * u(so - 1) + as(k) * u(so) + an(k) * u(n) + anw(k) * u(n - 1) +
                           aw(k) * u(k - 1) + ae(k) * u(k + 1) + ase(k) * u(so + 1) +
                           ane(k) * u(n + 1);
        u(k) = sum / ap(k);
      }
    }
  }
}

namespace {

// The pass as the driver's sequence states it: the reference for the fast
// pass of smoothing/fast/pass.cpp.
void plain_pass(MeshState& s) {
  compute_metrics(s);
  clear_sources(s);
  compute_coefficients(s);
  gauss_seidel(s.xv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
               s.nsweep);
  gauss_seidel(s.yv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
               s.nsweep);
}

}  // namespace

void smoothing_pass(MeshState& s, const SmoothingOptions& options, SmoothingWorkspace& workspace) {
  // Kept source arrays (flag 2, or control functions) need the equations
  // with the source terms; without them the sources are zero and the fast
  // pass takes the shorter form. When the fast pass finds that the
  // operations it leaves out could trap, it has written nothing, and the
  // plain pass recomputes everything and traps where it would.
  const bool sourced = s.controls || option_on(s.opt_psrc) || option_on(s.opt_qsrc);
  if (!options.fast) {
    plain_pass(s);
    return;
  }
  if (sourced) clear_sources(s);
  if (!fast_smoothing_pass(s, options, workspace, sourced)) plain_pass(s);
}

void smoothing_pass(MeshState& s, const SmoothingOptions& options) {
  SmoothingWorkspace workspace;
  smoothing_pass(s, options, workspace);
}

}  // namespace malha

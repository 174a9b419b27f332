#include "coef.h"

namespace malha {

void clear_sources(MeshState& s) {
  if (s.opt_psrc != 2)
    for (std::int64_t k = 1; k <= s.psrc.size(); ++k) s.psrc(k) = 0.0;
  if (s.opt_qsrc != 2)
    for (std::int64_t k = 1; k <= s.qsrc.size(); ++k) s.qsrc(k) = 0.0;
}

// alpha u_ksiksi - 2 beta u_ksieta + gamma u_etaeta + D^2 (P u_ksi + Q u_eta) = 0
// with central differences on the nine-point stencil, written as
// ap u_k = sum of the eight neighbour coefficients times their values.
void compute_coefficients(MeshState& s) {
  const std::int32_t nxv = s.nxv;
  const std::int32_t nyv = s.nyv;
  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * nxv + i;
      const double g = 1.0 / (s.jac(k) * s.jac(k));  // D^2 at the vertex
      s.ae(k) = s.alpha(k) + 0.5 * s.psrc(k) * g;
      s.aw(k) = s.alpha(k) - 0.5 * s.psrc(k) * g;
      s.an(k) = s.gamma(k) + 0.5 * s.qsrc(k) * g;
      s.as(k) = s.gamma(k) - 0.5 * s.qsrc(k) * g;
      s.ane(k) = -0.5 * s.beta(k);
      s.anw(k) = 0.5 * s.beta(k);
      s.ase(k) = 0.5 * s.beta(k);
      s.asw(k) = -0.5 * s.beta(k);
      s.ap(k) = ((s.aw(k) + s.an(k)) + s.ae(k)) + s.as(k);
    }
  }
}

}  // namespace malha

#include "coef.h"

namespace malha {

void clear_sources(MeshState& s) {
  if (s.opt_psrc != 2)
    for (std::int64_t k = 1; k <= s.psrc.size(); ++k) s.psrc(k) = 0.0;
  if (s.opt_qsrc != 2)
    for (std::int64_t k = 1; k <= s.qsrc.size(); ++k) s.qsrc(k) = 0.0;
}

void compute_coefficients(MeshState& s) {
  const std::int32_t nxv = s.nxv;
  const std::int32_t nyv = s.nyv;
  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * nxv + i;
      const VertexCoefficients c =
          coefficients_at(s.alpha(k), s.beta(k), s.gamma(k), s.jac(k), s.psrc(k), s.qsrc(k));
      s.ae(k) = c.ae;
      s.aw(k) = c.aw;
      s.an(k) = c.an;
      s.as(k) = c.as;
      s.ane(k) = c.ane;
      s.anw(k) = c.anw;
      s.ase(k) = c.ase;
      s.asw(k) = c.asw;
      s.ap(k) = c.ap;
    }
  }
}

}  // namespace malha

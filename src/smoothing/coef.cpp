#include "smoothing/coef.h"

namespace malha {

void clear_sources(MeshState& s) {
  if (s.controls) return;
  if (!option_on(s.opt_psrc))
    for (std::int64_t k = 1; k <= s.psrc.size(); ++k) s.psrc(k) = 0.0;
  if (!option_on(s.opt_qsrc))
    for (std::int64_t k = 1; k <= s.qsrc.size(); ++k) s.qsrc(k) = 0.0;
}

void compute_coefficients(MeshState& s) {
  for_each_interior_vertex(s.nxv, s.nyv, [&s](std::int64_t k) {
    const VertexCoefficients c =
        coefficients_at(s.alpha(k), s.beta(k), s.gamma(k), s.jac(k), s.psrc(k), s.qsrc(k));
    store_at(k, {&s.ae, &s.aw, &s.an, &s.as, &s.ane, &s.anw, &s.ase, &s.asw, &s.ap},
             {c.ae, c.aw, c.an, c.as, c.ane, c.anw, c.ase, c.asw, c.ap});
  });
}

}  // namespace malha

#include "metricas.h"

namespace malha {

void compute_metrics(MeshState& s) {
  const std::int32_t nxv = s.nxv;
  const std::int32_t nyv = s.nyv;
  const double cksi = 0.5 / s.dksi;
  const double ceta = 0.5 / s.deta;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();

  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * nxv + i;
      const VertexMetrics m = metric_terms_at(xv, yv, k - 1, nxv, cksi, ceta);
      s.xeta(k) = m.xeta;
      s.yeta(k) = m.yeta;
      s.xksi(k) = m.xksi;
      s.yksi(k) = m.yksi;
      s.alpha(k) = m.alpha;
      s.beta(k) = m.beta;
      s.gamma(k) = m.gamma;
      s.jac(k) = m.jac;
    }
  }
}

}  // namespace malha

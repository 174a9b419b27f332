#include "smoothing/metricas.h"

namespace malha {

void compute_metrics(MeshState& s) {
  const std::int32_t nxv = s.nxv;
  const double cksi = 0.5 / s.dksi;
  const double ceta = 0.5 / s.deta;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();

  for_each_interior_vertex(nxv, s.nyv, [&](std::int64_t k) {
    const VertexMetrics m = metric_terms_at(xv, yv, k - 1, nxv, cksi, ceta);
    store_at(k, {&s.xeta, &s.yeta, &s.xksi, &s.yksi, &s.alpha, &s.beta, &s.gamma, &s.jac},
             {m.xeta, m.yeta, m.xksi, m.yksi, m.alpha, m.beta, m.gamma, m.jac});
  });
}

}  // namespace malha

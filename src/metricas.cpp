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
      // 0-based positions of k and its neighbours.
      const std::int64_t p = k - 1, e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
      const double xeta = (xv[n] - xv[so]) * ceta;
      const double yeta = (yv[n] - yv[so]) * ceta;
      const double xksi = (xv[e] - xv[w]) * cksi;
      const double yksi = (yv[e] - yv[w]) * cksi;
      s.xeta(k) = xeta;
      s.yeta(k) = yeta;
      s.xksi(k) = xksi;
      s.yksi(k) = yksi;
      s.alpha(k) = yeta * yeta + xeta * xeta;
      s.beta(k) = xeta * xksi + yeta * yksi;
      s.gamma(k) = xksi * xksi + yksi * yksi;
      s.jac(k) = 1.0 / (yeta * xksi - xeta * yksi);
    }
  }
}

}  // namespace malha

#include "mesh/malhas_segmentos.h"

namespace malha {

// Each eta-line j is an L-shaped polyline at offset s = 0.5*t from the outer
// boundary: a vertical leg x = s from (s, 1) down to the corner (s, s) at
// i = m, then a horizontal leg y = s to the right, both in steps of
// d = (1 - s)/(m - 1). Line j = 1 is the outer boundary, j = nyv the inner one.
void build_algebraic_mesh(MeshState& s) {
  const std::int32_t nx = s.nx;
  const std::int32_t ny = s.ny;
  const std::int32_t nxv = s.nxv;
  const std::int32_t nyv = s.nyv;
  const std::int32_t nxf = s.nxf;
  const std::int32_t m = (nxv + 1) / 2;  // the corner line

  double* xv = s.xv.data();
  double* yv = s.yv.data();
  for (std::int32_t j = 1; j <= nyv; ++j) {
    const double t = static_cast<double>(j - 1) / static_cast<double>(nyv - 1);
    const double sj = 0.5 * t;
    const double d = (1.0 - sj) / static_cast<double>(m - 1);
    const std::int64_t row = static_cast<std::int64_t>(j - 1) * nxv;
    for (std::int32_t i = 1; i <= m; ++i) {
      const std::int64_t k = row + i;
      xv[k - 1] = sj;
      yv[k - 1] = 1.0 + static_cast<double>(1 - i) * d;
    }
    for (std::int32_t i = m + 1; i <= nxv; ++i) {
      const std::int64_t k = row + i;
      xv[k - 1] = sj + static_cast<double>(i - m) * d;
      yv[k - 1] = sj;
    }
  }

  for (std::int32_t j = 1; j <= ny; ++j) {
    for (std::int32_t i = 1; i <= nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * nx + i;
      const std::int64_t w = static_cast<std::int64_t>(j) * nxf + i + 1;
      const std::int32_t c1 = (j - 1) * nxv + i;
      const std::int32_t c2 = (j - 1) * nxv + i + 1;
      const std::int32_t c3 = j * nxv + i + 1;
      const std::int32_t c4 = j * nxv + i;
      s.conn(v, 1) = c1;
      s.conn(v, 2) = c2;
      s.conn(v, 3) = c3;
      s.conn(v, 4) = c4;
      s.connf(w, 1) = c1;
      s.connf(w, 2) = c2;
      s.connf(w, 3) = c3;
      s.connf(w, 4) = c4;
    }
  }
}

}  // namespace malha

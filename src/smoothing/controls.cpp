#include "smoothing/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "smoothing/coef.h"
#include "smoothing/metricas.h"

namespace malha {

namespace {

constexpr int kBisections = 64;
// P fades out over this share of the rows, counted from the outer boundary.
constexpr double kPDepth = 0.6;
// Q fades out over this distance from (0, 0) on the corner mesh...
constexpr double kQRadius = 0.3;
// ... but is held on this many rows after the first whatever the mesh size,
// so that a coarse mesh's first rows are held as a fine mesh's are.
constexpr double kQRows = 3.0;

// 1 for u <= 0, 0 for u >= 1, and 1 - u^2 (3 - 2u) between: a fade with no
// step in value or slope.
double fade(double u) {
  u = std::clamp(u, 0.0, 1.0);
  return 1.0 - u * u * (3.0 - 2.0 * u);
}

// cos and sin of the angle whose half-tangent is tau.
struct Direction {
  double c, s;
};
Direction direction(double tau) {
  const double t2 = tau * tau;
  return {(1.0 - t2) / (1.0 + t2), (2.0 * tau) / (1.0 + t2)};
}

// The vertex k of the corner mesh, x and y in tx, ty (0-based by k - 1).
struct CornerMesh {
  std::vector<double> x, y;
};

// The label eta* of row j: the distance of its vertex on the corner line
// from (0, 0), over sqrt(2).
double row_label(const MeshState& s, std::int32_t j) {
  const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + (s.nxv + 1) / 2;
  const double xm = s.xv(k), ym = s.yv(k);
  return std::sqrt(xm * xm + ym * ym) / std::sqrt(2.0);
}

// The weights of P and of Q on row j by its place among the rows.
double p_weight(const MeshState& s, std::int32_t j) {
  return fade((j - 1.0) / s.ny / kPDepth);
}
double q_rows_weight(std::int32_t j) {
  return fade((j - 2.0) / kQRows);
}

// The last interior row whose sources may be other than zero: P within
// kPDepth of the rows, Q on the first rows and within kQRadius of (0, 0),
// which a row of the corner mesh labelled eta* keeps at least 2 eta* away
// from (its points lie at eta*/(cos t sin t), and cos t sin t <= 1/2).
// Beyond it the sources are zero, and the corner mesh is not needed.
std::int32_t last_sourced_row(const MeshState& s) {
  std::int32_t last = 1;
  for (std::int32_t j = 2; j <= s.nyv - 1; ++j) {
    if (p_weight(s, j) > 0.0 || q_rows_weight(j) > 0.0 || 2.0 * row_label(s, j) < kQRadius)
      last = j;
  }
  return last;
}

// The corner mesh's rows up to `last_row` (the starting mesh's beyond).
CornerMesh corner_mesh(const MeshState& s, std::int32_t last_row) {
  const std::int32_t nxv = s.nxv;
  const std::int32_t m = (nxv + 1) / 2;  // the corner line
  CornerMesh t{std::vector<double>(s.xv.data(), s.xv.data() + s.nvert),
               std::vector<double>(s.yv.data(), s.yv.data() + s.nvert)};
  for (std::int32_t j = 2; j <= last_row; ++j) {
    const std::int64_t row = static_cast<std::int64_t>(j - 1) * nxv;
    const double eta = row_label(s, j);
    for (std::int32_t i = 1; i <= nxv; ++i) {
      const double xi = i <= m ? -s.yv(i) : s.xv(i);
      const ControlPoint p = corner_mesh_point(xi, eta);
      t.x[row + i - 1] = p.x;
      t.y[row + i - 1] = p.y;
    }
  }
  return t;
}

// The sources that make the corner mesh an exact solution at interior vertex
// k: the residual R of the equations without sources, computed from the
// corner mesh as a pass computes them, must equal -D^2 (P u_ksi + Q u_eta)
// for u = x and y, a 2 x 2 system.
struct Sources {
  double p, q;
};
Sources exact_sources(const CornerMesh& t, std::int64_t k, std::int32_t nxv, double cksi,
                      double ceta) {
  const double* x = t.x.data() - 1;  // x[k] is vertex k
  const double* y = t.y.data() - 1;
  const std::int64_t e = k + 1, w = k - 1, n = k + nxv, so = k - nxv;
  const VertexMetrics m = metric_terms_at(t.x.data(), t.y.data(), k - 1, nxv, cksi, ceta);
  const double jac = m.jac;
  const VertexCoefficients c = coefficients_at(m.alpha, m.beta, m.gamma, jac, 0.0, 0.0);
  const auto residual = [&](const double* u) {
    double r = -c.ap * u[k];
    r = r + c.ae * u[e];
    r = r + c.aw * u[w];
    r = r + c.an * u[n];
    r = r + c.as * u[so];
    r = r + c.ane * u[n + 1];
    r = r + c.anw * u[n - 1];
    r = r + c.ase * u[so + 1];
    r = r + c.asw * u[so - 1];
    return r;
  };
  const double rx = residual(x), ry = residual(y);
  const double g = 1.0 / (jac * jac);
  // Unit-step central differences, as the source terms enter the equations.
  const double a = 0.5 * (x[e] - x[w]), b = 0.5 * (x[n] - x[so]);
  const double cc = 0.5 * (y[e] - y[w]), d = 0.5 * (y[n] - y[so]);
  const double det = a * d - b * cc;
  return {-(d * rx - b * ry) / det / g, -(-cc * rx + a * ry) / det / g};
}

}  // namespace

ControlPoint corner_mesh_point(double xi, double eta) {
  // ksi*/eta* = Fksi(theta)/Feta(theta) on the ray at angle theta, with
  // Fksi = (c^5 - s^5)/(c^4 + s^4) and Feta = c s; the quotient falls from
  // +infinity to -infinity as theta goes from 0 to 90 degrees.
  const double ratio = xi / eta;
  double lo = 0.0, hi = 1.0;
  for (int halving = 0; halving < kBisections; ++halving) {
    const double tau = 0.5 * (lo + hi);
    const Direction d = direction(tau);
    const double c2 = d.c * d.c, s2 = d.s * d.s;
    const double fksi = (c2 * c2 * d.c - s2 * s2 * d.s) / (c2 * c2 + s2 * s2);
    if (fksi > ratio * (d.c * d.s))
      lo = tau;
    else
      hi = tau;
  }
  const Direction d = direction(0.5 * (lo + hi));
  const double r = eta / (d.c * d.s);
  return {r * d.c, r * d.s};
}

void fill_controls(MeshState& s) {
  for (std::int64_t k = 1; k <= s.nvert; ++k) s.psrc(k) = 0.0, s.qsrc(k) = 0.0;
  if (s.nxv < 3 || s.nyv < 3) return;
  const std::int32_t last = last_sourced_row(s);
  const CornerMesh t = corner_mesh(s, std::min(last + 1, s.nyv));
  const double cksi = 0.5 / s.dksi, ceta = 0.5 / s.deta;
  for (std::int32_t j = 2; j <= last; ++j) {
    const double wp = p_weight(s, j);
    const double wrows = q_rows_weight(j);
    for (std::int32_t i = 2; i <= s.nxv - 1; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + i;
      const Sources exact = exact_sources(t, k, s.nxv, cksi, ceta);
      const double tx = t.x[k - 1], ty = t.y[k - 1];
      const double wq = std::max(fade(std::sqrt(tx * tx + ty * ty) / kQRadius), wrows);
      s.psrc(k) = wp * exact.p;
      s.qsrc(k) = wq * exact.q;
    }
  }
}

}  // namespace malha

// Metric terms of the elliptic grid equations.
#pragma once

#include "smoothing/equation.h"
#include "variaveis.h"

namespace malha {

// The metric terms at one interior vertex.
struct VertexMetrics {
  double xksi, yksi, xeta, yeta;
  double alpha, beta, gamma, jac;
};

// The metric terms at the vertex at 0-based position p of xv and yv (vertex
// k = p + 1), from its four neighbours; cksi = 0.5/dksi and ceta = 0.5/deta.
// The operations are the grid equation's (smoothing/equation.h).
inline VertexMetrics metric_terms_at(const double* xv, const double* yv, std::int64_t p,
                                     std::int32_t nxv, double cksi, double ceta) {
  const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
  const equation::Derivatives<double> d =
      equation::derivatives(xv[e], xv[w], xv[n], xv[so], yv[e], yv[w], yv[n], yv[so], cksi, ceta);
  VertexMetrics m;
  m.xksi = d.xksi, m.yksi = d.yksi, m.xeta = d.xeta, m.yeta = d.yeta;
  m.alpha = equation::alpha(d);
  m.beta = equation::beta(d);
  m.gamma = equation::gamma(d);
  m.jac = 1.0 / equation::determinant(d);
  return m;
}

// Central differences of xv, yv at every interior vertex and the terms
// alpha, beta, gamma and jac derived from them.
void compute_metrics(MeshState& s);

}  // namespace malha

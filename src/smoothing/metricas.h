// Metric terms of the elliptic grid equations.
#pragma once

#include "variaveis.h"

namespace malha {

// The metric terms at one interior vertex.
struct VertexMetrics {
  double xksi, yksi, xeta, yeta;
  double alpha, beta, gamma, jac;
};

// The metric terms at the vertex at 0-based position p of xv and yv (vertex
// k = p + 1), from its four neighbours; cksi = 0.5/dksi and ceta = 0.5/deta.
// The smoothing and the convergence figure both compute them here, so the two
// use the same operations in the same order.
inline VertexMetrics metric_terms_at(const double* xv, const double* yv, std::int64_t p,
                                     std::int32_t nxv, double cksi, double ceta) {
  const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
  VertexMetrics m;
  m.xeta = (xv[n] - xv[so]) * ceta;
  m.yeta = (yv[n] - yv[so]) * ceta;
  m.xksi = (xv[e] - xv[w]) * cksi;
  m.yksi = (yv[e] - yv[w]) * cksi;
  m.alpha = m.yeta * m.yeta + m.xeta * m.xeta;
  m.beta = m.xeta * m.xksi + m.yeta * m.yksi;
  m.gamma = m.xksi * m.xksi + m.yksi * m.yksi;
  m.jac = 1.0 / (m.yeta * m.xksi - m.xeta * m.yksi);
  return m;
}

// Central differences of xv, yv at every interior vertex and the terms
// alpha, beta, gamma and jac derived from them.
void compute_metrics(MeshState& s);

}  // namespace malha

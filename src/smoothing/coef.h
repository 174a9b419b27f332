// Source terms and the coefficients of the nine-point grid equations.
#pragma once

#include "variaveis.h"

namespace malha {

// The nine coefficients of the grid equation at one interior vertex.
struct VertexCoefficients {
  double ae, aw, an, as, ane, anw, ase, asw, ap;
};

// alpha u_ksiksi - 2 beta u_ksieta + gamma u_etaeta + D^2 (P u_ksi + Q u_eta) = 0
// with central differences on the nine-point stencil, written as
// ap u_k = sum of the eight neighbour coefficients times their values.
// The smoothing and the convergence figure both compute them here.
inline VertexCoefficients coefficients_at(double alpha, double beta, double gamma, double jac,
                                          double psrc, double qsrc) {
  const double g = 1.0 / (jac * jac);  // D^2 at the vertex
  VertexCoefficients c;
  c.ae = alpha + 0.5 * psrc * g;
  c.aw = alpha - 0.5 * psrc * g;
  c.an = gamma + 0.5 * qsrc * g;
  c.as = gamma - 0.5 * qsrc * g;
  c.ane = -0.5 * beta;
  c.anw = 0.5 * beta;
  c.ase = 0.5 * beta;
  c.asw = -0.5 * beta;
  c.ap = ((c.aw + c.an) + c.ae) + c.as;
  return c;
}

// Clears psrc unless opt_psrc is 2, and qsrc unless opt_qsrc is 2.
void clear_sources(MeshState& s);

// Fills ae, aw, an, as, ane, anw, ase, asw and ap at every interior vertex.
void compute_coefficients(MeshState& s);

}  // namespace malha

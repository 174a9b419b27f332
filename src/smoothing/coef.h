// Source terms and the coefficients of the nine-point grid equations.
#pragma once

#include "smoothing/equation.h"
#include "variaveis.h"

namespace malha {

// The nine coefficients of the grid equation at one interior vertex.
using VertexCoefficients = equation::Coefficients<double>;

// The coefficients of the grid equation at a vertex from its metric terms
// and source terms (smoothing/equation.h).
inline VertexCoefficients coefficients_at(double alpha, double beta, double gamma, double jac,
                                          double psrc, double qsrc) {
  return equation::coefficients(alpha, beta, gamma, jac, psrc, qsrc);
}

// Clears psrc unless opt_psrc is 2, and qsrc unless opt_qsrc is 2; neither
// when they hold control functions.
void clear_sources(MeshState& s);

// Fills ae, aw, an, as, ane, anw, ase, asw and ap at every interior vertex.
void compute_coefficients(MeshState& s);

}  // namespace malha

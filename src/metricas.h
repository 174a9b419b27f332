// Metric terms of the elliptic grid equations.
#pragma once

#include "variaveis.h"

namespace malha {

// Central differences of xv, yv at every interior vertex and the terms
// alpha, beta, gamma and jac derived from them.
void compute_metrics(MeshState& s);

}  // namespace malha

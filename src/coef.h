// Source terms and the coefficients of the nine-point grid equations.
#pragma once

#include "variaveis.h"

namespace malha {

// Clears psrc unless opt_psrc is 2, and qsrc unless opt_qsrc is 2.
void clear_sources(MeshState& s);

// Fills ae, aw, an, as, ane, anw, ase, asw and ap at every interior vertex.
void compute_coefficients(MeshState& s);

}  // namespace malha

// Point Gauss-Seidel sweeps over the nine-point grid equations.
#pragma once

#include <cstdint>

#include "variaveis.h"

namespace malha {

// Updates the interior entries of u in place by `nsweep` sweeps, j outside and
// i inside, each new value stored at once.
void gauss_seidel(Array1<double>& u, const Array1<double>& ap, const Array1<double>& ae,
                  const Array1<double>& aw, const Array1<double>& an, const Array1<double>& as,
                  const Array1<double>& ane, const Array1<double>& anw, const Array1<double>& ase,
                  const Array1<double>& asw, std::int32_t nxv, std::int32_t nyv,
                  std::int32_t nsweep);

}  // namespace malha

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

// One outer pass of the elliptic smoothing: compute_metrics, clear_sources,
// compute_coefficients, then gauss_seidel on xv and on yv. The fast path gives
// bit-identical coordinates and stops the run with the same floating-point
// report wherever the plain sequence would.
void smoothing_pass(MeshState& s, Path path = default_path());

// How many threads the fast path uses: 0 (the default) lets it choose, 1 or 2
// force one or two (two only on a machine with more than one core), whatever
// the size of the mesh. For tests and benchmarks.
void set_smoothing_threads(int count);

// Whether the fast path may use AVX2 where the processor has it (the default);
// false keeps it on SSE2. For tests.
void set_smoothing_avx2(bool allowed);

}  // namespace malha

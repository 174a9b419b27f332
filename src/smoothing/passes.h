// Point Gauss-Seidel sweeps over the nine-point grid equations.
#pragma once

#include <cstdint>
#include <vector>

#include "run/options.h"
#include "smoothing/fast/wavefront.h"
#include "variaveis.h"

namespace malha {

// Updates the interior entries of u in place by `nsweep` sweeps, j outside and
// i inside, each new value stored at once.
void gauss_seidel(Array1<double>& u, const Array1<double>& ap, const Array1<double>& ae,
                  const Array1<double>& aw, const Array1<double>& an, const Array1<double>& as,
                  const Array1<double>& ane, const Array1<double>& anw, const Array1<double>& ase,
                  const Array1<double>& asw, std::int32_t nxv, std::int32_t nyv,
                  std::int32_t nsweep);

// What the fast smoothing keeps from one pass to the next; the driver holds
// one for the passes of a run. Nothing in it changes a coordinate.
struct SmoothingWorkspace {
  // x and y of every vertex interleaved (step 8 of smoothing/fast/pass.cpp): had
  // once, at the first pass, and reused by the others.
  std::vector<double> pairs;
  // One thread or two, chosen by the times of the passes before.
  ThreadChoice threads;
};

// One outer pass of the elliptic smoothing: compute_metrics, clear_sources,
// compute_coefficients, then gauss_seidel on xv and on yv. The fast path gives
// bit-identical coordinates and stops the run with the same floating-point
// report wherever the plain sequence would.
void smoothing_pass(MeshState& s, const SmoothingOptions& options, SmoothingWorkspace& workspace);
// The same with a workspace of its own, which starts afresh at every call
// (for tests and tools).
void smoothing_pass(MeshState& s, const SmoothingOptions& options);

// The fast path of smoothing_pass (smoothing/fast/pass.cpp): with the source
// terms psrc and qsrc when `sourced` (they must have been cleared as the pass
// clears them), else for sources that are zero. False, with xv and yv
// untouched, when the pass has to be done by the plain operations because
// some of those it leaves out could raise a trapped exception, or because
// the storage it needs cannot be had.
bool fast_smoothing_pass(MeshState& s, const SmoothingOptions& options,
                         SmoothingWorkspace& workspace, bool sourced = false);

}  // namespace malha

// Smoothing to convergence (malha --converge): the mesh that solves the
// smoothing equations, instead of the mesh that niter passes of nsweep point
// Gauss-Seidel sweeps leave. The equations are those of a smoothing pass (the
// metric terms with dksi and deta, the coefficients with the source terms,
// those of --control or zero, the boundary held); they are
// solved by the nonlinear multigrid of smoothing/multigrid/levels.h.
#pragma once

#include <cstdint>
#include <functional>

#include "run/options.h"
#include "smoothing/figure.h"
#include "variaveis.h"

namespace malha {

// The source terms of the run's equations: psrc and qsrc under --control,
// none otherwise.
inline Sources sources_of(const MeshState& s) {
  return s.controls ? Sources{s.psrc.data(), s.qsrc.data()} : Sources{};
}

// Cycles after which a run of cycles that has not reached its tolerance stops
// (a mesh needs a dozen or two with the spacings alike, whatever its size).
inline constexpr std::int32_t kConvergeCycleLimit = 100;

// What the smoothing to convergence did.
struct ConvergedSmoothing {
  std::int32_t cycles = 0;   // multigrid cycles run
  ConvergenceFigure figure;  // of the final mesh, as the report program computes it
  // The move stopped falling where rounding leaves it, above the tolerance,
  // and the caller accepted that (see converge_smoothing).
  bool at_rounding = false;
  // And there the figure met the tolerance, but not with the 16 significant
  // digits the files hold.
  bool files_above = false;
};

// The state after each cycle (cycle 0: the starting mesh), for a progress
// line: the largest move of the mesh as the cycle left it (the mesh itself
// is the caller's, to measure further when it shows the step).
struct ConvergeStep {
  std::int32_t cycle = 0;
  double largest_move = 0.0;
};
using ConvergeObserver = std::function<void(const ConvergeStep&)>;

// Solves the smoothing equations of the mesh in `s` (smoothing selected, the
// elliptic file read, group B allocated) until the convergence figure
// relative to the shortest edge is at most `tolerance`, moving the interior
// vertices of xv and yv. A floating-point fault of the starting mesh stops
// the run with the report a smoothing pass would give. With the spacings
// apart, cycles that settle on a mesh with inverted cells, stop gaining or
// diverge are started again from the starting mesh by continuation in the
// ratio deta/dksi (converge.cpp). A run that still does not reach the
// tolerance ends with a report of what the cycles did and the figure reached
// (status 1, no file written).
// With `rounding_accepted`, an iteration whose move has stopped falling where
// rounding leaves it ends there instead, at_rounding set: the mesh is as
// converged as doubles allow.
// `options.threads` as for the passes: 1 keeps to this thread, 0 or 2 use
// the helper thread where the machine has a second core; the mesh is the
// same either way.
ConvergedSmoothing converge_smoothing(MeshState& s, double tolerance, bool rounding_accepted,
                                      const SmoothingOptions& options = {},
                                      const ConvergeObserver& observe = {});

}  // namespace malha

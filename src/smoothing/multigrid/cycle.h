// The nonlinear multigrid that solves the smoothing equations to
// convergence (smoothing/converge.h runs it): a full approximation scheme over
// a hierarchy of ever coarser vertex grids of the same logically rectangular
// mesh, each a subset of the vertices of the one below, smoothed by
// alternating zebra line relaxation. docs/converged-smoothing.md tells why
// this method and what it costs.
//
// A cycle (cycle.cpp) stands on the levels (levels.h), the relaxations
// (relax.h), level 0's residuals (residual.h) and the transfers between
// levels (transfers.h); the grid equation they all evaluate is
// smoothing/multigrid/stencil.h over smoothing/equation.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "smoothing/multigrid/levels.h"

namespace malha {
class HelperThread;
}

namespace malha::multigrid {

class Hierarchy {
 public:
  // Levels for a mesh of nxv by nyv vertices whose coordinates are xv, yv
  // (0-based), down to a grid of at most a few interior vertices each way.
  // With a helper thread the relaxations of the large levels use it.
  // psrc and qsrc (0-based, both or neither): the source terms of the
  // equations (--control); null, the equations without them.
  // avx2: level 0's loops take four vertices at once where the processor
  // can (multigrid/wide.h); the values are the same either way.
  Hierarchy(double* xv, double* yv, std::int32_t nxv, std::int32_t nyv, double dksi, double deta,
            HelperThread* helper, const double* psrc = nullptr, const double* qsrc = nullptr,
            bool avx2 = true);

  // Level 0's coefficients from its coordinates, by the operations of a
  // smoothing pass (level0_coefficients), and the residuals from them in the
  // order of the sweeps, with the largest move.
  FineResidual fine_residual();

  // One cycle from level 0, whose residuals fine_residual has just computed:
  // the correction from the coarser levels, then the relaxations.
  void cycle();

  std::size_t levels() const { return levels_.size(); }

  // Whether each cycle ends with one more relaxation of level 0 (rows and
  // columns of both parities): a third more work a cycle, for about half
  // the cycles near the spacing ratios where the solution folds
  // (docs/converged-smoothing.md).
  void relax_level0_again(bool again) { again_ = again; }

 private:
  void cycle_at(std::size_t l);
  void coarse_correction(std::size_t l);
  void relax(Level& level);

  double dksi_, deta_;
  HelperThread* helper_;
  bool again_ = false;
  std::vector<Level> levels_;
};

}  // namespace malha::multigrid

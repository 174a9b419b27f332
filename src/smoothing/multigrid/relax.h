// The zebra line relaxations and the coarse levels' residuals
// (smoothing/multigrid/relax.cpp).
#pragma once

#include "smoothing/multigrid/levels.h"

namespace malha {
class HelperThread;
}

namespace malha::multigrid {

// residual = f - N(u) at the interior vertices; with `operator_only`,
// f = N(u) instead (the right-hand side of a coarse level before the
// restricted residual is added).
void coarse_residual(Level& level, bool operator_only);

// One half of a zebra relaxation: every row (or column) of the given parity
// (0: the first interior line, 1: the second) solved exactly for its
// interior vertices, everything off it held.
// With a helper, a large level's lines are shared between two threads;
// the values are the same.
void relax_rows(Level& level, int parity, HelperThread* helper);
void relax_columns(Level& level, int parity, HelperThread* helper);

}  // namespace malha::multigrid

// Level 0's residuals (smoothing/multigrid/residual.cpp).
#pragma once

#include "smoothing/multigrid/levels.h"

namespace malha::multigrid {

// Level 0's residuals, from coefficients computed by the operations of a
// smoothing pass that zero sources leave (the metric terms but jac, alpha,
// gamma and beta/2) with the traps held, summed in the order of the sweeps.
// coefficients_in_range tells whether no trapped exception was raised and
// every |det| lies in the range where jac and g would not have raised one
// either (smoothing/fast/bounds.h).
// Each row's residuals are restricted to `coarse` (the next level, null when
// there is none) as soon as they are known (restrict_row): level 0 keeps one
// row of them.
FineResidual level0_residual(Level& level, Level* coarse, double dksi, double deta);

}  // namespace malha::multigrid

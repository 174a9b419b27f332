// Transfers between a level and the next coarser one
// (smoothing/multigrid/transfers.cpp).
#pragma once

#include "smoothing/multigrid/levels.h"

namespace malha::multigrid {

// The coarse level's x, y (and the values it was given, x0, y0) taken from
// the fine vertices where its vertices lie.
void inject(const Level& fine, Level& coarse);

// The fine residuals' weighted means added to the coarse right-hand sides.
void restrict_residual(const Level& fine, Level& coarse);

// The same for level 0, whose residuals are kept one row at a time: row f's
// (in fine.rx and fine.ry, just computed) weighted into the restricted
// residuals of the coarse rows it belongs to, held in coarse.rx and
// coarse.ry until add_restricted adds them to the right-hand sides. The
// sums are those of restrict_residual, term by term and in its order.
void restrict_row(const Level& fine, Level& coarse, std::int64_t f);
void add_restricted(Level& coarse);

// The coarse correction (u - x0) interpolated bilinearly and added to the
// fine coordinates.
void interpolate_correction(Level& fine, Level& coarse);

}  // namespace malha::multigrid

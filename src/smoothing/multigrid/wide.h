// Level 0's loops on four vertices at once (AVX2), where the processor has
// it: the line equations of the relaxations, the elimination of the columns
// and the residuals (smoothing/multigrid/wide.cpp). Each lane runs the
// operations of the two-lane loops it stands in for, rounded on its own, so
// the values are the same bits with and without it. Every function starts
// at a given position, goes on while four vertices are left and returns
// where it stopped; the caller's two-lane and one-lane loops do the rest.
#pragma once

#include <cstdint>

#include "smoothing/lanes.h"
#include "smoothing/multigrid/levels.h"
#include "smoothing/multigrid/stencil.h"

namespace malha::multigrid::wide {

// Whether the processor runs the four-lane loops (false where the build has
// none).
bool available();

// The equations of a line of level 0 four vertices at a time are
// stencil::wide_build_unit, declared in smoothing/multigrid/stencil.h where
// stencil::build calls it, and defined with these.

// The forward elimination's step at entries c .. count - 1 of the columns'
// equations e, their previous entries at b (the two-lane next_steps of
// smoothing/multigrid/relax.cpp).
std::int64_t next_steps(const stencil::Equations& e, const stencil::Equations& b, std::int64_t c,
                        std::int64_t count);

// Level 0's residuals of vertices p .. end - 1 of the row starting at
// `row`, without sources, kept in rx and ry at p - row; the least and
// largest |det| folded into the two-lane bounds in the order of the two-lane
// loop, the largest move kept as it keeps it.
std::int64_t level0_residuals(Level& level, std::int64_t p, std::int64_t row, std::int64_t end,
                              double cksi, double ceta, lanes::Pair& det_low, lanes::Pair& det_high,
                              Move& move);

}  // namespace malha::multigrid::wide

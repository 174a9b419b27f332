// Level 0's residuals: the equations exactly as a smoothing pass computes
// them (the metric terms, then the coefficients with zero sources, or with
// the source terms under --control), summed in
// the order of the sweeps, two vertices at a time; with the largest move, as
// the convergence figure takes it.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>

#include "platform.h"
#include "smoothing/equation.h"
#include "smoothing/fast/bounds.h"
#include "smoothing/multigrid/residual.h"
#include "smoothing/multigrid/stencil.h"
#include "smoothing/multigrid/transfers.h"
#include "smoothing/multigrid/wide.h"

namespace malha::multigrid {

namespace {

using namespace stencil;

// The residuals of vertices p, p + 1 of level 0 (or of p alone), kept in rx
// and ry; returns max(|rx|, |ry|) and ap through the last two arguments.
template <class V>
MALHA_ALWAYS_INLINE void level0_vertex(Level& level, std::int64_t p, std::int64_t row, V cksi,
                                       V ceta, V& det_low, V& det_high, V& larger, V& ap_out) {
  const std::int64_t nx = level.ax.n;
  const auto at = [&](const double* u) {
    if constexpr (sizeof(V) == sizeof(double))
      return stencil_of_one(u, p, nx);
    else
      return stencil_of_two(u, p, nx);
  };
  const Stencil<V> x = at(level.x), y = at(level.y);
  // The grid equation with zero sources (smoothing/equation.h), as a pass
  // computes it but jac: ae = aw = alpha, an = as = gamma,
  // anw = ase = beta/2 = -ane = -asw.
  const equation::Derivatives<V> d =
      equation::derivatives(x.e, x.w, x.n, x.s, y.e, y.w, y.n, y.s, cksi, ceta);
  const equation::Unsourced<V> c = equation::without_sources(d);
  const V det = lanes_magnitude(c.determinant);
  det_low = lanes_lower(det_low, det);
  det_high = lanes_higher(det_high, det);
  const V a = c.alpha, g = c.gamma, hb = c.half_beta, ap = c.ap;
  const V nhb = negate(hb);
  // asw, as, an, anw, aw, ae, ase, ane: the order of the sweeps.
  const V sx =
      nhb * x.sw + g * x.s + g * x.n + hb * x.nw + a * x.w + a * x.e + hb * x.se + nhb * x.ne;
  const V sy =
      nhb * y.sw + g * y.s + g * y.n + hb * y.nw + a * y.w + a * y.e + hb * y.se + nhb * y.ne;
  // The residual f - N(u) with f = 0.
  const V rx = ap * x.c - sx, ry = ap * y.c - sy;
  if constexpr (sizeof(V) == sizeof(double)) {
    level.rx[p - row] = rx, level.ry[p - row] = ry;
  } else {
    lanes::store(level.rx.data() + (p - row), rx), lanes::store(level.ry.data() + (p - row), ry);
  }
  larger = lanes_higher(lanes_magnitude(rx), lanes_magnitude(ry));
  ap_out = lanes_magnitude(ap);
}

// The residuals of vertex p of level 0 with the source terms (--control):
// the coefficients as a pass computes them (equation::with_sources), the
// products summed in the order of the sweeps as the convergence figure sums
// them.
void level0_vertex_with_sources(Level& level, std::int64_t p, std::int64_t row, double cksi,
                                double ceta, double& det_low, double& det_high, double& larger,
                                double& ap_out) {
  const std::int64_t nx = level.ax.n;
  const Stencil<double> x = stencil_of_one(level.x, p, nx), y = stencil_of_one(level.y, p, nx);
  const equation::Derivatives<double> d =
      equation::derivatives(x.e, x.w, x.n, x.s, y.e, y.w, y.n, y.s, cksi, ceta);
  const double det = std::fabs(equation::determinant(d));
  det_low = lanes_lower(det_low, det);
  det_high = lanes_higher(det_high, det);
  const equation::Coefficients<double> c = equation::with_sources(d, level.p[p], level.q[p]);
  const auto residual = [&](const Stencil<double>& u) {
    const double sum = c.asw * u.sw + c.as * u.s + c.an * u.n + c.anw * u.nw + c.aw * u.w +
                       c.ae * u.e + c.ase * u.se + c.ane * u.ne;
    return c.ap * u.c - sum;
  };
  const double rx = residual(x), ry = residual(y);
  level.rx[p - row] = rx, level.ry[p - row] = ry;
  larger = lanes_higher(std::fabs(rx), std::fabs(ry));
  ap_out = std::fabs(c.ap);
}

// The residuals of the interior vertices of the row starting at `row`
// (vertex p = row + i), kept in level.rx and level.ry at i, with the bounds
// of |det| and the largest move.
void row_residuals(Level& level, std::int64_t row, std::int64_t end, double cksi, double ceta,
                   double& det_low, double& det_high, Pair& det_lows, Pair& det_highs, Move& move) {
  std::int64_t p = row + 1;
  if (level.p != nullptr) {
    for (; p < end; ++p) {
      double larger = 0.0, ap = 0.0;
      level0_vertex_with_sources(level, p, row, cksi, ceta, det_low, det_high, larger, ap);
      keep_larger(move, larger, ap, p);
    }
    return;
  }
  if (level.wide)
    p = wide::level0_residuals(level, p, row, end, cksi, ceta, det_lows, det_highs, move);
  for (; p + 1 < end; p += 2) {
    Pair larger, ap;
    level0_vertex(level, p, row, lanes::splat(cksi), lanes::splat(ceta), det_lows, det_highs,
                  larger, ap);
    if (move.vertex == 0 ||
        lanes::any_greater(larger, lanes::splat(move.largest * kBelowOne) * ap)) {
      keep_larger(move, lanes::lane(larger, 0), lanes::lane(ap, 0), p);
      keep_larger(move, lanes::lane(larger, 1), lanes::lane(ap, 1), p + 1);
    }
  }
  if (p < end) {
    double larger = 0.0, ap = 0.0;
    level0_vertex(level, p, row, cksi, ceta, det_low, det_high, larger, ap);
    keep_larger(move, larger, ap, p);
  }
}

}  // namespace

FineResidual level0_residual(Level& level, Level* coarse, double dksi, double deta) {
  const platform::FpTrapsHeld held;
  std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  const std::int64_t nx = level.ax.n, ny = level.ay.n;
  const double cksi = 0.5 / dksi;
  const double ceta = 0.5 / deta;
  double det_low = kSafeDetHigh, det_high = kSafeDetLow;
  Pair det_lows = lanes::splat(det_low), det_highs = lanes::splat(det_high);
  FineResidual r;
  Move& move = r.move;
  for (std::int64_t j = 1; j < ny - 1; ++j) {
    const std::int64_t row = j * nx, end = row + nx - 1;
    row_residuals(level, row, end, cksi, ceta, det_low, det_high, det_lows, det_highs, move);
    if (coarse != nullptr) restrict_row(level, *coarse, j);
  }
  det_low = std::min({det_low, lanes::lane(det_lows, 0), lanes::lane(det_lows, 1)});
  det_high = std::max({det_high, lanes::lane(det_highs, 0), lanes::lane(det_highs, 1)});
  r.coefficients_in_range = det_low >= kSafeDetLow && det_high <= kSafeDetHigh &&
                            std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) == 0;
  return r;
}

}  // namespace malha::multigrid

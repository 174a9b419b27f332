// The hierarchy of levels and the cycle of the full approximation scheme.
//
// A coarse level solves N_c(u_c) = f_c with f_c = R(f - N(u)) + N_c(I u): its
// equations are those of its own coordinates, shifted by the residual the
// level below restricts to it, so that its solution minus the injected
// values I u is the correction the level below needs, whatever the
// nonlinearity. The correction is interpolated bilinearly; restriction is
// the weighted mean of the fine vertices around a coarse one, with the
// interpolation's weights.
#include "smoothing/multigrid/cycle.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "smoothing/multigrid/relax.h"
#include "smoothing/multigrid/residual.h"
#include "smoothing/multigrid/transfers.h"
#include "smoothing/multigrid/wide.h"

namespace malha::multigrid {

namespace {

// Relaxations (each: coefficients, rows of both parities, columns of both
// parities) before and after the correction from the coarser levels, and on
// the coarsest level, where a handful of unknowns is solved by relaxation
// alone.
constexpr int kRelaxBefore = 1;
constexpr int kRelaxAfter = 1;
constexpr int kRelaxCoarsest = 8;

void size_level(Level& level, bool coarse) {
  level.size = static_cast<std::int64_t>(level.ax.n) * level.ay.n;
  const auto n = static_cast<std::size_t>(level.size);
  // Level 0's residuals are restricted row by row as they are computed: one
  // row of them is kept.
  const std::size_t residuals = coarse ? n : static_cast<std::size_t>(level.ax.n);
  for (std::vector<double>* v : {&level.rx, &level.ry}) v->assign(residuals, 0.0);
  if (!coarse) return;
  for (std::vector<double>* v :
       {&level.own_x, &level.own_y, &level.x0, &level.y0, &level.fx, &level.fy})
    v->assign(n, 0.0);
  level.x = level.own_x.data();
  level.y = level.own_y.data();
}

std::vector<double> steps_of(std::int32_t n) {
  std::vector<double> position(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) position[i] = i;
  return position;
}

// The source terms of `coarse` injected from `fine`: their values at the
// fine vertices where the coarse ones lie (fine.ax.fine_of, fine.ay.fine_of,
// just filled by coarsen).
void inject_sources(const Level& fine, Level& coarse) {
  const std::int64_t nf = fine.ax.n, nc = coarse.ax.n;
  const auto size = static_cast<std::size_t>(coarse.ax.n) * static_cast<std::size_t>(coarse.ay.n);
  coarse.own_p.assign(size, 0.0);
  coarse.own_q.assign(size, 0.0);
  for (std::int64_t j = 0; j < coarse.ay.n; ++j) {
    for (std::int64_t i = 0; i < nc; ++i) {
      const std::int64_t f = fine.ay.fine_of[j] * nf + fine.ax.fine_of[i];
      coarse.own_p[j * nc + i] = fine.p[f];
      coarse.own_q[j * nc + i] = fine.q[f];
    }
  }
  coarse.p = coarse.own_p.data();
  coarse.q = coarse.own_q.data();
}

}  // namespace

Hierarchy::Hierarchy(double* xv, double* yv, std::int32_t nxv, std::int32_t nyv, double dksi,
                     double deta, HelperThread* helper, const double* psrc, const double* qsrc,
                     bool avx2)
    : dksi_(dksi), deta_(deta), helper_(helper) {
  levels_.emplace_back();
  Level& top = levels_.back();
  top.ax = make_axis(steps_of(nxv), dksi);
  top.ay = make_axis(steps_of(nyv), deta);
  size_level(top, false);
  top.unit_steps = true;
  top.wide = avx2 && wide::available();
  top.x = xv;
  top.y = yv;
  if (psrc != nullptr && qsrc != nullptr) top.p = psrc, top.q = qsrc;
  while (can_coarsen(levels_.back().ax.n) || can_coarsen(levels_.back().ay.n)) {
    Level coarse;
    coarse.ax = coarsen(levels_.back().ax, dksi);
    coarse.ay = coarsen(levels_.back().ay, deta);
    size_level(coarse, true);
    coarse.wide = levels_.front().wide;
    if (levels_.front().p != nullptr) inject_sources(levels_.back(), coarse);
    levels_.push_back(std::move(coarse));
  }
}

FineResidual Hierarchy::fine_residual() {
  return level0_residual(levels_[0], levels_.size() > 1 ? &levels_[1] : nullptr, dksi_, deta_);
}

void Hierarchy::relax(Level& level) {
  relax_rows(level, 0, helper_);
  relax_rows(level, 1, helper_);
  relax_columns(level, 0, helper_);
  relax_columns(level, 1, helper_);
}

void Hierarchy::coarse_correction(std::size_t l) {
  Level& fine = levels_[l];
  Level& coarse = levels_[l + 1];
  inject(fine, coarse);
  coarse_residual(coarse, true);
  // Level 0's residuals were restricted as fine_residual computed them.
  if (l == 0)
    add_restricted(coarse);
  else
    restrict_residual(fine, coarse);
  cycle_at(l + 1);
  interpolate_correction(fine, coarse);
}

void Hierarchy::cycle_at(std::size_t l) {
  Level& level = levels_[l];
  if (l + 1 == levels_.size()) {
    for (int k = 0; k < kRelaxCoarsest; ++k) relax(level);
    return;
  }
  for (int k = 0; k < kRelaxBefore; ++k) relax(level);
  coarse_residual(level, false);
  coarse_correction(l);
  for (int k = 0; k < kRelaxAfter; ++k) relax(level);
}

void Hierarchy::cycle() {
  if (levels_.size() > 1) coarse_correction(0);
  // Level 0 relaxes after the correction only (the next cycle's residual
  // follows): columns, rows, columns. Cycles of full relaxations (rows and
  // columns, twice) take about as many cycles as these on isotropic meshes
  // and a sixth fewer on very anisotropic ones, at a fifth more work a cycle;
  // rows and columns once take two more cycles on isotropic meshes and
  // nearly twice as many on anisotropic ones.
  Level& top = levels_[0];
  relax_columns(top, 0, helper_);
  relax_columns(top, 1, helper_);
  relax_rows(top, 0, helper_);
  relax_rows(top, 1, helper_);
  relax_columns(top, 0, helper_);
  relax_columns(top, 1, helper_);
  if (again_) relax(top);
}

}  // namespace malha::multigrid

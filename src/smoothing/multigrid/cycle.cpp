// The hierarchy of levels, the transfers between them and the cycle of the
// full approximation scheme.
//
// A coarse level solves N_c(u_c) = f_c with f_c = R(f - N(u)) + N_c(I u): its
// equations are those of its own coordinates, shifted by the residual the
// level below restricts to it, so that its solution minus the injected
// values I u is the correction the level below needs, whatever the
// nonlinearity. The correction is interpolated bilinearly; restriction is
// the weighted mean of the fine vertices around a coarse one, with the
// interpolation's weights.
#include "smoothing/multigrid/levels.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace malha::multigrid {

namespace {

// Relaxations (each: coefficients, rows of both parities, columns of both
// parities) before and after the correction from the coarser levels, and on
// the coarsest level, where a handful of unknowns is solved by relaxation
// alone.
constexpr int kRelaxBefore = 1;
constexpr int kRelaxAfter = 1;
constexpr int kRelaxCoarsest = 8;
// An axis of fewer steps than this is not coarsened.
constexpr std::int32_t kLeastStepsToCoarsen = 4;

void size_level(Level& level, bool coarse) {
  level.size = static_cast<std::int64_t>(level.ax.n) * level.ay.n;
  const auto n = static_cast<std::size_t>(level.size);
  for (std::vector<double>* v : {&level.rx, &level.ry}) v->assign(n, 0.0);
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

}  // namespace

bool can_coarsen(std::int32_t n) {
  return n - 1 >= kLeastStepsToCoarsen;
}

Axis make_axis(std::vector<double> position, double spacing) {
  Axis a;
  a.n = static_cast<std::int32_t>(position.size());
  a.position = std::move(position);
  for (std::vector<double>* v : {&a.first, &a.next, &a.previous, &a.cross})
    v->assign(a.position.size(), 0.0);
  for (std::int32_t i = 1; i + 1 < a.n; ++i) {
    const double before = a.position[i] - a.position[i - 1];
    const double after = a.position[i + 1] - a.position[i];
    const double both = before + after;
    a.first[i] = 1.0 / (both * spacing);
    a.next[i] = 2.0 / (both * after);
    a.previous[i] = 2.0 / (both * before);
    a.cross[i] = 2.0 / both;
  }
  return a;
}

Axis coarsen(Axis& fine, double spacing) {
  const std::int32_t n = fine.n;
  std::vector<std::int32_t>& at = fine.fine_of;
  at.clear();
  if (can_coarsen(n)) {
    const std::int32_t steps = n - 1;
    for (std::int32_t c = 0; c < steps / 2; ++c) at.push_back(2 * c);
    at.push_back(steps);  // an odd count of steps: the last coarse step spans three
  } else {
    for (std::int32_t c = 0; c < n; ++c) at.push_back(c);
  }
  const auto nc = static_cast<std::int32_t>(at.size());
  std::vector<double> position(at.size());
  for (std::int32_t c = 0; c < nc; ++c) position[c] = fine.position[at[c]];

  fine.below.assign(n, nc - 1);
  fine.weight.assign(n, 1.0);
  for (std::int32_t c = 0; c + 1 < nc; ++c) {
    for (std::int32_t f = at[c]; f < at[c + 1]; ++f) {
      fine.below[f] = c;
      fine.weight[f] = (position[c + 1] - fine.position[f]) / (position[c + 1] - position[c]);
    }
  }
  fine.restrict_start.assign(1, 0);
  fine.restrict_fine.clear();
  fine.restrict_weight.clear();
  for (std::int32_t c = 0; c < nc; ++c) {
    const std::int32_t from = c > 0 ? at[c - 1] + 1 : at[c];
    const std::int32_t to = c + 1 < nc ? at[c + 1] - 1 : at[c];
    const std::size_t begin = fine.restrict_weight.size();
    double sum = 0.0;
    for (std::int32_t f = from; f <= to; ++f) {
      const double w = fine.below[f] == c ? fine.weight[f] : 1.0 - fine.weight[f];
      fine.restrict_fine.push_back(f);
      fine.restrict_weight.push_back(w);
      sum += w;
    }
    for (std::size_t k = begin; k < fine.restrict_weight.size(); ++k)
      fine.restrict_weight[k] /= sum;
    fine.restrict_start.push_back(static_cast<std::int32_t>(fine.restrict_weight.size()));
  }
  return make_axis(std::move(position), spacing);
}

void inject(const Level& fine, Level& coarse) {
  const std::int64_t nfx = fine.ax.n, ncx = coarse.ax.n;
  for (std::int32_t jc = 0; jc < coarse.ay.n; ++jc) {
    const std::int64_t row = static_cast<std::int64_t>(fine.ay.fine_of[jc]) * nfx;
    for (std::int32_t ic = 0; ic < coarse.ax.n; ++ic) {
      const std::int64_t p = jc * ncx + ic, q = row + fine.ax.fine_of[ic];
      coarse.x[p] = coarse.x0[p] = fine.x[q];
      coarse.y[p] = coarse.y0[p] = fine.y[q];
    }
  }
}

void restrict_residual(const Level& fine, Level& coarse) {
  const std::int64_t nfx = fine.ax.n, ncx = coarse.ax.n;
  const Axis &fx = fine.ax, &fy = fine.ay;
  for (std::int32_t jc = 1; jc + 1 < coarse.ay.n; ++jc) {
    for (std::int32_t ic = 1; ic + 1 < coarse.ax.n; ++ic) {
      double sx = 0.0, sy = 0.0;
      for (std::int32_t kj = fy.restrict_start[jc]; kj < fy.restrict_start[jc + 1]; ++kj) {
        const std::int64_t row = fy.restrict_fine[kj] * nfx;
        double rowx = 0.0, rowy = 0.0;
        for (std::int32_t ki = fx.restrict_start[ic]; ki < fx.restrict_start[ic + 1]; ++ki) {
          const std::int64_t q = row + fx.restrict_fine[ki];
          rowx += fx.restrict_weight[ki] * fine.rx[q];
          rowy += fx.restrict_weight[ki] * fine.ry[q];
        }
        sx += fy.restrict_weight[kj] * rowx;
        sy += fy.restrict_weight[kj] * rowy;
      }
      const std::int64_t p = jc * ncx + ic;
      coarse.fx[p] += sx;
      coarse.fy[p] += sy;
    }
  }
}

void interpolate_correction(Level& fine, Level& coarse) {
  // The correction e = u - (the injected u) of two coarse rows at a time,
  // interpolated along the rows to the fine columns; each fine row then
  // takes its weights of the two.
  const std::int64_t nfx = fine.ax.n, ncx = coarse.ax.n;
  std::vector<double>& rows = at_least(coarse.line_work, static_cast<std::size_t>(4 * nfx));
  double* lower[2] = {rows.data(), rows.data() + nfx};                // x, y of the row below
  double* upper[2] = {rows.data() + 2 * nfx, rows.data() + 3 * nfx};  // of the row above
  const auto along_row = [&](std::int64_t jc, double* const(&out)[2]) {
    const double* u[2] = {coarse.x + jc * ncx, coarse.y + jc * ncx};
    const double* u0[2] = {coarse.x0.data() + jc * ncx, coarse.y0.data() + jc * ncx};
    for (int c = 0; c < 2; ++c) {
      for (std::int64_t i = 1; i + 1 < nfx; ++i) {
        const std::int64_t ic = fine.ax.below[i];
        const double w = fine.ax.weight[i];
        out[c][i] = w * (u[c][ic] - u0[c][ic]) + (1.0 - w) * (u[c][ic + 1] - u0[c][ic + 1]);
      }
    }
  };
  std::int64_t held = -1;  // the coarse row in `lower`
  for (std::int64_t j = 1; j + 1 < fine.ay.n; ++j) {
    const std::int64_t jc = fine.ay.below[j];
    if (jc != held) {
      if (jc == held + 1 && held >= 0) {
        std::swap(lower, upper);
      } else {
        along_row(jc, lower);
      }
      along_row(jc + 1, upper);
      held = jc;
    }
    const double wj = fine.ay.weight[j], vj = 1.0 - wj;
    double* x = fine.x + j * nfx;
    double* y = fine.y + j * nfx;
    for (std::int64_t i = 1; i + 1 < nfx; ++i) {
      x[i] += wj * lower[0][i] + vj * upper[0][i];
      y[i] += wj * lower[1][i] + vj * upper[1][i];
    }
  }
}

Hierarchy::Hierarchy(double* xv, double* yv, std::int32_t nxv, std::int32_t nyv, double dksi,
                     double deta, HelperThread* helper)
    : dksi_(dksi), deta_(deta), helper_(helper) {
  levels_.emplace_back();
  Level& top = levels_.back();
  top.ax = make_axis(steps_of(nxv), dksi);
  top.ay = make_axis(steps_of(nyv), deta);
  size_level(top, false);
  top.unit_steps = true;
  top.x = xv;
  top.y = yv;
  while (can_coarsen(levels_.back().ax.n) || can_coarsen(levels_.back().ay.n)) {
    Level coarse;
    coarse.ax = coarsen(levels_.back().ax, dksi);
    coarse.ay = coarsen(levels_.back().ay, deta);
    size_level(coarse, true);
    levels_.push_back(std::move(coarse));
  }
}

FineResidual Hierarchy::fine_residual() {
  return level0_residual(levels_[0], dksi_, deta_);
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
}

}  // namespace malha::multigrid

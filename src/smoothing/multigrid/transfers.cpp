// Transfers between a level and the next coarser one: injection of the
// coordinates, restriction of the residuals (the weighted mean of the fine
// vertices around a coarse one, with the interpolation's weights) and the
// bilinear interpolation of the correction.
#include "smoothing/multigrid/transfers.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace malha::multigrid {

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

void restrict_row(const Level& fine, Level& coarse, std::int64_t f) {
  const Axis &fx = fine.ax, &fy = fine.ay;
  const std::int64_t ncx = coarse.ax.n;
  // The row's weighted means along the row (restrict_residual's rowx, rowy)
  // at the interior coarse columns, kept at the ends of coarse.line_work.
  std::vector<double>& means = at_least(coarse.line_work, static_cast<std::size_t>(2 * ncx));
  double* mx = means.data();
  double* my = means.data() + ncx;
  for (std::int32_t ic = 1; ic + 1 < coarse.ax.n; ++ic) {
    double rowx = 0.0, rowy = 0.0;
    for (std::int32_t ki = fx.restrict_start[ic]; ki < fx.restrict_start[ic + 1]; ++ki) {
      const std::int64_t q = fx.restrict_fine[ki];
      rowx += fx.restrict_weight[ki] * fine.rx[q];
      rowy += fx.restrict_weight[ki] * fine.ry[q];
    }
    mx[ic] = rowx, my[ic] = rowy;
  }
  // Row f lies in the ranges of the coarse row below it and, off a coarse
  // row, of the next one.
  for (std::int64_t jc = fy.below[f]; jc <= fy.below[f] + 1; ++jc) {
    if (jc < 1 || jc + 1 >= coarse.ay.n) continue;
    for (std::int32_t kj = fy.restrict_start[jc]; kj < fy.restrict_start[jc + 1]; ++kj) {
      if (fy.restrict_fine[kj] != f) continue;
      double* sx = coarse.rx.data() + jc * ncx;
      double* sy = coarse.ry.data() + jc * ncx;
      const bool first = kj == fy.restrict_start[jc];
      for (std::int32_t ic = 1; ic + 1 < coarse.ax.n; ++ic) {
        if (first) sx[ic] = 0.0, sy[ic] = 0.0;
        sx[ic] += fy.restrict_weight[kj] * mx[ic];
        sy[ic] += fy.restrict_weight[kj] * my[ic];
      }
    }
  }
}

void add_restricted(Level& coarse) {
  const std::int64_t ncx = coarse.ax.n;
  for (std::int64_t jc = 1; jc + 1 < coarse.ay.n; ++jc) {
    for (std::int64_t ic = 1; ic + 1 < ncx; ++ic) {
      const std::int64_t p = jc * ncx + ic;
      coarse.fx[p] += coarse.rx[p];
      coarse.fy[p] += coarse.ry[p];
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

}  // namespace malha::multigrid

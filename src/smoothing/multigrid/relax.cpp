// The zebra line relaxations of a level, and the residuals of the coarser
// levels. The equations come from smoothing/multigrid/stencil.h. Level 0
// holds most of the work: its loops take two vertices at a time, and the odd
// vertex left over the same operations on one; the coarser levels, with
// their uneven steps, take one vertex at a time.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "helper_thread.h"
#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/lanes.h"
#include "smoothing/multigrid/relax.h"
#include "smoothing/multigrid/stencil.h"
#include "smoothing/multigrid/wide.h"

namespace malha::multigrid {

namespace {

using namespace stencil;

// Rows relaxed together (their eliminations interleave).
constexpr int kRowsTogether = 4;
// A level of fewer vertices is relaxed on one thread: handing half of a
// relaxation over would cost more than it saves.
constexpr std::int64_t kLeastSizeForTwoThreads = 16384;

// The first step of Thomas's algorithm on a line (its first vertex), and
// every later one, given the previous vertex's results. The matrix is
// diagonally dominant (|diag| >= lower + upper, the coefficients being sums
// of squares), so no pivoting is needed.
MALHA_ALWAYS_INLINE void first_step(const Equations& e, std::int64_t q) {
  const double inverse = 1.0 / e.diag[q];
  e.upper[q] *= inverse;
  e.bx[q] *= inverse;
  e.by[q] *= inverse;
}

MALHA_ALWAYS_INLINE void next_step(const Equations& e, std::int64_t q, double upper, double bx,
                                   double by) {
  const double inverse = 1.0 / (e.diag[q] - e.lower[q] * upper);
  e.upper[q] *= inverse;
  e.bx[q] = (e.bx[q] - e.lower[q] * bx) * inverse;
  e.by[q] = (e.by[q] - e.lower[q] * by) * inverse;
}

// Two lines side by side (entries q and q + 1), their previous entries at b.
MALHA_ALWAYS_INLINE void next_steps(const Equations& e, std::int64_t q, const Equations& b) {
  using lanes::load, lanes::store;
  const Pair lower = load(e.lower + q);
  const Pair inverse = lanes::splat(1.0) / (load(e.diag + q) - lower * load(b.upper + q));
  store(e.upper + q, load(e.upper + q) * inverse);
  store(e.bx + q, (load(e.bx + q) - lower * load(b.bx + q)) * inverse);
  store(e.by + q, (load(e.by + q) - lower * load(b.by + q)) * inverse);
}

// The rows of the given parity numbered from `from` to `to` - 1 (row
// j = 1 + parity + 2t is number t), kRowsTogether at a time; `work` holds
// 5*kRowsTogether*(nx - 2) values.
void relax_rows_of(Level& level, std::vector<double>& work, int parity, std::int64_t from,
                   std::int64_t to) {
  const std::int64_t nx = level.ax.n, m = nx - 2;
  Equations rows[kRowsTogether];
  for (int r = 0; r < kRowsTogether; ++r)
    rows[r] = Equations::in(work, static_cast<std::size_t>(5 * r * m), m);
  for (std::int64_t t = from; t < to; t += kRowsTogether) {
    const std::int64_t first = 1 + parity + 2 * t;
    const int count = static_cast<int>(std::min<std::int64_t>(kRowsTogether, to - t));
    for (int r = 0; r < count; ++r) {
      const std::int64_t j = first + 2 * r, row = j * nx;
      const Equations& e = rows[r];
      build<true, 1>(level, j, 1, m, e);
      e.bx[0] -= e.lower[0] * level.x[row], e.by[0] -= e.lower[0] * level.y[row];
      e.bx[m - 1] -= e.upper[m - 1] * level.x[row + nx - 1];
      e.by[m - 1] -= e.upper[m - 1] * level.y[row + nx - 1];
      first_step(e, 0);
    }
    // The eliminations of the rows interleave: each one's chain of
    // dependent divisions overlaps the others'.
    for (std::int64_t k = 1; k < m; ++k)
      for (int r = 0; r < count; ++r)
        next_step(rows[r], k, rows[r].upper[k - 1], rows[r].bx[k - 1], rows[r].by[k - 1]);
    // The back substitutions interleave likewise.
    double* x[kRowsTogether];
    double* y[kRowsTogether];
    for (int r = 0; r < count; ++r) {
      x[r] = level.x + (first + 2 * r) * nx + 1;
      y[r] = level.y + (first + 2 * r) * nx + 1;
      x[r][m - 1] = rows[r].bx[m - 1], y[r][m - 1] = rows[r].by[m - 1];
    }
    for (std::int64_t k = m - 2; k >= 0; --k) {
      for (int r = 0; r < count; ++r) {
        x[r][k] = rows[r].bx[k] - rows[r].upper[k] * x[r][k + 1];
        y[r][k] = rows[r].by[k] - rows[r].upper[k] * y[r][k + 1];
      }
    }
  }
}

// The columns of the given parity numbered from `from` to `to` - 1 (column
// i = 1 + parity + 2c is number c) at once, row after row: the forward
// elimination two columns at a time, the results of every row kept for the
// back substitution, which then goes down the rows. Rows are read and
// written whole, in order. `work` holds (3*(ny - 2) + 2)*(to - from) values.
void relax_columns_of(Level& level, std::vector<double>& work, int parity, std::int64_t from,
                      std::int64_t to) {
  const std::int64_t nx = level.ax.n, ny = level.ay.n, m = ny - 2;
  const std::int64_t first = 1 + parity + 2 * from, count = to - from;
  const std::size_t row_values = static_cast<std::size_t>(3 * count);
  double* const rows = work.data();
  const auto row_of = [&](std::int64_t k) {
    double* w = rows + row_values * static_cast<std::size_t>(k);
    double* line = rows + row_values * static_cast<std::size_t>(m);
    return Equations{line, line + count, w, w + count, w + 2 * count};
  };
  for (std::int64_t k = 0; k < m; ++k) {
    const Equations e = row_of(k);
    build<false, 2>(level, k + 1, first, count, e);
    // The ends of the columns, below the first row and above the last.
    const auto move_end = [&](std::int64_t end, const double* weight) {
      for (std::int64_t c = 0; c < count; ++c) {
        e.bx[c] -= weight[c] * level.x[end + 2 * c];
        e.by[c] -= weight[c] * level.y[end + 2 * c];
      }
    };
    if (k == 0) move_end(first, e.lower);
    if (k == m - 1) move_end((ny - 1) * nx + first, e.upper);
    if (k == 0) {
      for (std::int64_t c = 0; c < count; ++c) first_step(e, c);
      continue;
    }
    const Equations b = row_of(k - 1);
    std::int64_t c = level.wide ? wide::next_steps(e, b, 0, count) : 0;
    for (; c + 1 < count; c += 2) next_steps(e, c, b);
    for (; c < count; ++c) next_step(e, c, b.upper[c], b.bx[c], b.by[c]);
  }
  for (std::int64_t k = m - 1; k >= 0; --k) {
    const Equations e = row_of(k);
    double* x = level.x + (k + 1) * nx + first;
    double* y = level.y + (k + 1) * nx + first;
    for (std::int64_t c = 0; c < count; ++c) {
      x[2 * c] = k == m - 1 ? e.bx[c] : e.bx[c] - e.upper[c] * x[2 * c + nx];
      y[2 * c] = k == m - 1 ? e.by[c] : e.by[c] - e.upper[c] * y[2 * c + nx];
    }
  }
}

// Runs part(work, from, to) over lines 0 .. lines - 1: on a large level with
// a helper, the first half here and the second on the helper, each with
// scratch of its own (sized here by `scratch`, of a part's line count).
// Lines of one parity neither read nor write each other, so the split
// changes no value.
template <class Scratch, class Part>
void split_lines(Level& level, HelperThread* helper, std::int64_t lines, Scratch scratch,
                 Part part) {
  if (lines <= 0) return;
  const bool two = helper != nullptr && level.size >= kLeastSizeForTwoThreads && lines >= 2;
  const std::int64_t half = two ? lines / 2 : lines;
  at_least(level.line_work, scratch(half));
  if (two) {
    at_least(level.helper_work, scratch(lines - half));
    if (helper->try_start([&] { part(level.helper_work, half, lines); })) {
      try {
        part(level.line_work, 0, half);
      } catch (...) {
        helper->finish();
        throw;
      }
      helper->finish();
      return;
    }
    at_least(level.line_work, scratch(lines));
  }
  part(level.line_work, 0, lines);
}

}  // namespace

void coarse_residual(Level& level, bool operator_only) {
  const std::int64_t nx = level.ax.n, ny = level.ay.n, m = nx - 2;
  at_least(level.line_work, static_cast<std::size_t>(5 * m));
  const Equations e = Equations::in(level.line_work, 0, m);
  for (std::int64_t j = 1; j < ny - 1; ++j) {
    // The row's equations give N(u) - f as lower*u(W) + diag*u + upper*u(E)
    // - b; with operator_only they are built with f = 0, giving N(u).
    build<true, 1>(level, j, 1, m, e, !operator_only);
    const double* x = level.x + j * nx + 1;
    const double* y = level.y + j * nx + 1;
    double* fx = level.fx.data() + j * nx + 1;
    double* fy = level.fy.data() + j * nx + 1;
    double* rx = level.rx.data() + j * nx + 1;
    double* ry = level.ry.data() + j * nx + 1;
    for (std::int64_t k = 0; k < m; ++k) {
      const double gx = e.lower[k] * x[k - 1] + e.diag[k] * x[k] + e.upper[k] * x[k + 1] - e.bx[k];
      const double gy = e.lower[k] * y[k - 1] + e.diag[k] * y[k] + e.upper[k] * y[k + 1] - e.by[k];
      if (operator_only) {
        fx[k] = gx, fy[k] = gy;
      } else {
        rx[k] = -gx, ry[k] = -gy;
      }
    }
  }
}

void relax_rows(Level& level, int parity, HelperThread* helper) {
  const std::int64_t m = level.ax.n - 2;
  split_lines(
      level, helper, (level.ay.n - 1 - parity) / 2,
      [&](std::int64_t) { return static_cast<std::size_t>(5 * kRowsTogether * m); },
      [&](std::vector<double>& work, std::int64_t from, std::int64_t to) {
        relax_rows_of(level, work, parity, from, to);
      });
}

void relax_columns(Level& level, int parity, HelperThread* helper) {
  const std::int64_t m = level.ay.n - 2;
  if (m <= 0) return;
  split_lines(
      level, helper, (level.ax.n - 1 - parity) / 2,
      [&](std::int64_t count) { return static_cast<std::size_t>((3 * m + 2) * count); },
      [&](std::vector<double>& work, std::int64_t from, std::int64_t to) {
        relax_columns_of(level, work, parity, from, to);
      });
}

}  // namespace malha::multigrid

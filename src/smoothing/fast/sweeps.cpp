// Steps 1 to 3 and 6 to 9 of the fast smoothing pass (the argument is in
// smoothing/fast/pass.cpp): the update of a vertex, the row tasks in groups along
// the wavefront on one or two threads, the early end, and the coordinates
// copied back.
#include <algorithm>
#include <cstdint>

#include "helper_thread.h"
#include "smoothing/fast/parts.h"
#include "smoothing/fast/wavefront.h"
#include "smoothing/lanes.h"

namespace malha {

namespace {

using namespace lanes;

// Steps 1 to 3: the Gauss-Seidel update of x and y at 0-based vertex p.
// `west` is u(W), passed in by a caller that has it in a register. Without
// sources ae is aw (alpha) and an is as (gamma).
template <bool Sourced>
MALHA_ALWAYS_INLINE Pair update(const SweepData& d, std::int64_t p, Pair west) {
  double* u = d.u;
  const std::int64_t nxv = d.nxv;
  const Pair aw = splat(d.a.west[p]), as = splat(d.a.south[p]), hb = splat(d.a.half_beta[p]);
  const Pair ae = Sourced ? splat(d.a.east[p]) : aw, an = Sourced ? splat(d.a.north[p]) : as;
  const std::int64_t so = p - nxv, n = p + nxv;
  Pair sum = as * load(u + 2 * so) - hb * load(u + 2 * (so - 1));  // as*u(S) + asw*u(SW)
  sum = sum + an * load(u + 2 * n);                                // an*u(N)
  sum = sum + hb * load(u + 2 * (n - 1));                          // anw*u(NW)
  sum = sum + aw * west;                                           // aw*u(W)
  sum = sum + ae * load(u + 2 * (p + 1));                          // ae*u(E)
  sum = sum + hb * load(u + 2 * (so + 1));                         // ase*u(SE)
  sum = sum - hb * load(u + 2 * (n + 1));                          // ane*u(NE)
  const Pair result = sum / splat(d.a.ap[p]);
  store(u + 2 * p, result);
  return result;
}

// Step 9: what a group of tasks tells about the sweeps it ran, `changed[r]`
// holding the bits in which task r's new values differ from those they
// replaced.
struct GroupChanges {
  // cppcheck-suppress unusedStructMember ; read through the tasks' templates
  Pair changed[kRows];
};

// The update at p; with Watch, step 9's comparison of the new value with the
// one it replaces (the same vertex's value of the sweep before).
template <bool Sourced, bool Watch>
MALHA_ALWAYS_INLINE Pair watched_update(const SweepData& d, std::int64_t p, Pair west,
                                        Pair& changed) {
  if constexpr (Watch) {
    const Pair before = load(d.u + 2 * p);
    const Pair after = update<Sourced>(d, p, west);
    changed = bits_either(changed, bits_differing(after, before));
    return after;
  } else {
    return update<Sourced>(d, p, west);
  }
}

// Step 6 (and step 7's waits): one group of R row tasks. row_start[r] is the
// 0-based index of the first interior vertex of task r's row; task r works on
// column t - 2r at step t. The first task needs the group before it two
// columns ahead; the others follow from the lags. With Watch, step 9's
// record of changed bits is kept. The last column of the group is not
// published here: the caller publishes it once it has recorded the changes.
template <bool Sourced, int R, bool Watch>
void run_group(const SweepData& d, const std::int64_t* row_start, std::int64_t ncols,
               Progress& progress, GroupChanges& changes) {
  const std::int64_t steps = ncols + 2 * (R - 1);
  const auto watched = [&](int r, std::int64_t p, Pair west) {
    return watched_update<Sourced, Watch>(d, p, west, changes.changed[r]);
  };
  const auto partial_step = [&](std::int64_t t) {
    if (t < ncols) progress.wait_for(std::min(t + 2, ncols));
    for (int r = 0; r < R; ++r) {
      const std::int64_t c = t - 2 * r;
      if (c >= 0 && c < ncols) watched(r, row_start[r] + c, load(d.u + 2 * (row_start[r] + c - 1)));
    }
    const std::int64_t done = t - 2 * (R - 1) + 1;  // columns of the last task
    if (done > 0 && done < ncols) progress.publish(done);
  };
  std::int64_t t = 0;
  for (; t < std::min<std::int64_t>(2 * (R - 1), ncols); ++t) partial_step(t);
  if (t < ncols) {
    // All tasks active until the first one ends its row. Each task's new
    // value is its next vertex's west neighbour, kept in a register instead
    // of being read back from memory.
    Pair west[R];
    for (int r = 0; r < R; ++r) west[r] = load(d.u + 2 * (row_start[r] + t - 2 * r - 1));
    for (; t < ncols; ++t) {
      progress.wait_for(std::min(t + 2, ncols));
      for (int r = 0; r < R; ++r) west[r] = watched(r, row_start[r] + t - 2 * r, west[r]);
      const std::int64_t done = t - 2 * (R - 1) + 1;
      if (done < ncols) progress.publish(done);
    }
  }
  for (; t < steps; ++t) partial_step(t);
}

// A group of `count` tasks (1 to R).
template <bool Sourced, bool Watch, int R = kRows>
void run_tasks(const SweepData& d, const std::int64_t* row_start, std::int64_t count,
               std::int64_t ncols, Progress& progress, GroupChanges& changes) {
  if constexpr (R > 1) {
    if (count < R) {
      run_tasks<Sourced, Watch, R - 1>(d, row_start, count, ncols, progress, changes);
      return;
    }
  }
  run_group<Sourced, R, Watch>(d, row_start, ncols, progress, changes);
}

// Step 8: the values of the row whose first interior vertex is `start` back
// to xv and yv.
void copy_row_back(const double* u, double* xv, double* yv, std::int64_t start,
                   std::int64_t ncols) {
  for (std::int64_t p = start; p < start + ncols; ++p) {
    xv[p] = u[2 * p];
    yv[p] = u[2 * p + 1];
  }
}

// Step 9: the sweeps of a pass from which on the tasks are watched for a
// change (the comparison costs a little; a pass with fewer sweeps has little
// to save).
constexpr std::int64_t kWatchedSweeps = 16;

// Rows shorter than this are swept in the plain order: the tasks of a group
// would hardly overlap (task r starts 2r columns late).
constexpr std::int64_t kGroupColumns = 4 * kRows;

// Steps 8 and 9 for rows shorter than kGroupColumns: sweep after sweep, row
// after row, as the plain loops do.
template <bool Sourced>
void sweep_in_order(const SweepData& d, double* xv, double* yv, std::int64_t nrows,
                    std::int64_t ncols, std::int64_t nsweep) {
  const std::int64_t nxv = d.nxv;
  for (std::int64_t sweep = 0; sweep < nsweep; ++sweep) {
    Pair changed = splat(0.0);
    for (std::int64_t r = 0; r < nrows; ++r) {
      const std::int64_t start = (r + 1) * nxv + 1;
      Pair west = load(d.u + 2 * (start - 1));
      for (std::int64_t p = start; p < start + ncols; ++p)
        west = watched_update<Sourced, true>(d, p, west, changed);
    }
    if (!any_bit(changed)) break;  // step 9
  }
  for (std::int64_t r = 0; r < nrows; ++r) copy_row_back(d.u, xv, yv, (r + 1) * nxv + 1, ncols);
}

// Steps 6 to 9 with or without the source terms.
template <bool Sourced>
void sweep_rows(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                HelperThread* helper) {
  const std::int64_t nxv = d.nxv;
  const std::int64_t ncols = nxv - 2, nrows = nyv - 2;
  if (ncols <= 0 || nrows <= 0 || nsweep <= 0) return;
  if (ncols < kGroupColumns) {
    sweep_in_order<Sourced>(d, xv, yv, nrows, ncols, nsweep);
    return;
  }
  const std::int64_t count = nrows * nsweep;
  const std::int64_t groups = (count + kRows - 1) / kRows;  // the last one holds what is left
  // Each thread takes every other group: one place in the order for the even
  // groups, one for the odd ones.
  TaskOrder order[2] = {TaskOrder(nrows, nsweep), TaskOrder(nrows, nsweep)};
  order[1].advance(kRows);
  EarlyEnd early_end(nrows);
  const bool settled = run_groups(groups, ncols, helper, [&](std::int64_t g, Progress& progress) {
    const GroupTasks tasks =
        order[g % 2].take_group(std::min<std::int64_t>(kRows, count - g * kRows), kRows);
    std::int64_t start[kRows]{};
    for (std::int64_t r = 0; r < tasks.size; ++r) start[r] = (tasks.row[r] + 1) * nxv + 1;
    GroupChanges changes{};
    progress.group = g;
    // Step 9: a group of early sweeps only is not watched; its tasks count as
    // having changed something.
    const bool watch = *std::max_element(tasks.sweep, tasks.sweep + tasks.size) >= kWatchedSweeps;
    if (watch) {
      run_tasks<Sourced, true>(d, start, tasks.size, ncols, progress, changes);
    } else {
      run_tasks<Sourced, false>(d, start, tasks.size, ncols, progress, changes);
    }
    bool changed[kRows]{};
    for (std::int64_t r = 0; r < tasks.size; ++r)
      changed[r] = !watch || any_bit(changes.changed[r]);
    const bool settled_here = early_end.group_ended(tasks, changed);
    progress.publish(ncols);
    for (std::int64_t r = 0; r < tasks.size; ++r) {  // step 8
      if (tasks.sweep[r] == nsweep - 1) copy_row_back(d.u, xv, yv, start[r], ncols);
    }
    return !settled_here;
  });
  if (settled) {
    for (std::int64_t r = 0; r < nrows; ++r) copy_row_back(d.u, xv, yv, (r + 1) * nxv + 1, ncols);
  }
}

}  // namespace

// Steps 6 to 9: nsweep sweeps over the interior, then the coordinates back.
void sweep_pairs(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                 HelperThread* helper) {
  if (d.sourced) {
    sweep_rows<true>(d, xv, yv, nyv, nsweep, helper);
  } else {
    sweep_rows<false>(d, xv, yv, nyv, nsweep, helper);
  }
}

}  // namespace malha

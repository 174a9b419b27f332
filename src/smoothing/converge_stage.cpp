#include "smoothing/converge_stage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "mesh/processamento.h"
#include "mesh/quality.h"
#include "smoothing/coef.h"
#include "smoothing/figure.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "textio.h"

namespace malha::converge {

namespace {

// A starting mesh whose coefficients are out of the safe range: the run
// without --converge would run its niter passes on it, and a fault there
// (an overflow in a sweep, say) is the report that run gives; the cycles
// would meet another (inf - inf, invalid) later. So the passes run first,
// on the mesh, which gets its coordinates back if they raise nothing.
void fault_as_the_passes_would(MeshState& s) {
  const auto count = static_cast<std::size_t>(s.nvert);
  const std::vector<double> x(s.xv.data(), s.xv.data() + count);
  const std::vector<double> y(s.yv.data(), s.yv.data() + count);
  SmoothingWorkspace workspace;
  for (std::int32_t pass = 1; pass <= s.niter; ++pass)
    smoothing_pass(s, SmoothingOptions{}, workspace);
  std::copy(x.begin(), x.end(), s.xv.data());
  std::copy(y.begin(), y.end(), s.yv.data());
}

using textio::formatted;

// Divergence: a move this many times the least one so far.
constexpr double kDivergence = 1e3;
// The move has stopped falling when it has not halved for this many cycles
// (a converging iteration divides it by 3 to 10 each cycle; near the spacing
// ratios where the equations' solution folds, by less than 2 for a few cycles
// at a time).
constexpr std::int32_t kStallCycles = 15;
constexpr double kStallFactor = 0.5;
// Rounding in the sums of the equations leaves moves of a few units in the
// last place of the coordinates: a move that stops falling below this many
// units of the largest coordinate has reached what rounding allows...
constexpr double kRoundingUnits = 256.0;
// ... and there the move only wanders: this many cycles without halving it
// are enough to tell, where far from it the full stall window is waited out.
constexpr std::int32_t kRoundingStallCycles = 6;
// The first cycles from a far start can invert cells for a few cycles and
// recover (200 x 100 with deta/dksi = 0.5: 2083, 154 and 22 cells after the
// first three cycles, none after the fourth); cells inverted after this many
// cycles in a row mark a run settling on a folded mesh (40 x 20 with 0.25:
// 34 cells from the second cycle to the last).
constexpr std::int32_t kInvertedCycles = 5;

// The largest magnitude of a coordinate of the boundary, which holds the
// mesh.
double largest_coordinate(const MeshState& s) {
  double largest = 0.0;
  for (std::int64_t k = 1; k <= s.nvert; ++k)
    largest = std::max({largest, std::fabs(s.xv(k)), std::fabs(s.yv(k))});
  return largest;
}

// The shortest edge of the boundary, which the smoothing never moves: the
// shortest edge of every mesh it makes is at most this long.
double shortest_boundary_edge(const MeshState& s) {
  const double* x = s.xv.data();
  const double* y = s.yv.data();
  const std::int64_t nxv = s.nxv, nyv = s.nyv;
  double least = std::numeric_limits<double>::infinity();
  const auto edge = [&](std::int64_t a, std::int64_t b) {
    const double dx = x[b] - x[a], dy = y[b] - y[a];
    least = std::min(least, dx * dx + dy * dy);
  };
  for (std::int64_t i = 0; i + 1 < nxv; ++i)
    edge(i, i + 1), edge((nyv - 1) * nxv + i, (nyv - 1) * nxv + i + 1);
  for (std::int64_t j = 0; j + 1 < nyv; ++j)
    edge(j * nxv, (j + 1) * nxv), edge(j * nxv + nxv - 1, (j + 1) * nxv + nxv - 1);
  return std::sqrt(least);
}

// The end the stop rules give after the move of the current cycle, or
// Converged when the cycles may go on.
End stop_rule(const Progress& p, double rounding, const Rules& rules) {
  if (!std::isfinite(p.move.largest) || p.move.largest > kDivergence * p.least)
    return End::Diverged;
  if (p.cycle >= rules.cycle_limit) return End::CycleLimit;
  const std::int32_t unhalved = p.cycle - p.mark_cycle;
  if (p.least <= kRoundingUnits * rounding && unhalved >= kRoundingStallCycles)
    return rules.rounding_accepted ? End::AtRounding : End::BelowRounding;
  if (unhalved >= kStallCycles) return End::Stalled;
  return End::Converged;
}

// Counts the inverted cells of the mesh into `o`; true when there are any.
bool find_inverted(const MeshState& s, Outcome& o) {
  const CellList inverted =
      find_bad_cells(s.xv.data(), s.yv.data(), s.nx, s.ny, area_frame(s)).inverted;
  o.inverted = inverted.count();
  if (o.inverted == 0) return false;
  o.inverted_cell = formatted("volume %lld (i = %ld, j = %ld), area %.4g",
                              static_cast<long long>(inverted[0].cell.volume),
                              static_cast<long>(inverted[0].cell.i),
                              static_cast<long>(inverted[0].cell.j), inverted[0].area);
  return true;
}

}  // namespace

void Progress::update(const multigrid::Move& m) {
  move = m;
  shortest_ = -1.0;
  if (m.largest < least) least = m.largest, least_cycle = cycle;
  if (m.largest < kStallFactor * mark || cycle == 0) mark = m.largest, mark_cycle = cycle;
}

double Progress::shortest() {
  if (shortest_ < 0.0)
    shortest_ = shortest_mesh_edge(s_->xv.data(), s_->yv.data(), s_->nxv, s_->nyv);
  return shortest_;
}

Outcome run_cycles(MeshState& s, multigrid::Hierarchy& hierarchy, double dksi, double deta,
                   const Rules& rules, Progress& p, std::int32_t cycles_before,
                   const ConvergeObserver& observe) {
  const double rounding = std::numeric_limits<double>::epsilon() * largest_coordinate(s);
  // A move above the tolerance times this cannot be within the tolerance.
  const double edge_bound = shortest_boundary_edge(s);
  const double tolerance = rules.tolerance;
  Outcome o;
  std::int32_t inverted_cycles = 0;
  for (;; ++p.cycle) {
    o.files_above = false;
    const multigrid::FineResidual r = hierarchy.fine_residual();
    // Before the move is looked at: out of range, it may be a NaN, which a
    // comparison would trap on (invalid) before the pass's own report.
    if (!r.coefficients_in_range) {
      // On the starting mesh the operations of a smoothing pass stop the run
      // with the report a pass would give; later, the mesh has collapsed.
      if (p.cycle > 0 || !rules.start_as_a_pass) {
        o.end = End::Collapsed;
        return o;
      }
      fault_as_the_passes_would(s);
      compute_metrics(s);
      clear_sources(s);
      compute_coefficients(s);
    }
    p.update(r.move);
    if (observe) observe({cycles_before + p.cycle, p.move.largest});
    if (rules.watch_inversions && p.cycle > 0) {
      inverted_cycles = find_inverted(s, o) ? inverted_cycles + 1 : 0;
      if (inverted_cycles == kInvertedCycles) {
        o.end = End::Inverted;
        return o;
      }
    }
    if (p.move.largest <= tolerance * edge_bound && p.relative() <= tolerance) {
      // The figure as the report program computes it decides.
      o.figure = convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, dksi, deta,
                                    sources_of(s), p.shortest());
      // And so does the figure of the files, which hold 16 digits.
      const bool in_memory = o.figure.relative <= tolerance;
      if (in_memory && written_figure_within(s.xv.data(), s.yv.data(), s.nxv, s.nyv, dksi, deta,
                                             sources_of(s), tolerance, o.figure.smallest_edge))
        break;
      o.files_above = in_memory;
    }
    o.end = stop_rule(p, rounding, rules);
    if (o.end == End::AtRounding) {
      o.figure =
          convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, dksi, deta, sources_of(s));
      break;
    }
    if (o.end != End::Converged) return o;
    hierarchy.cycle();
  }
  // A mesh with inverted cells (area 0 or less) is no mesh a solver can use.
  // Concave cells get the warning of any run.
  if (find_inverted(s, o)) o.end = End::Inverted;
  return o;
}

std::string observed(const Outcome& o, Progress& p, std::int32_t cycles_in_all) {
  std::string what;
  switch (o.end) {
    case End::Diverged:
      what = "the cycles diverged";
      break;
    case End::Collapsed:
      what = "the mesh collapsed (a vertex with no area around it)";
      break;
    case End::Stalled:
      what = formatted("the move has not halved in %ld cycles", static_cast<long>(kStallCycles));
      break;
    case End::CycleLimit:
      what =
          formatted("the tolerance was not reached within %ld cycles", static_cast<long>(p.cycle));
      break;
    case End::BelowRounding:
      what = "the move stopped falling where rounding in the equations of this mesh leaves it";
      break;
    case End::Inverted:
      what = formatted("the cycles reached a mesh with %lld inverted cells (the worst is %s)",
                       static_cast<long long>(o.inverted), o.inverted_cell.c_str());
      break;
    case End::Converged:
    case End::AtRounding:
      break;
  }
  what += formatted(
      "; after %ld cycles an update would still move vertex %lld by %.2E, %.2E of the shortest "
      "edge (the least move was %.2E, after %ld cycles)",
      static_cast<long>(cycles_in_all), static_cast<long long>(p.move.vertex), p.move.largest,
      p.relative(), p.least, static_cast<long>(cycles_in_all) - p.cycle + p.least_cycle);
  if (o.files_above)
    what += "; the mesh meets the tolerance, but not with the 16 significant digits its files hold";
  else if (o.end == End::BelowRounding)
    what += formatted("; a tolerance above %.2E can be reached", p.least / p.shortest());
  return what;
}

}  // namespace malha::converge

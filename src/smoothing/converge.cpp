#include "smoothing/converge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "files/dados.h"
#include "helper_thread.h"
#include "mesh/quality.h"
#include "smoothing/coef.h"
#include "smoothing/metricas.h"
#include "smoothing/multigrid/cycle.h"
#include "textio.h"

namespace malha {

namespace {

// Divergence: a move this many times the least one so far.
constexpr double kDivergence = 1e3;
// The move has stopped falling when it has not halved for this many cycles
// (a converging iteration divides it by about ten each cycle).
constexpr std::int32_t kStallCycles = 15;
constexpr double kStallFactor = 0.5;
// Rounding in the sums of the equations leaves moves of a few units in the
// last place of the coordinates: a move that stops falling below this many
// units of the largest coordinate has reached what rounding allows.
constexpr double kRoundingUnits = 256.0;

using textio::formatted;

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

// Where the iteration stands: the move now, the least one so far, and the
// last one that was less than kStallFactor times the one marked before it.
// The move relative to the shortest edge is computed when it is asked for:
// the shortest edge takes a pass over the mesh.
class Progress {
 public:
  Progress(const MeshState& s, double tolerance) : s_(s), tolerance(tolerance) {}

  const MeshState& s_;
  double tolerance;
  std::int32_t cycle = 0;
  multigrid::Move move;
  double least = std::numeric_limits<double>::infinity();
  std::int32_t least_cycle = 0;
  double mark = std::numeric_limits<double>::infinity();
  std::int32_t mark_cycle = 0;

  void update(const multigrid::Move& m) {
    move = m;
    shortest_ = -1.0;
    if (m.largest < least) least = m.largest, least_cycle = cycle;
    if (m.largest < kStallFactor * mark || cycle == 0) mark = m.largest, mark_cycle = cycle;
  }

  double shortest() {
    if (shortest_ < 0.0) shortest_ = shortest_mesh_edge(s_.xv.data(), s_.yv.data(), s_.nxv, s_.nyv);
    return shortest_;
  }
  double relative() { return move.largest / shortest(); }

 private:
  double shortest_ = -1.0;
};

[[noreturn]] void fail(Progress& p, const std::string& why, const std::string& advice) {
  textio::fatal_error(
      textio::kErrNotConverged, textio::Statement::Converge, kEllipticFile,
      formatted("the smoothing did not converge to %.3g: ", p.tolerance) + why +
          formatted(
              "; after %ld cycles an update would still move vertex %lld by %.2E, %.2E of the "
              "shortest edge (the least move was %.2E, after %ld cycles)",
              static_cast<long>(p.cycle), static_cast<long long>(p.move.vertex), p.move.largest,
              p.relative(), p.least, static_cast<long>(p.least_cycle)) +
          advice);
}

std::string no_solution(const MeshState& s) {
  return formatted("; with dksi = %g and deta = %g the equations may have no solution on this mesh",
                   s.dksi, s.deta);
}

// Ends the run unless the iteration may go on (false) or, with
// `rounding_accepted`, has reached what rounding allows (true).
bool check_progress(const MeshState& s, Progress& p, double rounding, bool rounding_accepted) {
  if (!std::isfinite(p.move.largest) || p.move.largest > kDivergence * p.least)
    fail(p, "the iteration diverged", no_solution(s));
  if (p.cycle >= kConvergeCycleLimit) {
    fail(p,
         formatted("the tolerance was not reached within %ld cycles",
                   static_cast<long>(kConvergeCycleLimit)),
         "");
  }
  if (p.cycle - p.mark_cycle < kStallCycles) return false;
  if (p.least <= kRoundingUnits * rounding) {
    if (rounding_accepted) return true;
    fail(p, "the move stopped falling where rounding in the equations of this mesh leaves it",
         formatted("; a tolerance above %.2E can be reached", p.least / p.shortest()));
  }
  fail(p, formatted("the move has not halved in %ld cycles", static_cast<long>(kStallCycles)),
       no_solution(s));
}

// A solution with inverted cells (area 0 or less) is no mesh a solver can
// use: the run stops. Concave cells get the warning of any run.
void check_not_inverted(const MeshState& s, Progress& p) {
  const CellList inverted =
      find_bad_cells(s.xv.data(), s.yv.data(), s.nx, s.ny, area_frame(s)).inverted;
  if (inverted.count() == 0) return;
  textio::fatal_error(
      textio::kErrNotConverged, textio::Statement::Converge, kEllipticFile,
      formatted("the solution of the smoothing equations inverts %lld cells (the worst is volume "
                "%lld (i = %ld, j = %ld), area %.4g), reached after %ld cycles at %.2E of the "
                "shortest edge; with dksi = %g and deta = %g these equations have no solution "
                "without inverted cells on this mesh",
                static_cast<long long>(inverted.count()),
                static_cast<long long>(inverted[0].cell.volume),
                static_cast<long>(inverted[0].cell.i), static_cast<long>(inverted[0].cell.j),
                inverted[0].area, static_cast<long>(p.cycle), p.relative(), s.dksi, s.deta));
}

}  // namespace

ConvergedSmoothing converge_smoothing(MeshState& s, double tolerance, bool rounding_accepted,
                                      const SmoothingOptions& options,
                                      const ConvergeObserver& observe) {
  ConvergedSmoothing result;
  if (s.nxv < 3 || s.nyv < 3) {
    result.figure = convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta);
    return result;
  }
  HelperThread* helper = options.threads == 1 ? nullptr : HelperThread::shared();
  multigrid::Hierarchy hierarchy(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta, helper);
  const double rounding = std::numeric_limits<double>::epsilon() * largest_coordinate(s);
  // A move above the tolerance times this cannot be within the tolerance.
  const double edge_bound = shortest_boundary_edge(s);
  Progress p(s, tolerance);
  for (;; ++p.cycle) {
    const multigrid::FineResidual r = hierarchy.fine_residual();
    p.update(r.move);
    if (!r.coefficients_in_range) {
      // On the starting mesh the operations of a smoothing pass stop the run
      // with the report a pass would give; later, the mesh has collapsed.
      if (p.cycle > 0)
        fail(p, "the mesh collapsed (a vertex with no area around it)", no_solution(s));
      compute_metrics(s);
      clear_sources(s);
      compute_coefficients(s);
    }
    if (observe) observe({p.cycle, p.move.largest});
    if (p.move.largest <= tolerance * edge_bound && p.relative() <= tolerance) {
      // The figure as the report program computes it decides.
      result.figure = convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta);
      if (result.figure.relative <= tolerance) break;
    }
    if (check_progress(s, p, rounding, rounding_accepted)) {
      result.figure = convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta);
      result.at_rounding = true;
      break;
    }
    hierarchy.cycle();
  }
  check_not_inverted(s, p);
  result.cycles = p.cycle;
  return result;
}

}  // namespace malha

// One run of multigrid cycles at one pair of spacings, for the smoothing to
// convergence (converge.cpp): the stop rules, and what the cycles did
// when they end without reaching the tolerance, for the driver to try another
// way or to report.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "smoothing/converge.h"
#include "smoothing/multigrid/cycle.h"
#include "variaveis.h"

namespace malha::converge {

// Where an iteration stands: the move now, the least one so far, and the
// last one that was less than kStallFactor times the one marked before it.
// The move relative to the shortest edge is computed when it is asked for:
// the shortest edge takes a pass over the mesh.
class Progress {
 public:
  explicit Progress(const MeshState& s) : s_(&s) {}

  std::int32_t cycle = 0;  // cycles of this run
  multigrid::Move move;
  double least = std::numeric_limits<double>::infinity();
  std::int32_t least_cycle = 0;
  double mark = std::numeric_limits<double>::infinity();
  std::int32_t mark_cycle = 0;

  void update(const multigrid::Move& m);
  double shortest();
  double relative() { return move.largest / shortest(); }

 private:
  const MeshState* s_;
  double shortest_ = -1.0;
};

// How a run of cycles ended.
enum class End {
  Converged,      // the tolerance reached, confirmed by convergence_figure
  AtRounding,     // the move stopped falling where rounding leaves it (accepted)
  BelowRounding,  // the same, with the tolerance held to: no spacing helps
  Diverged,       // a move not finite or a thousand times the least one
  Collapsed,      // a determinant out of the safe range after the start
  Stalled,        // the move has not halved in the stall window
  CycleLimit,     // the run's cycles used up
  Inverted,       // a mesh with inverted cells (area 0 or less)
};

// What the cycles should aim at and watch.
struct Rules {
  double tolerance = 1e-10;        // relative to the shortest edge
  bool rounding_accepted = false;  // End::AtRounding instead of End::BelowRounding
  std::int32_t cycle_limit = kConvergeCycleLimit;
  // Look for inverted cells after every cycle, not only on the mesh the
  // cycles converge to: a run that can be retried another way stops when
  // cells stay inverted for a few cycles.
  bool watch_inversions = false;
  // The starting mesh's coefficients out of range: redo them by the
  // operations of a pass, which stop the run with a pass's report.
  bool start_as_a_pass = false;
};

struct Outcome {
  End end = End::Converged;
  ConvergenceFigure figure;  // on End::Converged and End::AtRounding
  // The last cycle's figure met the tolerance in memory, but not with the 16
  // significant digits the files hold (written_figure_within).
  bool files_above = false;
  std::int64_t inverted = 0;
  std::string inverted_cell;  // the worst inverted cell, in words
};

// Runs cycles of `hierarchy` (built on s.xv, s.yv with the spacings of the
// run) until one of the stop rules ends it; `cycles_before` counts the cycles
// of earlier runs for the observer, and `p` is left where the run ended.
Outcome run_cycles(MeshState& s, multigrid::Hierarchy& hierarchy, double dksi, double deta,
                   const Rules& rules, Progress& p, std::int32_t cycles_before,
                   const ConvergeObserver& observe);

// What the run observed, for the report: how the last run of cycles ended,
// the figure reached and the least move.
std::string observed(const Outcome& o, Progress& p, std::int32_t cycles_in_all);

}  // namespace malha::converge

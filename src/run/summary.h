// What a run tells its user besides its files and its failure reports, on
// standard error: warnings about the case, the mesh and the files an earlier
// run left (one line each, beginning "malha: warning: ") and, when standard
// error is a terminal, a short summary of the run. Both are written only once the run has
// completed, so the standard error of a failed run holds its report alone; neither changes a file,
// a command or the exit status.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/quality.h"
#include "smoothing/figure.h"
#include "textio.h"
#include "variaveis.h"

namespace malha {

// What --converge asked and did, for the warnings and the summary.
struct ConvergeSummary {
  double tolerance = 0.0;
  bool smoothed = false;     // smoothing was selected: the equations were solved
  std::int32_t cycles = 0;   // multigrid cycles run
  bool at_rounding = false;  // stopped where rounding leaves the move, above the tolerance
  double reached = 0.0;      // the figure it stopped at
  bool files_above = false;  // at or below the tolerance, but not in the files' 16 digits
};

class RunReport {
 public:
  // The run starts now (the summary gives the time from here, less the time
  // spent waiting for the commands: the editor and the plots).
  RunReport();

  // --converge was given; what it did.
  void converge_done(const ConvergeSummary& done) { converge_ = done, converge_asked_ = true; }

  // The mesh is final: built, or smoothed. Measures its cells.
  void mesh_done(const MeshState& s);

  // The run has completed: writes the warnings and, on a terminal, the summary.
  void run_done(const MeshState& s) const;

 private:
  std::chrono::steady_clock::time_point start_;
  MeshQuality quality_{};
  bool converge_asked_ = false;
  ConvergeSummary converge_;
};

// The warning lines for a mesh and its measure, each ending in a line feed
// ("" when there is nothing to warn about): an odd nx, inverted cells, concave
// cells.
std::string mesh_warnings(const MeshState& s, const MeshQuality& q);

// The warning lines about the case as read, each ending in a line feed ("" when
// there is nothing to warn about): a case name cut to its first 100
// characters, an option of entradas.txt other than 1 or 2, and, with the smoothing on, an niter or
// nsweep below 1, which smooth nothing (run/warnings.cpp) unless `converged`: --converge runs no
// passes.
std::string setting_warnings(const MeshState& s, bool converged = false);

// The warning lines, one per value, about values of an input file read in
// part (textio::CutValue): the file, the line, the value as written and
// what was read ("" for none).
std::string cut_value_warnings(const std::vector<textio::CutValue>& values);

// The warning line naming the case's nest files that an earlier run left in
// the folder when this run wrote none ("" when there are none). The files are
// not touched.
std::string earlier_files_warning(const MeshState& s);

// The warning line of --converge in a run without smoothing: nothing to do.
std::string converge_warning();

// The lines of the summary: the case as read, the files written with their
// sizes (as they are on disk now), the time taken, the mesh quality and, when
// the figure is given, the convergence figure; with `converge`, what
// --converge did.
std::string run_summary(const MeshState& s, const MeshQuality& q, const ConvergenceFigure* figure,
                        double seconds, const ConvergeSummary* converge = nullptr);

// A part of a status line: its text, and when it goes if the line is too
// wide (the lowest rank first).
struct LinePart {
  std::string text;
  int drop_rank;
};

// The head followed by the parts in their order, whole parts dropped (lowest
// drop rank first) until the text fits in `width` columns; no word is cut,
// unless the head alone is wider.
std::string fitted_line(const std::string& head, const std::vector<LinePart>& parts,
                        std::size_t width);

// The convergence figure as the progress line gives it, short:
// "move 1.20E-05 (0.31% of min edge)".
std::string convergence_text(const ConvergenceFigure& figure);

}  // namespace malha

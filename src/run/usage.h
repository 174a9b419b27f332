// The command line: options of the run (one row each in the table of
// run/usage.cpp); --help and --version answer and end; anything else is refused.
// Also where the installed example case is, for the texts that point users
// to it.
#pragma once

#include <string>
#include <string_view>

namespace malha {

// The tolerance of --converge without a value: the convergence figure of the
// smoothed mesh relative to its shortest edge.
inline constexpr double kDefaultConvergeTolerance = 1e-10;

// What the command line asks of a run beyond the input files. A run without
// options leaves it as it is.
struct RunRequest {
  // --converge[=TOL]: the smoothing solves its equations until the
  // convergence figure relative to the shortest edge is at most TOL, instead
  // of running niter passes.
  bool converge = false;
  double converge_tolerance = kDefaultConvergeTolerance;
  // TOL was given: the run fails where rounding keeps the figure above it.
  // Without it, a mesh whose rounding keeps the figure above the default
  // (a graded mesh's shortest edge is small) is taken as it is, with a warning.
  bool converge_tolerance_given = false;
  // --grade[=GAMMA]: the exponent of the grading toward the re-entrant
  // corner; 1 leaves the algebraic mesh as built.
  double grading = 1.0;
  // --control: the smoothing equations get the control functions of
  // controls.h in their source terms.
  bool control = false;
};

// The status main() returns for "no argument, go on with the run".
inline constexpr int kGoOnWithTheRun = -1;

// Handles the program's arguments before anything else happens. Options of the
// run fill `request`, and then (or with no argument at all) it returns
// kGoOnWithTheRun. "--help" or "-h" prints the usage text and "--version" or
// "-V" the name and version on standard output (status 0); they stand alone.
// An argument that is not an option, or an option with a value it does not
// take, gets one line on standard error naming it (status 2). Nothing is read,
// written or started in those cases.
int handle_arguments(int argc, const char* const* argv, RunRequest& request);

// Reads the value of an option as a real number ("2", "1.5", "1e-10"): false
// for anything else, infinities and NaN included.
bool read_option_number(std::string_view text, double& value);

// Where the example case is: the installed examples folder beside the
// program's own (bin/../share/malha/examples) when it is there, else a
// description of where to find it.
std::string example_case_location();

// The folder of the installed stand-ins for the editor and the plotter
// (bin/../libexec/malha beside the program's own folder) when the program
// runs from an installation that has them, else "".
std::string installed_standin_folder();

}  // namespace malha

#include "run/usage.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "mesh/malhas_segmentos.h"
#include "platform.h"
#include "textio.h"

// The build sets the version from CMake's project(VERSION).
#ifndef MALHA_VERSION
#define MALHA_VERSION "(version not set by the build)"
#endif

namespace malha {

namespace {

constexpr int kStatusAnswered = 0;
constexpr int kStatusBadArgument = 2;

constexpr std::string_view kAboutText =
    "Usage: malha [OPTION]...  run the case in the current folder; the options\n"
    "                        are --converge[=TOL], --grade[=GAMMA] and\n"
    "                        --control (below), the value after '='; of an\n"
    "                        option given twice, the later one stands\n"
    "       malha --help     show this text (also -h)\n"
    "       malha --version  show the version (also -V)\n"
    "\n"
    "malha generates a structured, boundary-fitted quadrilateral mesh of the\n"
    "L-shaped region (the unit square without its upper-right quarter) for\n"
    "finite-volume solvers, and writes it as fixed-column text files.\n"
    "\n"
    "Input files, each shown in the editor (\"notepad FILE\") before it is read;\n"
    "one value first on each line, a remark may follow it:\n"
    "  entradas.txt              case name, nx (volumes around the L, at least 2;\n"
    "                            an even nx fits the region, an odd one leans\n"
    "                            beyond x = 1), ny (at least 1), smoothing\n"
    "                            (2 = on), nest files (2 = on)\n"
    "  entrada_eq_elipticas.txt  read when smoothing is on: nsweep, niter, an\n"
    "                            unused real, dksi, deta, psrc and qsrc (2 = keep)\n"
    "A missing input file is created empty, and the run stops at its end.\n"
    "\n"
    "Smoothing to convergence (--converge[=TOL], TOL above 0 and below 1, 1e-10\n"
    "when not given): with smoothing on, the smoothing equations (the same dksi,\n"
    "deta, source flags and fixed boundary) are solved by multigrid cycles until\n"
    "one more point update would move no vertex by more than TOL times the\n"
    "shortest edge, instead of niter passes of nsweep sweeps. The summary on a\n"
    "terminal tells the cycles run and the figure reached. When the solution\n"
    "inverts cells, or the cycles do not reach TOL (they diverge, stop gaining,\n"
    "or 100 cycles pass), the run stops with a report naming the figure\n"
    "reached, and writes no file. Without TOL, a mesh whose rounding keeps the\n"
    "figure above 1e-10 (a large graded one) is kept as rounding leaves it, with\n"
    "a warning.\n"
    "\n"
    "Graded mesh (--grade[=GAMMA], GAMMA from 1 to 4, 2 when not given): the\n"
    "mesh is graded toward the re-entrant corner (0.5, 0.5), for solutions with\n"
    "its singularity (like r^(2/3)): the cells there shrink like h^GAMMA. The\n"
    "outer boundary stays, the vertices of the re-entrant edges slide along\n"
    "them, and the smoothing starts from the graded mesh; GAMMA = 1 is the mesh\n"
    "without the option. Needs an even nx (an odd one leans out of the region).\n"
    "Costs accuracy on smooth solutions.\n"
    "\n"
    "Control functions (--control): with smoothing on, the smoothing equations\n"
    "get the source terms P and Q (psrc and qsrc, whatever their flags say),\n"
    "computed once from the starting mesh, that keep the cells at the outer\n"
    "corner (0, 0) about the size of their neighbours along the boundary\n"
    "(without them the smoothing makes them several times larger, more so the\n"
    "finer the mesh) and the grid lines square to the outer boundary. With the\n"
    "smoothing passes (niter, nsweep) and with --converge. P and Q are written\n"
    "to CASE_controle.txt, from which malha-report tells the controls used and\n"
    "measures the convergence with them; a run without the option removes that\n"
    "file of an earlier run of the case.\n"
    "\n"
    "Files written (CASE is the case name):\n"
    "  CASE.txt, CASE_vert.txt, CASE_vert_fict.txt, CASE_cent.txt,\n"
    "  CASE_cent_fict.txt, and malha.txt and centroides.txt for the plot scripts\n"
    "  malha.gnu and malha_cent.gnu; with --control also CASE_controle.txt; with\n"
    "  nest files also CASE_nest.txt, CASE_nest_conec.txt, CASE_nest_vert.txt,\n"
    "  CASE_nest_cent.txt and CASE_nest_area.txt. Five mesh files and the nest\n"
    "  files are then shown in the editor, and \"wgnuplot malha.gnu\" and\n"
    "  \"wgnuplot malha_cent.gnu\" run.\n"
    "\n";

constexpr std::string_view kStatusText =
    "\n"
    "Exit status: 0 when the run completed; 1 when a failure stopped it (a report\n"
    "on standard error names the file, the line and what was wrong); 2 for an\n"
    "argument it does not take.\n";

// Writes the text to standard output; false when it could not be written.
bool print(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

int answer(const std::string& text) {
  if (print(text)) return kStatusAnswered;
  const std::string message = "malha: cannot write to standard output\n";
  platform::write_stderr(message.data(), message.size());
  return 1;
}

// A folder of the installation, given by its path under the installation
// folder, when the program runs from that installation's bin folder and the
// folder holds `file`; else "".
std::string installed_folder(std::initializer_list<std::string_view> parts, std::string_view file) {
  const std::string bin = platform::program_folder();
  const std::size_t up = bin.rfind(platform::folder_separator());
  if (up == std::string::npos) return "";
  std::string folder = bin.substr(0, up);
  for (std::string_view part : parts) (folder += platform::folder_separator()) += part;
  return platform::file_exists(folder + platform::folder_separator() + std::string(file)) ? folder
                                                                                          : "";
}

std::string usage_text() {
  std::string commands(platform::commands_help());
  std::string standins = installed_standin_folder();
  if (standins.empty()) standins = "libexec/malha of the installation (tools/posix in the sources)";
  const std::size_t at = commands.find("STANDINS");
  if (at != std::string::npos) commands.replace(at, 8, standins);
  return std::string(kAboutText) + "Example case: " + example_case_location() + "\n\n" + commands +
         std::string(kStatusText);
}

// The argument as typed, but for control bytes, which reach no terminal.
std::string shown_argument(std::string_view argument) {
  return textio::escaped(argument, {.keep_non_ascii = true});
}

// `hint`, when given, follows the argument: "; did you mean ...?".
int refuse(std::string_view argument, std::string_view why, std::string_view hint = {}) {
  std::string message = "malha: " + std::string(why) + " '" + shown_argument(argument) + "'";
  if (!hint.empty()) message += "; " + std::string(hint);
  message += " (see malha --help)\n";
  platform::write_stderr(message.data(), message.size());
  return kStatusBadArgument;
}

// An option of the run: "--name", or "--name=VALUE" when it takes a value
// (the value is optional: without it the option keeps its default).
struct RunOption {
  std::string_view name;
  bool takes_value;
  // Records the option in the request; returns "" when the value (empty when
  // none was given) is taken, else why it is not.
  std::string (*apply)(std::string_view value, RunRequest& request);
};

// An option given twice: the later one stands whole, so an option without a
// value puts its default back (--converge=1e-8 --converge asks for 1e-10).
std::string apply_converge(std::string_view value, RunRequest& request) {
  request.converge = true;
  request.converge_tolerance = kDefaultConvergeTolerance;
  request.converge_tolerance_given = false;
  if (value.empty()) return "";
  double tolerance = 0.0;
  if (!read_option_number(value, tolerance) || !(tolerance > 0.0 && tolerance < 1.0))
    return "the tolerance must be a number above 0 and below 1 in";
  request.converge_tolerance = tolerance;
  request.converge_tolerance_given = true;
  return "";
}

// --grade[=GAMMA]: GAMMA from 1 to 4, 2 without a value.
std::string apply_grading(std::string_view value, RunRequest& request) {
  double gamma = kGradingDefault;
  if (!value.empty() && !read_option_number(value, gamma)) return "GAMMA is not a number in";
  if (!(gamma >= kGradingLeast && gamma <= kGradingMost)) return "GAMMA must be from 1 to 4 in";
  request.grading = gamma;
  return "";
}

std::string apply_control(std::string_view, RunRequest& request) {
  request.control = true;
  return "";
}

// The options of a run, one row each.
constexpr std::array<RunOption, 3> kRunOptions{{
    {"--converge", true, apply_converge},
    {"--grade", true, apply_grading},
    {"--control", false, apply_control},
}};

// The row of an argument "--name" or "--name=VALUE", or nullptr.
const RunOption* find_run_option(std::string_view argument, std::string_view& value,
                                 bool& has_value) {
  for (const RunOption& option : kRunOptions) {
    if (!argument.starts_with(option.name)) continue;
    const std::string_view rest = argument.substr(option.name.size());
    if (rest.empty() || (option.takes_value && rest.front() == '=')) {
      has_value = !rest.empty();
      value = has_value ? rest.substr(1) : rest;
      return &option;
    }
  }
  return nullptr;
}

// The value of an option goes after '=': an unknown argument right after an
// option that takes one, given without it, was most likely meant as its
// value ("--converge 1e-8"). "" when the argument is no such value.
std::string value_hint(const RunOption* before, bool before_had_value, std::string_view argument) {
  if (before == nullptr || !before->takes_value || before_had_value || argument.starts_with("--"))
    return "";
  return "did you mean " + std::string(before->name) + "=" + shown_argument(argument) + "?";
}

int apply_run_options(int argc, const char* const* argv, RunRequest& request) {
  const RunOption* before = nullptr;
  bool before_had_value = false;
  for (int k = 1; k < argc; ++k) {
    const std::string_view argument = argv[k];
    std::string_view value;
    bool has_value = false;
    const RunOption* option = find_run_option(argument, value, has_value);
    if (option == nullptr)
      return refuse(argument, "unknown argument", value_hint(before, before_had_value, argument));
    before = option;
    before_had_value = has_value;
    // cppcheck-suppress knownConditionTrueFalse ; find_run_option sets value
    if (has_value && value.empty()) return refuse(argument, "no value after '=' in");
    const std::string why = option->apply(value, request);
    if (!why.empty()) return refuse(argument, why);
  }
  return kGoOnWithTheRun;
}

}  // namespace

std::string example_case_location() {
  std::string examples = installed_folder({"share", "malha", "examples"}, "entradas.txt");
  if (!examples.empty()) return examples;
  return "share/malha/examples of the installation (examples/ in the sources)";
}

std::string installed_standin_folder() {
  return installed_folder({"libexec", "malha"}, "notepad");
}

bool read_option_number(std::string_view text, double& value) {
  double read = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, read);
  if (error != std::errc() || stop != end || !std::isfinite(read)) return false;
  value = read;
  return true;
}

int handle_arguments(int argc, const char* const* argv, RunRequest& request) {
  if (argc <= 1) return kGoOnWithTheRun;
  const std::string_view first = argv[1];
  const bool help = first == "--help" || first == "-h";
  const bool version = first == "--version" || first == "-V";
  if (!help && !version) return apply_run_options(argc, argv, request);
  if (argc > 2) return refuse(argv[2], "unexpected argument");
  return answer(help ? usage_text() : "malha " MALHA_VERSION "\n");
}

}  // namespace malha

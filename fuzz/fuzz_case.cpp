// Fuzz target: a whole run from its two input files and its run options.
// The input is the case file "entradas.txt" up to the first byte 0x1E, then
// the parameter file "entrada_eq_elipticas.txt" up to the next, then the
// options of the run, separated by blanks: those that begin with --converge
// or --grade go through the program's own argument handling. The run goes
// as the program's own driver makes it: read and check the case, the
// grading's checks, check the storage, build (and grade) the mesh, smooth it
// by passes or to convergence, the grading's check of the smoothed mesh,
// write the output files. Sizes are capped so that an input stays small: a
// mesh of more than kMaxVertices vertices stops after the storage check, and
// smoothing makes at most kMaxPasses passes of at most kMaxSweeps sweeps.
//
// The editor is never started: COMSPEC is set longer than any interpreter
// path may be, so every command fails at once, and the run ignores that as it
// ignores every command's result. Floating-point faults, which the program
// traps, are watched as raised flags after each numerical stage: a raised flag
// is where the program would have stopped with its MATH report.
#include <fenv.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "files/dados.h"
#include "fuzz_support.h"
#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "run/usage.h"
#include "smoothing/coef.h"
#include "smoothing/converge.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "textio.h"
#include "variaveis.h"

namespace {

constexpr std::int64_t kMaxVertices = 2500;
constexpr std::int32_t kMaxPasses = 3;
constexpr std::int32_t kMaxSweeps = 3;

// Clears the working directory left by the previous input.
void clear_directory() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(".", ec))
    std::filesystem::remove_all(entry.path(), ec);
}

// Runs a numerical stage with the traps held; true when the program would
// have stopped there with its floating-point report.
template <class Stage>
bool faults(Stage&& stage) {
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
  stage();
  const bool raised = fetestexcept(malha::fuzz::kTrappedExceptions) != 0;
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(malha::fuzz::kTrappedExceptions);
  return raised;
}

// The run options of the input's third part, as the command line gives
// them: false when the program would refuse them (status 2, nothing run).
bool run_options(std::string_view text, malha::RunRequest& request) {
  std::vector<std::string> words = {"malha"};
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string word(text.substr(at, end - at));
    if (word.starts_with("--converge") || word.starts_with("--grade")) words.push_back(word);
    at = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  return malha::handle_arguments(static_cast<int>(argv.size()), argv.data(), request) ==
         malha::kGoOnWithTheRun;
}

// The smoothing, by passes or to convergence; true when the program would
// have stopped with its floating-point report.
bool smooth(malha::MeshState& s, const malha::RunRequest& request) {
  using namespace malha;
  s.nsweep = std::min(s.nsweep, kMaxSweeps);
  s.niter = std::min(s.niter, kMaxPasses);
  if (request.converge)
    return faults([&] {
      (void)converge_smoothing(s, request.converge_tolerance, !request.converge_tolerance_given,
                               SmoothingOptions{.threads = 1});
    });
  for (std::int32_t pass = 1; pass <= s.niter; ++pass)
    if (faults([&] { smoothing_pass(s, SmoothingOptions{.fast = false}); })) return true;
  return false;
}

void run(malha::MeshState& s, const malha::RunRequest& request) {
  using namespace malha;
  read_case_file(s);
  check_case_values(s);
  s.grading = request.grading;
  if (const std::string why = grading_refusal(s.nx, s.ny, s.grading); !why.empty())
    reject_case_value(why);
  derive_counters(s);
  check_storage(s);
  if (s.nvert > kMaxVertices) return;
  allocate_group_a(s);
  if (faults([&] { build_algebraic_mesh(s); })) return;
  if (faults([&] { grade_toward_corner(s); })) return;
  std::string why;
  if (faults([&] { why = graded_cells_refusal(s); })) return;
  if (!why.empty()) reject_case_value(why);

  s.dksi = 1.0;
  s.deta = 1.0;
  if (s.opt_elliptic == 2) {
    read_elliptic_file(s);
    allocate_group_b(s);
    if (smooth(s, request)) return;
  }
  if (faults([&] { why = graded_smoothing_refusal(s, request.converge); })) return;
  if (!why.empty()) reject_elliptic_value(why);
  if (faults([&] { compute_centroids(s); })) return;
  write_mesh_files(s, OutputOptions{});
  if (s.opt_nest == 2) {
    allocate_group_c(s);
    number_neighbours(s);
    write_nest_files(s, OutputOptions{});
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  malha::fuzz::install();
  malha::fuzz::enter_scratch_directory();
  ::setenv("COMSPEC", std::string(261, 'x').c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace malha;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t mark = input.find('\x1e');
  const std::string_view case_text = input.substr(0, mark);
  std::string_view elliptic_text =
      mark == std::string_view::npos ? std::string_view() : input.substr(mark + 1);
  const std::size_t options_mark = elliptic_text.find('\x1e');
  const std::string_view options_text = options_mark == std::string_view::npos
                                            ? std::string_view()
                                            : elliptic_text.substr(options_mark + 1);
  elliptic_text = elliptic_text.substr(0, options_mark);
  RunRequest request;
  if (!run_options(options_text, request)) return 0;
  clear_directory();
  fuzz::put_file("entradas.txt", case_text.data(), case_text.size());
  if (mark != std::string_view::npos)
    fuzz::put_file("entrada_eq_elipticas.txt", elliptic_text.data(), elliptic_text.size());

  const fuzz::TrapsOn traps;
  try {
    MeshState s;
    run(s, request);
  } catch (const fuzz::FatalReport& report) {
    fuzz::check_report(report.text);
  }
  return 0;
}

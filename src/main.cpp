// malha: structured, boundary-fitted quadrilateral mesh of the L-shaped region
// (the unit square without its upper-right quarter) for finite-volume solvers.
//
// The run driver: one fixed sequence of stages over the mesh state.
#include <cstdint>
#include <new>
#include <string>

#include "files/dados.h"
#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "platform.h"
#include "run/options.h"
#include "run/progress.h"
#include "run/summary.h"
#include "run/usage.h"
#include "smoothing/controls.h"
#include "smoothing/converge.h"
#include "smoothing/passes.h"
#include "variaveis.h"

namespace {

// The program's run options: the fast paths, or the plain ones only in a
// build made for comparisons.
malha::RunOptions run_options() {
  malha::RunOptions options;
#ifdef MALHA_PLAIN
  options.smoothing.fast = false;
  options.output.fast = false;
#endif
  return options;
}

// The run, stage after stage; `stage` names the one under way.
void run(const malha::RunOptions& options, const malha::RunRequest& request, const char*& stage) {
  using namespace malha;
  RunReport report;

  MeshState s;
  stage = "input";
  read_case_file(s);
  check_case_values(s);
  s.grading = request.grading;
  if (const std::string why = grading_refusal(s.nx, s.ny, s.grading); !why.empty())
    reject_case_value(why);
  derive_counters(s);
  check_storage(s);
  allocate_group_a(s);
  build_algebraic_mesh(s);
  grade_toward_corner(s);
  if (const std::string why = graded_cells_refusal(s); !why.empty()) reject_case_value(why);

  s.dksi = 1.0;
  s.deta = 1.0;
  if (option_on(s.opt_elliptic)) {
    read_elliptic_file(s);
    allocate_group_b(s);
    if (request.control) {
      fill_controls(s);
      s.controls = true;
    }
    stage = "smoothing";
    if (request.converge) {
      SmoothingProgress progress(s, options.progress, true);
      ConvergeObserver observe;  // none off a terminal: a step costs nothing then
      if (progress.enabled())
        observe = [&progress](const ConvergeStep& step) { progress.cycle_done(step); };
      const ConvergedSmoothing done =
          converge_smoothing(s, request.converge_tolerance, !request.converge_tolerance_given,
                             options.smoothing, observe);
      report.converge_done({request.converge_tolerance, true, done.cycles, done.at_rounding,
                            done.figure.relative, done.files_above});
    } else {
      SmoothingProgress progress(s, options.progress, false);
      SmoothingWorkspace workspace;
      for (std::int32_t pass = 1; pass <= s.niter; ++pass) {
        // Metric terms, sources, coefficients, then nsweep sweeps on x and on y.
        smoothing_pass(s, options.smoothing, workspace);
        progress.pass_done(pass);
      }
    }
  } else if (request.converge) {
    report.converge_done({request.converge_tolerance, false, 0});
  }
  if (const std::string why = graded_smoothing_refusal(s, request.converge); !why.empty())
    reject_elliptic_value(why);
  report.mesh_done(s);

  stage = "mesh output";
  compute_centroids(s);
  write_mesh_files(s, options.output);

  if (option_on(s.opt_nest)) {
    allocate_group_c(s);
    stage = "nest output";
    number_neighbours(s);
    write_nest_files(s, options.output);
  }
  report.run_done(s);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace malha;
  RunRequest request;
  if (const int status = handle_arguments(argc, argv, request); status != kGoOnWithTheRun)
    return status;
  if (!claim_working_folder()) return 1;
  // Installed, the commands find the stand-ins for notepad and wgnuplot when
  // the system has no program of that name.
  platform::set_command_path_fallback(installed_standin_folder());
  platform::install_fp_traps();
  platform::catch_file_size_signal();
  const char* stage = "input";
  // The mesh arrays report their own failed allocations; any other storage
  // that cannot be had (buffers, texts) ends the run with the same kind of
  // report rather than an abort.
  try {
    run(run_options(), request, stage);
  } catch (const std::bad_alloc&) {
    fail_working_storage(stage);
  }
  return 0;
}

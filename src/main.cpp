// malha: structured, boundary-fitted quadrilateral mesh of the L-shaped region
// (the unit square without its upper-right quarter) for finite-volume solvers.
//
// The run driver: one fixed sequence of stages over the mesh state.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "files/dados.h"
#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "platform.h"
#include "run/options.h"
#include "run/summary.h"
#include "run/usage.h"
#include "smoothing/coef.h"
#include "smoothing/converge.h"
#include "smoothing/metricas.h"
#include "smoothing/passes.h"
#include "variaveis.h"

namespace {

// A status line for a long smoothing: once the passes have run for about a
// second, one line on standard error, rewritten in place, tells the pass, the
// time spent, the time left and the convergence figure of the mesh the last
// pass left (computed anew at most once a second, and at most 5% of the
// time: it costs about a pass's metric and coefficient work, and only reads
// the mesh); it is blanked out when the object goes away.
// Only on a terminal: when standard error is a file or a pipe nothing is ever
// written, and a pass costs one test of a flag; on a terminal the clock is
// read about every 10 ms.
class SmoothingProgress {
 public:
  SmoothingProgress(const malha::MeshState& s, bool wanted)
      : s_(s),
        passes_(s.niter),
        enabled_(wanted && passes_ > 0 && malha::platform::stderr_is_terminal()) {
    if (!enabled_) return;
    start_ = last_read_ = Clock::now();
    next_show_ = start_ + kFirstShow;
  }

  SmoothingProgress(const SmoothingProgress&) = delete;
  SmoothingProgress& operator=(const SmoothingProgress&) = delete;

  ~SmoothingProgress() {
    if (shown_length_ == 0) return;
    std::string blank(shown_length_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    malha::platform::write_stderr(blank.data(), blank.size());
  }

  // Called after pass `pass` (1 to passes) has ended.
  void pass_done(std::int32_t pass) {
    if (!enabled_ || --countdown_ > 0) return;
    // Read the clock about every 10 ms however short a pass is.
    const Clock::time_point now = Clock::now();
    if (now - last_read_ < kReadEvery && stride_ < kMaxStride) stride_ *= 2;
    countdown_ = stride_;
    last_read_ = now;
    if (now < next_show_) return;
    next_show_ = now + kRedraw;
    if (now >= next_figure_) {
      figure_ = malha::convergence_text(
          malha::convergence_figure(s_.xv.data(), s_.yv.data(), s_.nxv, s_.nyv, s_.dksi, s_.deta));
      // On a large mesh a figure takes a while: it may cost at most a small
      // share of the smoothing's time.
      const Clock::time_point after = Clock::now();
      next_figure_ = after + std::max<Clock::duration>(kFigureEvery, (after - now) * kFigureShare);
    }
    show(pass, now - start_);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstShow{1000};
  static constexpr std::chrono::milliseconds kRedraw{200};
  static constexpr std::chrono::milliseconds kFigureEvery{1000};
  static constexpr int kFigureShare = 20;  // one figure per 20 times its own duration
  static constexpr std::chrono::milliseconds kReadEvery{10};
  static constexpr std::int32_t kMaxStride = 1 << 20;
  static constexpr std::size_t kColumns = 80;  // when the terminal does not tell

  // m:ss, or h:mm:ss from an hour on.
  static std::string clock_text(long long seconds) {
    char text[32];
    if (seconds >= 3600) {
      (void)std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600,
                          seconds / 60 % 60, seconds % 60);
    } else {
      (void)std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    }
    return text;
  }

  // The line fits the terminal, dropping whole parts.
  void show(std::int32_t pass, Clock::duration elapsed) {
    const double spent = std::chrono::duration<double>(elapsed).count();
    const double left = spent / pass * (static_cast<double>(passes_) - pass);
    const std::string head =
        "smoothing: pass " + std::to_string(pass) + " of " + std::to_string(passes_);
    const std::string spent_text = ", " + clock_text(std::llround(spent)) + " elapsed";
    const std::string left_text = ", about " + clock_text(std::llround(std::ceil(left))) + " left";
    const int columns = malha::platform::stderr_columns();
    const std::size_t width = (columns > 1 ? static_cast<std::size_t>(columns) : kColumns) - 1;
    // The time spent goes first, then the figure, then the time left.
    const std::string text =
        malha::fitted_line(head, {{spent_text, 1}, {left_text, 3}, {", " + figure_, 2}}, width);
    std::string line = "\r" + text;
    // Blank out what is left of a longer line shown before.
    if (shown_length_ > text.size()) line.append(shown_length_ - text.size(), ' ');
    shown_length_ = std::max(shown_length_, text.size());
    malha::platform::write_stderr(line.data(), line.size());
  }

  const malha::MeshState& s_;
  std::int32_t passes_;
  bool enabled_;
  Clock::time_point next_figure_{};
  std::string figure_;
  Clock::time_point start_{};
  Clock::time_point next_show_{};
  Clock::time_point last_read_{};
  std::int32_t stride_ = 1;     // passes between two clock readings
  std::int32_t countdown_ = 1;  // passes until the next reading
  std::size_t shown_length_ = 0;
};

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
    stage = "smoothing";
    if (request.converge) {
      const ConvergedSmoothing done = converge_smoothing(
          s, request.converge_tolerance, !request.converge_tolerance_given, options.smoothing);
      report.converge_done(
          {request.converge_tolerance, true, done.cycles, done.at_rounding, done.figure.relative});
    } else {
      SmoothingProgress progress(s, options.progress);
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
  place_graded_ring(s);
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

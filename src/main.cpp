// malha: structured, boundary-fitted quadrilateral mesh of the L-shaped region
// (the unit square without its upper-right quarter) for finite-volume solvers.
//
// The run driver: one fixed sequence of stages over the mesh state.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "coef.h"
#include "dados.h"
#include "malhas_segmentos.h"
#include "metricas.h"
#include "platform.h"
#include "processamento.h"
#include "run_options.h"
#include "solvers.h"
#include "usage.h"
#include "variaveis.h"

namespace {

// A status line for a long smoothing: once the passes have run for about a
// second, one line on standard error, rewritten in place, tells the pass, the
// time spent and the time left; it is blanked out when the object goes away.
// Only on a terminal: when standard error is a file or a pipe nothing is ever
// written, and a pass costs one test of a flag; on a terminal the clock is
// read about every 10 ms.
class SmoothingProgress {
 public:
  SmoothingProgress(std::int32_t passes, bool wanted)
      : passes_(passes), enabled_(wanted && passes > 0 && malha::platform::stderr_is_terminal()) {
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
    show(pass, now - start_);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstShow{1000};
  static constexpr std::chrono::milliseconds kRedraw{200};
  static constexpr std::chrono::milliseconds kReadEvery{10};
  static constexpr std::int32_t kMaxStride = 1 << 20;

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

  void show(std::int32_t pass, Clock::duration elapsed) {
    const double spent = std::chrono::duration<double>(elapsed).count();
    const double left = spent / pass * (static_cast<double>(passes_) - pass);
    char text[128];
    const int length = std::snprintf(
        text, sizeof text, "smoothing: pass %ld of %ld, %s elapsed, about %s left",
        static_cast<long>(pass), static_cast<long>(passes_),
        clock_text(std::llround(spent)).c_str(), clock_text(std::llround(std::ceil(left))).c_str());
    if (length <= 0) return;
    const std::size_t size = std::min(static_cast<std::size_t>(length), sizeof text - 1);
    std::string line = "\r";
    line.append(text, size);
    // Blank out what is left of a longer line shown before.
    if (shown_length_ > size) line.append(shown_length_ - size, ' ');
    if (size > shown_length_) shown_length_ = size;
    malha::platform::write_stderr(line.data(), line.size());
  }

  std::int32_t passes_;
  bool enabled_;
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

}  // namespace

int main(int argc, char** argv) {
  using namespace malha;
  if (const int status = handle_arguments(argc, argv); status != kGoOnWithTheRun) return status;
  platform::install_fp_traps();
  const RunOptions options = run_options();

  MeshState s;
  read_case_file(s);
  check_case_values(s);
  derive_counters(s);
  check_storage(s);
  allocate_group_a(s);
  build_algebraic_mesh(s);

  s.dksi = 1.0;
  s.deta = 1.0;
  if (s.opt_elliptic == 2) {
    read_elliptic_file(s);
    allocate_group_b(s);
    SmoothingProgress progress(s.niter, options.progress);
    for (std::int32_t pass = 1; pass <= s.niter; ++pass) {
      // Metric terms, sources, coefficients, then nsweep sweeps on x and on y.
      smoothing_pass(s, options.smoothing);
      progress.pass_done(pass);
    }
  }

  compute_centroids(s);
  write_mesh_files(s, options.output);

  if (s.opt_nest == 2) {
    allocate_group_c(s);
    number_neighbours(s);
    write_nest_files(s, options.output);
  }
  return 0;
}

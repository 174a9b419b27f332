// The status line of a long smoothing, on a terminal only.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "smoothing/converge.h"
#include "variaveis.h"

namespace malha {

// Once the smoothing has run for about a second (MALHA_PROGRESS_DELAY
// seconds when that is set), one line on standard error, rewritten in place:
// for the passes, the pass, the time spent, the time left and the
// convergence figure of the mesh the last pass left (computed anew at most
// once a second, and at most 5% of the time: it costs about a pass's metric
// and coefficient work, and only reads the mesh); for the multigrid cycles
// of --converge, the cycle, the time spent and the figure the cycle reached.
// It is blanked out when the object goes away.
// Only on a terminal: when standard error is a file or a pipe nothing is ever
// written, and a pass costs one test of a flag; on a terminal the clock is
// read about every 10 ms.
class SmoothingProgress {
 public:
  SmoothingProgress(const MeshState& s, bool wanted, bool converging);
  SmoothingProgress(const SmoothingProgress&) = delete;
  SmoothingProgress& operator=(const SmoothingProgress&) = delete;
  ~SmoothingProgress();

  // After pass `pass` (1 to niter) has ended.
  void pass_done(std::int32_t pass);
  // After the residuals of a cycle (0 for the starting mesh) are known.
  void cycle_done(const ConvergeStep& step);

  // Whether the line may show at all: standard error a terminal, and
  // something to show.
  bool enabled() const { return enabled_; }

 private:
  using Clock = std::chrono::steady_clock;

  void show(const std::string& head, const std::string& left_text, Clock::duration elapsed);

  const MeshState& s_;
  std::int32_t passes_;
  bool enabled_;
  Clock::duration first_show_{};
  Clock::time_point next_figure_{};
  std::string figure_;
  Clock::time_point start_{};
  Clock::time_point next_show_{};
  Clock::time_point last_read_{};
  std::int32_t stride_ = 1;     // passes between two clock readings
  std::int32_t countdown_ = 1;  // passes until the next reading
  std::size_t shown_length_ = 0;
};

}  // namespace malha

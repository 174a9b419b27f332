#include "run/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform.h"
#include "run/summary.h"
#include "smoothing/converge.h"
#include "smoothing/figure.h"

namespace malha {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kFirstShow{1000};
constexpr std::chrono::milliseconds kRedraw{200};
constexpr std::chrono::milliseconds kFigureEvery{1000};
constexpr int kFigureShare = 20;  // one figure per 20 times its own duration
constexpr std::chrono::milliseconds kReadEvery{10};
constexpr std::int32_t kMaxStride = 1 << 20;
constexpr std::size_t kColumns = 80;  // when the terminal does not tell
// The longest delay MALHA_PROGRESS_DELAY may ask for: an hour.
constexpr double kLongestDelay = 3600.0;

// The delay before the line first shows: MALHA_PROGRESS_DELAY seconds (0 to
// an hour) when it is set to such a number, else about a second.
Clock::duration first_show() {
  const char* text = std::getenv("MALHA_PROGRESS_DELAY");
  if (text == nullptr || *text == '\0') return kFirstShow;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !(seconds >= 0.0 && seconds <= kLongestDelay)) return kFirstShow;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// m:ss, or h:mm:ss from an hour on.
std::string clock_text(long long seconds) {
  char text[32];
  if (seconds >= 3600) {
    (void)std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                        seconds % 60);
  } else {
    (void)std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

}  // namespace

SmoothingProgress::SmoothingProgress(const MeshState& s, bool wanted, bool converging)
    : s_(s),
      passes_(converging ? 0 : s.niter),
      enabled_(wanted && (converging || passes_ > 0) && platform::stderr_is_terminal()) {
  if (!enabled_) return;
  first_show_ = first_show();
  start_ = last_read_ = Clock::now();
  next_show_ = start_ + first_show_;
}

SmoothingProgress::~SmoothingProgress() {
  if (shown_length_ == 0) return;
  std::string blank(shown_length_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  platform::write_stderr(blank.data(), blank.size());
}

void SmoothingProgress::pass_done(std::int32_t pass) {
  if (!enabled_ || --countdown_ > 0) return;
  // Read the clock about every 10 ms however short a pass is.
  const Clock::time_point now = Clock::now();
  if (now - last_read_ < kReadEvery && stride_ < kMaxStride) stride_ *= 2;
  countdown_ = stride_;
  last_read_ = now;
  if (now < next_show_) return;
  next_show_ = now + kRedraw;
  if (now >= next_figure_) {
    figure_ = convergence_text(convergence_figure(s_.xv.data(), s_.yv.data(), s_.nxv, s_.nyv,
                                                  s_.dksi, s_.deta, sources_of(s_)));
    // On a large mesh a figure takes a while: it may cost at most a small
    // share of the smoothing's time.
    const Clock::time_point after = Clock::now();
    next_figure_ = after + std::max<Clock::duration>(kFigureEvery, (after - now) * kFigureShare);
  }
  const double spent = std::chrono::duration<double>(now - start_).count();
  const double left = spent / pass * (static_cast<double>(passes_) - pass);
  show("smoothing: pass " + std::to_string(pass) + " of " + std::to_string(passes_),
       ", about " + clock_text(std::llround(std::ceil(left))) + " left", now - start_);
}

void SmoothingProgress::cycle_done(const ConvergeStep& step) {
  if (!enabled_) return;
  // A cycle is long next to a clock reading: no stride.
  const Clock::time_point now = Clock::now();
  if (now < next_show_) return;
  next_show_ = now + kRedraw;
  ConvergenceFigure figure;
  figure.defined = true;
  figure.largest_move = step.largest_move;
  figure.smallest_edge = shortest_mesh_edge(s_.xv.data(), s_.yv.data(), s_.nxv, s_.nyv);
  figure.relative = figure.largest_move / figure.smallest_edge;
  figure_ = convergence_text(figure);
  show("smoothing to convergence: cycle " + std::to_string(step.cycle), "", now - start_);
}

// The line fits the terminal, dropping whole parts: the time spent goes
// first, then the figure, then the time left.
void SmoothingProgress::show(const std::string& head, const std::string& left_text,
                             Clock::duration elapsed) {
  const double spent = std::chrono::duration<double>(elapsed).count();
  const std::string spent_text = ", " + clock_text(std::llround(spent)) + " elapsed";
  const int columns = platform::stderr_columns();
  const std::size_t width = (columns > 1 ? static_cast<std::size_t>(columns) : kColumns) - 1;
  std::vector<LinePart> parts{{spent_text, 1}, {", " + figure_, 2}};
  if (!left_text.empty()) parts.insert(parts.begin() + 1, {left_text, 3});
  const std::string text = fitted_line(head, parts, width);
  std::string line = "\r" + text;
  // Blank out what is left of a longer line shown before.
  if (shown_length_ > text.size()) line.append(shown_length_ - text.size(), ' ');
  shown_length_ = std::max(shown_length_, text.size());
  platform::write_stderr(line.data(), line.size());
}

}  // namespace malha

#include "smoothing/fast/wavefront.h"

namespace malha {

bool run_groups(std::int64_t groups, std::int64_t ncols, HelperThread* helper,
                const std::function<bool(std::int64_t, Progress&)>& run) {
  std::atomic<bool> ended{false};
  std::atomic<std::int64_t> done[2];
  done[0].store(-1);
  done[1].store(-1);
  const auto thread_part = [&](int k, std::int64_t step) {
    Progress progress;
    if (step == 2) {
      progress.own = &done[k];
      progress.other = &done[1 - k];
    }
    progress.stride = ncols + 1;
    progress.ended = &ended;
    // Release and acquire: a thread that goes on without waiting once the
    // other has ended the sweeps sees everything that one wrote before.
    for (std::int64_t g = k; g < groups && !ended.load(std::memory_order_acquire); g += step) {
      if (!run(g, progress)) ended.store(true, std::memory_order_release);
    }
  };
  if (helper == nullptr || groups < 2 || !helper->try_start([&] { thread_part(1, 2); })) {
    thread_part(0, 1);
    return ended.load();
  }
  thread_part(0, 2);
  helper->finish();
  return ended.load();
}

bool ThreadChoice::two_threads(std::int64_t vertices) {
  if (vertices != vertices_) {
    vertices_ = vertices;
    seconds_[0] = seconds_[1] = -1.0;
    pass_ = 0;
  }
  const std::int64_t n = pass_++;
  if (n < kTrial) {
    trying_ = true;
    return true;
  }
  if (n < 2 * kTrial) {
    trying_ = true;
    return false;
  }
  const bool best = seconds_[1] < seconds_[0];
  trying_ = n % kPeriod < kTrial;
  return trying_ ? !best : best;
}

void ThreadChoice::record(bool two, double seconds) {
  double& estimate = seconds_[two ? 1 : 0];
  if (trying_) {
    trial_best_ = trial_best_ < 0.0 ? seconds : std::min(trial_best_, seconds);
    if (++trial_passes_ == kTrial) {
      estimate = trial_best_;
      trial_best_ = -1.0;
      trial_passes_ = 0;
    }
  } else {
    estimate = estimate < 0.0 ? seconds : 0.75 * estimate + 0.25 * seconds;
  }
}

}  // namespace malha

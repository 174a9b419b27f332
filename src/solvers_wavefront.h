// The thread code of the fast smoothing (solvers_fast.cpp): the progress
// counters through which the groups of row tasks on two threads keep their
// distance (step 7 there), the running of the groups on one thread or
// alternating between two, and the timing that chooses between the two.
// Nothing here computes a coordinate.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "helper_thread.h"

namespace malha {

// Progress of the thread that runs the group before this one: the number of
// columns the last task of that group has completed, counted over all its
// groups (group g holds values g*(ncols+1) .. g*(ncols+1) + ncols).
struct Progress {
  std::atomic<std::int64_t>* own = nullptr;
  const std::atomic<std::int64_t>* other = nullptr;
  std::int64_t group = 0;
  std::int64_t stride = 0;
  std::int64_t seen = -1;
  // Set when a group has ended the sweeps early: the values are final, and
  // no wait is needed any more.
  const std::atomic<bool>* ended = nullptr;

  // The counters are shared between the two cores: they are published every
  // kEvery columns only, and a thread that has to wait waits for kSlack
  // columns more than it needs, so that it does not have to look again at
  // once. A larger lag than two columns is always allowed.
  static constexpr std::int64_t kEvery = 16;
  static constexpr std::int64_t kSlack = 48;

  // Waits until the previous group's last task has completed `columns`.
  void wait_for(std::int64_t columns) {
    if (other == nullptr || group == 0) return;
    const std::int64_t base = (group - 1) * stride;
    if (seen >= base + columns) return;
    const std::int64_t wanted = base + std::min(columns + kSlack, stride - 1);
    for (int spins = 0;; ++spins) {
      seen = other->load(std::memory_order_acquire);
      if (seen >= wanted || ended->load(std::memory_order_acquire)) return;
      if (spins >= 1000) {
        std::this_thread::yield();
        spins = 0;
      }
    }
  }

  // The last task of this group has completed `columns`; the last column
  // (stride - 1) is always published.
  void publish(std::int64_t columns) {
    if (own != nullptr && (columns % kEvery == 0 || columns == stride - 1))
      own->store(group * stride + columns, std::memory_order_release);
  }
};

// Runs run(g, progress) for the groups g = 0 .. groups - 1 of rows of ncols
// columns: in order on this thread without a helper (or when the helper
// cannot be handed its part), else the even groups here and the odd ones on
// the helper, each waiting through `progress` for the group before it. When
// run returns false no further group starts, and a group of the other
// thread that is under way runs on without waiting; run_groups then returns
// true.
bool run_groups(std::int64_t groups, std::int64_t ncols, HelperThread* helper,
                const std::function<bool(std::int64_t, Progress&)>& run);

// Whether to use the helper for the next pass. Two threads in a wavefront
// help only while both have a core of their own: when the machine is busy
// and one of them waits for the other, a pass can take longer than on one
// thread. The results are the same either way, so the passes are timed and
// the faster way is kept, trying the other one now and then.
class ThreadChoice {
 public:
  // Whether the next pass runs on two threads. The first passes try both
  // ways; then the way that is not in use is tried again for a few passes
  // every kPeriod passes. A way's first pass after a pause is slow (the helper
  // has gone to sleep, the caches are cold), so a trial counts its fastest
  // pass.
  bool two_threads(std::int64_t vertices);

  void record(bool two, double seconds);

 private:
  static constexpr std::int64_t kTrial = 4;
  static constexpr std::int64_t kPeriod = 64;
  std::int64_t vertices_ = -1;
  std::int64_t pass_ = 0;
  bool trying_ = false;
  double trial_best_ = -1.0;
  std::int64_t trial_passes_ = 0;
  double seconds_[2] = {-1.0, -1.0};  // time of a pass on one and on two threads
};

}  // namespace malha

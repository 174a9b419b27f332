// The order and the thread code of the fast smoothing (smoothing/fast/pass.cpp): the
// order of the row tasks and their groups (step 6 there), the bookkeeping that
// ends the sweeps early (step 9), the progress counters through which the
// groups on two threads keep their distance (step 7), the running of the
// groups on one thread or alternating between two, and the timing that
// chooses between the two. Nothing here computes a coordinate.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "helper_thread.h"

namespace malha {

// Step 6: tasks in flight together, each 2 columns behind the one before.
constexpr int kRows = 4;

// The tasks of one group, in order: task r sweeps interior row row[r]
// (0-based) in sweep sweep[r] (0-based).
struct GroupTasks {
  std::int64_t size = 0;
  std::int64_t row[kRows]{};
  std::int64_t sweep[kRows]{};
};

// Step 6: the tasks of nsweep sweeps over nrows interior rows in the order of
// the diagonal row + 2*sweep, sweeps ascending within a diagonal, worked out
// one after the other as they are needed: constant storage and constant work
// per task, whatever the number of sweeps. On diagonal d the sweeps run from
// max(0, ceil((d - nrows + 1)/2)) to min(nsweep - 1, floor(d/2)); with one
// row, the odd diagonals hold no task.
class TaskOrder {
 public:
  TaskOrder(std::int64_t nrows, std::int64_t nsweep)
      : nrows_(nrows), nsweep_(nsweep), left_(nrows * nsweep) {}

  std::int64_t row() const { return diagonal_ - 2 * sweep_; }
  std::int64_t sweep() const { return sweep_; }

  // Moves on by n tasks (not past the last one).
  void advance(std::int64_t n) {
    for (; n > 0 && left_ > 1; --n, --left_) {
      if (sweep_ < last_sweep(diagonal_)) {
        ++sweep_;
        continue;
      }
      do ++diagonal_;
      while (first_sweep(diagonal_) > last_sweep(diagonal_));
      sweep_ = first_sweep(diagonal_);
    }
  }

  // The next `size` tasks (at most kRows) as a group; then moves on past them
  // and past the `skip` tasks after them (the other thread's group).
  GroupTasks take_group(std::int64_t size, std::int64_t skip) {
    GroupTasks group;
    group.size = size;
    for (std::int64_t r = 0; r < size; ++r, advance(1)) {
      group.row[r] = row();
      group.sweep[r] = sweep();
    }
    advance(skip);
    return group;
  }

 private:
  std::int64_t first_sweep(std::int64_t d) const {
    return std::max<std::int64_t>(0, (d - nrows_ + 2) / 2);
  }
  std::int64_t last_sweep(std::int64_t d) const { return std::min(nsweep_ - 1, d / 2); }

  std::int64_t nrows_, nsweep_;
  std::int64_t left_;  // tasks from this one to the last
  std::int64_t diagonal_ = 0;
  std::int64_t sweep_ = 0;
};

// Step 9: whether the sweeps have settled, over both threads. A sweep whose
// task on the last row has ended is complete (every task before it in the
// order has ended: the groups before a group's end have all ended, on this
// thread or, through step 7's waits, on the other). It changed nothing when
// no ended task of it or of a later sweep changed a bit; what is kept is the
// latest sweep in which an ended task changed one.
class EarlyEnd {
 public:
  explicit EarlyEnd(std::int64_t nrows) : nrows_(nrows) {}

  // `group` has ended; changed[r] tells whether its task r changed a bit (a
  // task whose values were not compared counts as changed). True when a
  // complete sweep has changed nothing: the values in hand are final.
  bool group_ended(const GroupTasks& group, const bool* changed) {
    std::int64_t latest = -1, complete = -1;
    for (std::int64_t r = 0; r < group.size; ++r) {
      if (changed[r]) latest = std::max(latest, group.sweep[r]);
      if (group.row[r] == nrows_ - 1) complete = std::max(complete, group.sweep[r]);
    }
    return record(latest) < complete;
  }

 private:
  // Adds the latest sweep with a change of a group (-1 for none); returns the
  // latest one so far.
  std::int64_t record(std::int64_t sweep) {
    std::int64_t seen = latest_.load(std::memory_order_relaxed);
    while (sweep > seen && !latest_.compare_exchange_weak(seen, sweep, std::memory_order_relaxed)) {
    }
    return std::max(seen, sweep);
  }

  std::int64_t nrows_;
  std::atomic<std::int64_t> latest_{-1};
};

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

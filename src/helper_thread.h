// The second thread of the fast paths, and the one way its owner and it wait
// for each other.
//
// The wake-up rule, for every wait between two threads in this program: the
// waiter tests its condition under a mutex and sleeps on a condition
// variable; the other thread makes the change it waits for under the same
// mutex and then notifies. A change made outside the mutex could slip in
// between the waiter's test and its sleep and never wake it. Condition
// variables rather than std::atomic::wait: the latter loses wake-ups in some
// C++ libraries (MinGW-w64's GCC 12 library hung runs that way).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace malha {

// A condition one thread waits for and another one brings about.
class Signal {
 public:
  // Sleeps until done() is true; done() is evaluated under the mutex.
  template <class Done>
  void wait(Done done) {
    wait(done, [] {});
  }

  // The same, then runs take() under the mutex before it lets go.
  template <class Done, class Take>
  void wait(Done done, Take take) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, done);
    take();
  }

  // Makes the change under the mutex, then wakes every waiter.
  template <class Change>
  void announce(Change change) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// A second thread that runs the jobs one owner thread hands over, one at a
// time. A job runs in the floating-point environment of the thread that hands
// it over (traps included), so a fault stops the run there as it would on
// the owner's thread.
class HelperThread {
 public:
  // The process's helper, started on first use and kept for the rest of the
  // run; nullptr on a machine with a single core, or when the thread cannot
  // be started (no memory for its stack): the fast paths then run on one.
  static HelperThread* shared();

  // Lets shared() start the helper on a single core as well (before its
  // first call): the tests that compare one thread with two do, so that they
  // compare two threads wherever they run.
  static void allow_on_one_core();

  HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  ~HelperThread();

  // Hands `job` over. The previous job must be finished. Throws
  // std::bad_alloc, with nothing handed over, when the job cannot be stored.
  void start(std::function<void()> job);

  // Hands `job` over and returns true; or returns false, with nothing handed
  // over, when the storage for the job cannot be had: the owner then does
  // the work itself.
  template <class Job>
  bool try_start(Job&& job) {
    try {
      start(std::function<void()>(std::forward<Job>(job)));
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // Waits until the job has ended; rethrows what it threw.
  void finish();

 private:
  // Jobs can follow one another closely (two per smoothing pass): each side
  // polls for a while before it goes to sleep.
  static constexpr int kSpins = 100000;

  void loop();

  Signal signal_;
  std::function<void()> job_;
  std::exception_ptr failure_;
  bool stop_ = false;
  std::atomic<std::uint64_t> jobs_{0};  // jobs handed over so far
  std::atomic<bool> busy_{false};
  std::thread thread_;
};

// A job on a helper for the lifetime of this object. When the owner leaves
// before finish() (by an exception), the destructor calls `stop`, which must
// make the job return soon, and waits for the job.
class HelperJob {
 public:
  HelperJob(HelperThread& helper, std::function<void()> job, std::function<void()> stop);
  HelperJob(const HelperJob&) = delete;
  HelperJob& operator=(const HelperJob&) = delete;
  ~HelperJob();

  void finish();

 private:
  HelperThread& helper_;
  std::function<void()> stop_;
  bool running_ = true;
};

}  // namespace malha

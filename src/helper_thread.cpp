#include "helper_thread.h"

#include <atomic>
#include <cfenv>
#include <new>
#include <system_error>
#include <utility>

#include "platform.h"

namespace malha {

namespace {
std::atomic<bool> one_core_allowed{false};
}  // namespace

void HelperThread::allow_on_one_core() {
  one_core_allowed.store(true);
}

HelperThread* HelperThread::shared() {
  static HelperThread* const helper = []() -> HelperThread* {
    if (std::thread::hardware_concurrency() <= 1 && !one_core_allowed.load()) return nullptr;
    try {
      static HelperThread thread;
      return &thread;
    } catch (const std::system_error&) {
      return nullptr;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }();
  return helper;
}

HelperThread::HelperThread() : thread_([this] { loop(); }) {}

HelperThread::~HelperThread() {
  signal_.announce([&] {
    stop_ = true;
    jobs_.fetch_add(1);
  });
  thread_.join();
}

void HelperThread::start(std::function<void()> job) {
  std::fenv_t env;
  std::fegetenv(&env);
  const bool traps = platform::fp_traps_enabled();
  // The only step that can fail (by std::bad_alloc), before anything is
  // handed over.
  std::function<void()> wrapped = [job = std::move(job), env, traps] {
    std::fesetenv(&env);
    if (traps && !platform::fp_traps_enabled()) platform::install_fp_traps();
    job();
  };
  busy_.store(true);
  signal_.announce([&] {
    job_ = std::move(wrapped);
    jobs_.fetch_add(1);
  });
}

void HelperThread::finish() {
  for (int spins = 0; spins < kSpins && busy_.load(); ++spins) {
  }
  signal_.wait([&] { return !busy_.load(); });
  if (failure_ != nullptr) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void HelperThread::loop() {
  std::uint64_t seen = 0;
  for (;;) {
    for (int spins = 0; spins < kSpins && jobs_.load() == seen; ++spins) {
    }
    std::function<void()> job;
    bool stop = false;
    signal_.wait([&] { return jobs_.load() != seen; },
                 [&] {
                   seen = jobs_.load();
                   stop = stop_;
                   job = std::move(job_);
                   job_ = nullptr;
                 });
    if (stop) return;
    std::exception_ptr failure;
    try {
      job();
    } catch (...) {
      failure = std::current_exception();
    }
    signal_.announce([&] {
      failure_ = failure;
      busy_.store(false);
    });
  }
}

HelperJob::HelperJob(HelperThread& helper, std::function<void()> job, std::function<void()> stop)
    : helper_(helper), stop_(std::move(stop)) {
  helper_.start(std::move(job));
}

HelperJob::~HelperJob() {
  if (!running_) return;
  stop_();
  try {
    helper_.finish();
  } catch (...) {
    // Already leaving by an exception of the owner's own.
  }
}

void HelperJob::finish() {
  running_ = false;
  helper_.finish();
}

}  // namespace malha

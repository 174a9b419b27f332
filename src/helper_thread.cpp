#include "helper_thread.h"

#include <cfenv>
#include <utility>

#include "platform.h"

namespace malha {

HelperThread* HelperThread::shared() {
  static const bool wanted = std::thread::hardware_concurrency() > 1;
  if (!wanted) return nullptr;
  static HelperThread helper;
  return &helper;
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
  busy_.store(true);
  signal_.announce([&] {
    job_ = [job = std::move(job), env, traps] {
      std::fesetenv(&env);
      if (traps && !platform::fp_traps_enabled()) platform::install_fp_traps();
      job();
    };
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

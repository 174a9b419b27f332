// A process stopped on POSIX: the stop signals, which remove the watched
// temporary files first, and the end by a signal.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string_view>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

// ---------------------------------------------------------------------------
// Watched temporary files (the slots are temporary.cpp's).

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

void on_stop_signal(int signal) {
  detail::remove_watched();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  (void)::raise(signal);  // delivered when the handler returns
}

}  // namespace

namespace detail {

// The stop signals remove the watched files first. A signal the process was
// started ignoring (nohup, a background job) stays ignored.
void on_first_watch() {
  for (int signal : kStopSignals) {
    struct sigaction old {};
    sigaction(signal, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace detail

void stop_by_signal(int signal, std::string_view message) {
  detail::remove_watched();
  write_stderr(message.data(), message.size());
  // Ended by the user, not crashed: SIGQUIT leaves no core file behind.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  (void)::raise(signal);
  // cppcheck-suppress unreachableCode ; reached if the signal does not end it
  _exit(128 + signal);
}

const char* stop_signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGHUP:
      return "SIGHUP";
    case SIGTERM:
      return "SIGTERM";
    default:
      return nullptr;
  }
}

}  // namespace malha::platform

// Floating-point traps on POSIX: the environment set through fenv.h, and the
// fault report the SIGFPE handler writes.
#include <fenv.h>
#include <signal.h>
#include <unistd.h>
#if defined(__i386__)
#include <fpu_control.h>
#endif

#include <atomic>
#include <cstddef>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

namespace {

constexpr int kTrappedExceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

using detail::kReportDivide;
using detail::kReportInvalid;
using detail::kReportOverflow;

// Set by the first fault: when two threads trap at once, the first writes
// the report and ends the process, and the second waits for that end without
// writing a second report. (A lock-free flag: safe in a signal handler.)
std::atomic_flag report_claimed = ATOMIC_FLAG_INIT;

// Runs on SIGFPE: only async-signal-safe calls.
void on_floating_point_fault(int /*signal*/, siginfo_t* info, void* /*context*/) {
  if (report_claimed.test_and_set()) {
    for (;;) pause();
  }
  const char* report = kReportInvalid;
  std::size_t size = sizeof kReportInvalid - 1;
  switch (info->si_code) {
    case FPE_FLTDIV:
    case FPE_INTDIV:
      report = kReportDivide;
      size = sizeof kReportDivide - 1;
      break;
    case FPE_FLTOVF:
    case FPE_INTOVF:
      report = kReportOverflow;
      size = sizeof kReportOverflow - 1;
      break;
    default:
      break;
  }
  write_stderr(report, size);
  write_failure_note();
  _exit(1);
}

}  // namespace

void install_fp_traps() {
  fesetround(FE_TONEAREST);
#if defined(__i386__)
  // x87 arithmetic: round every operation to a 53-bit significand.
  fpu_control_t cw;
  _FPU_GETCW(cw);
  cw = (cw & ~_FPU_EXTENDED) | _FPU_DOUBLE;
  _FPU_SETCW(cw);
#endif
  struct sigaction action {};
  action.sa_sigaction = on_floating_point_fault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(kTrappedExceptions);
}

bool fp_traps_enabled() {
  return (fegetexcept() & kTrappedExceptions) == kTrappedExceptions;
}

FpTrapsHeld::FpTrapsHeld() : saved_(static_cast<unsigned>(fegetexcept())) {
  fedisableexcept(FE_ALL_EXCEPT);
}

FpTrapsHeld::~FpTrapsHeld() {
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(static_cast<int>(saved_));
}

}  // namespace malha::platform

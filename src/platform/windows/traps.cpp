// Floating-point traps on Windows: the SSE (and, on 32-bit x86, x87) control
// words, and the fault report the vectored exception handler writes.
#include "platform/windows/win32.h"

#include <float.h>
#if defined(_M_X64) || defined(__x86_64__)
// Every double operation runs on the SSE unit; the traps are set in MXCSR.
#include <xmmintrin.h>
#define MALHA_SSE_ONLY 1
#else
// 32-bit x86: the C runtime sets the x87 and the SSE control words together.
#define MALHA_SSE_ONLY 0
#endif

#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

namespace {

using detail::kReportDivide;
using detail::kReportInvalid;
using detail::kReportOverflow;

// An SSE fault may arrive as STATUS_FLOAT_MULTIPLE_TRAPS, with its kind only in
// the MXCSR flags, rather than under a code of its own; older SDK headers do
// not name these codes.
constexpr DWORD kFloatMultipleTraps = 0xC00002B5;
constexpr DWORD kFloatMultipleFaults = 0xC00002B4;

#if MALHA_SSE_ONLY
// MXCSR: exception flags in bits 0-5, their masks in bits 7-12, rounding in
// bits 13-14, flush-to-zero in bit 15, denormals-are-zero in bit 6.
constexpr unsigned kInvalidFlag = 0x0001;
constexpr unsigned kDivideFlag = 0x0004;
constexpr unsigned kOverflowFlag = 0x0008;
constexpr unsigned kAllFlags = 0x003F;
constexpr unsigned kTrappedMasks = (kInvalidFlag | kDivideFlag | kOverflowFlag) << 7;
constexpr unsigned kAllMasks = kAllFlags << 7;
constexpr unsigned kRounding = 0x6000;
constexpr unsigned kFlushToZero = 0x8000;
constexpr unsigned kDenormalsAreZero = 0x0040;

// Bits of the MXCSR masks that are clear, as flags.
unsigned unmasked_flags(unsigned mxcsr) {
  return (~mxcsr & kAllMasks) >> 7;
}
#else
// The x87 status bits have the values of the mask bits (_SW_INVALID is
// _EM_INVALID, and so on); MinGW's header names only the latter.
constexpr unsigned kInvalidFlag = _EM_INVALID;
constexpr unsigned kDivideFlag = _EM_ZERODIVIDE;
constexpr unsigned kOverflowFlag = _EM_OVERFLOW;
constexpr unsigned kTrappedMasks = kInvalidFlag | kDivideFlag | kOverflowFlag;
#endif

// The report for the floating-point fault an exception stands for, or nullptr
// when it is none of the trapped kinds (the exception is not ours).
const char* fault_report(const EXCEPTION_POINTERS* pointers, std::size_t& size) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  const char* report = nullptr;
  switch (code) {
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
      report = kReportInvalid;
      break;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      report = kReportDivide;
      break;
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_INT_OVERFLOW:
      report = kReportOverflow;
      break;
    case kFloatMultipleTraps:
    case kFloatMultipleFaults: {
      // An SSE fault: the kind is in the flags of the faulting thread's MXCSR,
      // among those whose trap is enabled (on 32-bit x86, in the status the C
      // runtime reports). An invalid operation sets only its own flag; an
      // overflow also sets inexact, which is never trapped.
#if MALHA_SSE_ONLY
      const unsigned mxcsr = pointers->ContextRecord->MxCsr;
      const unsigned raised = mxcsr & unmasked_flags(mxcsr);
#else
      const unsigned raised = _statusfp();
#endif
      if (raised & kInvalidFlag)
        report = kReportInvalid;
      else if (raised & kDivideFlag)
        report = kReportDivide;
      else if (raised & kOverflowFlag)
        report = kReportOverflow;
      else
        report = kReportInvalid;
      break;
    }
    default:
      return nullptr;
  }
  size = std::strlen(report);
  return report;
}

// Masks every floating-point exception and clears the flags, so that the
// handler cannot fault again.
void mask_all() {
#if MALHA_SSE_ONLY
  _mm_setcsr((_mm_getcsr() | kAllMasks) & ~kAllFlags);
#else
  _clearfp();
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _MCW_EM, _MCW_EM);
#endif
}

// Set by the first fault: when two threads trap at once, the first writes
// the report and ends the process, and the second waits for that end without
// writing a second report.
std::atomic_flag report_claimed = ATOMIC_FLAG_INIT;

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
  std::size_t size = 0;
  const char* report = fault_report(pointers, size);
  if (report == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  mask_all();
  if (report_claimed.test_and_set()) {
    for (;;) Sleep(INFINITE);
  }
  write_stderr(report, size);
  write_failure_note();
  exit_now(1);
}

void clear_flags() {
#if MALHA_SSE_ONLY
  _mm_setcsr(_mm_getcsr() & ~kAllFlags);
#else
  _clearfp();
#endif
}

// The trapped kinds currently enabled, as mask bits of kTrappedMasks.
unsigned enabled_traps() {
#if MALHA_SSE_ONLY
  return ~_mm_getcsr() & kTrappedMasks;
#else
  unsigned int control = 0;
  _controlfp_s(&control, 0, 0);
  return ~control & kTrappedMasks;
#endif
}

// Enables the traps named by `traps` (mask bits of kTrappedMasks) and disables
// every other one.
void set_enabled_traps(unsigned traps) {
#if MALHA_SSE_ONLY
  _mm_setcsr((_mm_getcsr() | kAllMasks) & ~traps);
#else
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _MCW_EM & ~traps, _MCW_EM);
#endif
}

}  // namespace

void install_fp_traps() {
  AddVectoredExceptionHandler(1, on_exception);
#if MALHA_SSE_ONLY
  // x64 does every double operation on the SSE unit, which always rounds to
  // double precision; set round to nearest and keep subnormals as they are.
  _mm_setcsr(_mm_getcsr() & ~(kRounding | kFlushToZero | kDenormalsAreZero));
#else
  // 32-bit x86 may use the x87 unit: round every operation to a 53-bit
  // significand.
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _PC_53 | _RC_NEAR, _MCW_PC | _MCW_RC);
#endif
  clear_flags();
  set_enabled_traps(kTrappedMasks);
}

bool fp_traps_enabled() {
  return enabled_traps() == kTrappedMasks;
}

FpTrapsHeld::FpTrapsHeld() : saved_(enabled_traps()) {
  set_enabled_traps(0);
}

FpTrapsHeld::~FpTrapsHeld() {
  clear_flags();
  set_enabled_traps(saved_);
}

}  // namespace malha::platform

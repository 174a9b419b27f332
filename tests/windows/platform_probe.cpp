// Exercises the Windows platform layer from the outside, for the shell tests
// in run-wine-tests.sh (the GoogleTest suite does not run under wine):
//
//   platform_probe fp invalid|divide|overflow
//       enables the traps and makes that fault; the report and the status are
//       the handler's (nothing is printed when the trap works)
//   platform_probe fp multiple-invalid|multiple-divide|multiple-overflow
//       the same report through the other road: STATUS_FLOAT_MULTIPLE_TRAPS,
//       as Windows x64 reports an SSE fault, with the kind only in MXCSR
//   platform_probe fp quiet
//       underflow and inexact results pass, held traps let a division by zero
//       through and come back afterwards; prints "quiet ok"
//   platform_probe run N
//       runs a command text of two blanks, N - 2 letters "x" and three
//       trailing blanks (N characters once trimmed) through run_command and
//       prints "<result> <reason>"
//   platform_probe files
//       creates, truncates, shares and falls back to read-only and write-only
//       access, writes to a device; prints "files ok" or the first check that
//       failed
//   platform_probe irregular
//       tells the null device and a named pipe from a regular file, opening
//       each at once, and prints "irregular ok" (or the check that failed);
//       then opens NUL as an input file, which ends the probe with the OPEN
//       report and status 1
#include <windows.h>
#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "textio.h"

namespace {

using namespace malha;

int fp_fault(const std::string& kind) {
  platform::install_fp_traps();
  volatile double zero = 0.0;
  volatile double big = 1e300;
  volatile double result = 0.0;
  if (kind == "invalid") result = zero / zero;
  if (kind == "divide") result = 1.0 / zero;
  if (kind == "overflow") result = big * big;
  std::printf("no trap: %g\n", static_cast<double>(result));
  return 2;
}

// Raises STATUS_FLOAT_MULTIPLE_TRAPS with the flag of `kind` set in MXCSR, as
// the processor leaves it after that fault; the handler must tell the kind
// from the context alone.
int fp_multiple(const std::string& kind) {
  platform::install_fp_traps();
  unsigned flag = 0;
  if (kind == "multiple-invalid") flag = 0x01;
  if (kind == "multiple-divide") flag = 0x04;
  if (kind == "multiple-overflow") flag = 0x08 | 0x20;  // with inexact, as an overflow leaves it
  if (flag == 0) return 64;
  _mm_setcsr(_mm_getcsr() | flag);  // setting a flag does not fault by itself
  RaiseException(0xC00002B5, 0, 0, nullptr);
  std::printf("no trap\n");
  return 2;
}

int fp_quiet() {
  platform::install_fp_traps();
  volatile double tiny = 1e-300;
  volatile double third = 1.0 / 3.0;      // inexact
  volatile double product = tiny * tiny;  // underflows to zero
  volatile double small = 1e-10;
  volatile double subnormal = tiny * small;  // a subnormal result, kept
  {
    platform::FpTrapsHeld held;
    if (platform::fp_traps_enabled()) {
      std::printf("traps still enabled while held\n");
      return 3;
    }
    volatile double zero = 0.0;
    volatile double inf = 1.0 / zero;
    (void)inf;
  }
  if (!platform::fp_traps_enabled()) {
    std::printf("traps not restored\n");
    return 3;
  }
  if (product != 0.0 || subnormal == 0.0 || third == 0.0) {
    std::printf("unexpected results\n");
    return 3;
  }
  std::printf("quiet ok\n");
  return 0;
}

int run(int length) {
  std::string text = "  " + std::string(length - 2, 'x') + "   ";
  const int result = textio::run_command(text);
  std::printf("%d %d\n", result, textio::last_command_error());
  return 0;
}

std::string contents(const char* name) {
  std::string text;
  platform::FileHandle h = platform::kNoFile;
  platform::Access access;
  if (platform::open_existing(name, h, access) != 0) return "<cannot open>";
  char buffer[256];
  std::size_t got = 0;
  while (platform::read_some(h, buffer, sizeof buffer, got) == 0 && got > 0)
    text.append(buffer, got);
  platform::close_file(h);
  return text;
}

bool write_file(const char* name, const std::string& text) {
  DeleteFileA(name);
  platform::FileHandle h = platform::kNoFile;
  if (platform::create_exclusive(name, h) != 0) return false;
  const bool ok = platform::write_all(h, text.data(), text.size()) == 0;
  return platform::close_file(h) == 0 && ok;
}

int files() {
  const char* failed = nullptr;
  platform::FileHandle h = platform::kNoFile;
  platform::Access access;

  // Creation is exclusive; records are written without newline translation
  // and replace a longer existing content.
  if (!write_file("probe-a.txt", "old content\nthat is longer\n")) failed = "create";
  if (!failed && platform::create_exclusive("probe-a.txt", h) == 0) failed = "exclusive create";
  if (!failed) {
    textio::open_unit(3, "probe-a.txt");
    textio::write_record(3, "(5(I10))", {1, 2});
    textio::write_free_record(3);
    // While the unit is open, another opening may read and write the file.
    if (platform::open_existing("probe-a.txt", h, access) != 0 ||
        access != platform::Access::ReadWrite)
      failed = "shared opening";
    else
      platform::close_file(h);
    textio::close_unit(3);
    if (!failed && contents("probe-a.txt") != "         1         2\r\n \r\n") failed = "records";
  }
  // While another program holds the file and shares only reading, it opens
  // read-only; sharing only writing, write-only.
  static constexpr struct {
    DWORD rights, share;
    platform::Access expected;
  } kHolders[] = {{GENERIC_READ, FILE_SHARE_READ, platform::Access::ReadOnly},
                  {GENERIC_WRITE, FILE_SHARE_WRITE, platform::Access::WriteOnly}};
  for (const auto& [rights, share, expected] : kHolders) {
    if (failed) break;
    const HANDLE other = CreateFileA("probe-a.txt", rights, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE || platform::open_existing("probe-a.txt", h, access) != 0 ||
        access != expected)
      failed =
          expected == platform::Access::ReadOnly ? "read-only fallback" : "write-only fallback";
    else
      platform::close_file(h);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  }
  // A directory is no file: it does not open, and its error has a text.
  if (!failed) {
    CreateDirectoryA("probe-c", nullptr);
    const int error = platform::open_existing("probe-c", h, access);
    if (error == 0 || platform::error_text(error).empty() || !platform::file_exists("probe-c"))
      failed = "directory";
    RemoveDirectoryA("probe-c");
  }
  if (!failed && platform::file_exists("probe-missing.txt")) failed = "missing file";
  // A device takes records without being truncated first (a failure ends the
  // run with a report).
  if (!failed) {
    textio::open_unit(4, "NUL");
    textio::write_record(4, "(5(I10))", {1});
    textio::close_unit(4);
  }
  DeleteFileA("probe-a.txt");
  if (failed) {
    std::printf("files failed: %s\n", failed);
    return 3;
  }
  std::printf("files ok\n");
  return 0;
}

// The kind irregular_kind gives the file `name` opens as, "regular" for none.
std::string kind_of(const char* name) {
  platform::FileHandle h = platform::kNoFile;
  if (platform::open_for_reading(name, h) != 0) return "<cannot open>";
  const char* kind = platform::irregular_kind(h);
  platform::close_file(h);
  return kind == nullptr ? "regular" : kind;
}

int irregular() {
  const char* failed = nullptr;
  if (!write_file("probe-r.txt", "1\n") || kind_of("probe-r.txt") != "regular") failed = "file";
  DeleteFileA("probe-r.txt");
  if (!failed && kind_of("NUL") != "a device") failed = "null device";
  // A pipe with no one writing to it: its reader would wait for ever.
  const char* pipe = "\\\\.\\pipe\\malha-probe";
  const HANDLE server =
      CreateNamedPipeA(pipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  if (!failed && (server == INVALID_HANDLE_VALUE || kind_of(pipe) != "a pipe")) failed = "pipe";
  if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  std::printf(failed ? "irregular failed: %s\n" : "irregular ok\n", failed);
  std::fflush(stdout);
  if (failed) return 3;
  textio::open_input_unit(1, "NUL");
  std::printf("NUL was not refused\n");
  return 3;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "fp" && argc == 3) {
    const std::string kind = argv[2];
    if (kind == "quiet") return fp_quiet();
    return kind.rfind("multiple-", 0) == 0 ? fp_multiple(kind) : fp_fault(kind);
  }
  if (what == "run" && argc == 3) return run(std::atoi(argv[2]));
  if (what == "files" && argc == 2) return files();
  if (what == "irregular" && argc == 2) return irregular();
  std::fprintf(stderr, "usage: platform_probe fp KIND | run N | files | irregular\n");
  return 64;
}

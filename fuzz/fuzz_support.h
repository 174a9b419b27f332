// Shared by the fuzz targets: a fatal report ends the input instead of the
// process, and every report must have the shape the program promises.
#pragma once

#include <fenv.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "textio.h"

namespace malha::fuzz {

// A fatal report, thrown back to the target by the handler below.
struct FatalReport {
  std::string text;
};

[[noreturn]] inline void throw_report(const std::string& report) {
  throw FatalReport{report};
}

[[noreturn]] inline void broken(const char* what, std::string_view text) {
  std::fprintf(stderr, "\n*** %s: [", what);
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F)
      std::fputc(c, stderr);
    else
      std::fprintf(stderr, "\\x%02X", c);
  }
  std::fprintf(stderr, "]\n");
  std::abort();
}

// CR LF "run-time error F" NNNN ": " STATEMENT "(" name ")" CR LF "- " message CR LF,
// with no other line end anywhere. `statement` and `name` are checked when
// not empty.
inline void check_report(const std::string& r, std::string_view statement = {},
                         std::string_view name = {}) {
  constexpr std::string_view kStart = "\r\nrun-time error F";
  if (r.compare(0, kStart.size(), kStart) != 0) broken("report start", r);
  std::size_t p = kStart.size();
  for (int k = 0; k < 4; ++k, ++p) {
    if (p >= r.size() || r[p] < '0' || r[p] > '9') broken("report number", r);
  }
  if (r.compare(p, 2, ": ") != 0) broken("report statement", r);
  p += 2;
  const std::size_t open = r.find('(', p);
  if (open == std::string::npos) broken("report statement", r);
  const std::string_view stmt(r.data() + p, open - p);
  if (stmt != "OPEN" && stmt != "READ" && stmt != "WRITE" && stmt != "CLOSE" &&
      stmt != "ALLOCATE" && stmt != "CONVERGE")
    broken("report statement", r);
  if (!statement.empty() && stmt != statement) broken("unexpected statement", r);
  const std::size_t line_end = r.find("\r\n", open);
  if (line_end == std::string::npos || line_end < open + 1 || r[line_end - 1] != ')')
    broken("report first line", r);
  if (!name.empty() && std::string_view(r.data() + open + 1, line_end - open - 2) != name)
    broken("unexpected file name", r);
  if (r.compare(line_end + 2, 2, "- ") != 0) broken("report message", r);
  const std::size_t message = line_end + 4;
  if (r.size() < message + 3 || r.compare(r.size() - 2, 2, "\r\n") != 0) broken("report end", r);
  for (std::size_t k = 0; k + 2 < r.size(); ++k) {
    if ((r[k] == '\r' || r[k] == '\n') && k != 0 && k != 1 && k != line_end && k != line_end + 1)
      broken("line end inside the report", r);
  }
}

inline constexpr int kTrappedExceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// The program runs with traps for these; under the fuzzer a trap is a crash.
class TrapsOn {
 public:
  TrapsOn() {
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(kTrappedExceptions);
  }
  ~TrapsOn() {
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
  }
  TrapsOn(const TrapsOn&) = delete;
  TrapsOn& operator=(const TrapsOn&) = delete;
};

// A private directory for the whole fuzzing session, removed at its end: on
// a memory file system where the machine has one (/dev/shm), as the targets
// rewrite a file for every input and a disk's file system would write each
// one out (a file cut and rewritten is flushed when closed on ext4), which
// costs more than the input's run.
inline std::string scratch_directory() {
  static const std::string dir = [] {
    std::error_code ec;
    const std::filesystem::path memory = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(memory, ec) ? memory : std::filesystem::temp_directory_path();
    std::string pattern = (base / "malha-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  static const bool registered = [] {
    // libFuzzer ends through exit(), which runs this.
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
    return true;
  }();
  (void)registered;
  return dir;
}

// Makes the scratch directory the working directory. libFuzzer names its
// corpus and artifact paths relative to the directory it started in, so a
// target that calls this must be given absolute paths.
inline void enter_scratch_directory() {
  if (::chdir(scratch_directory().c_str()) != 0) std::abort();
}

inline void put_file(const char* name, const char* data, std::size_t size) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

inline void install() {
  textio::set_fatal_handler(throw_report);
}

}  // namespace malha::fuzz

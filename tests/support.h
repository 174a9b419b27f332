// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "variaveis.h"

namespace malha::test {

// A fresh empty directory, removed with its content when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Makes `dir` the working directory for the object's lifetime.
class ChangeDir {
 public:
  explicit ChangeDir(const std::filesystem::path& dir);
  ~ChangeDir();
  ChangeDir(const ChangeDir&) = delete;
  ChangeDir& operator=(const ChangeDir&) = delete;

 private:
  std::filesystem::path old_;
};

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& content);

// The names of the files in `dir`, leaving out the dot-files of the test harness.
std::set<std::string> names_in(const std::filesystem::path& dir);

// `text` C-escaped, for failure messages: CR, LF and the backslash as \r, \n
// and \\, other bytes outside printable ASCII as \xNN. Distinct texts stay
// distinct, so comparing two escaped texts compares the texts.
std::string visible(const std::string& text);

// Splits at CR LF; every record must end with CR LF (the last one included).
std::vector<std::string> crlf_records(const std::string& content);

struct RunResult {
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended it, or 0
  std::string stderr_text;
  std::string stdout_text;
  std::vector<std::string> commands;  // command texts the interpreter received
  bool timed_out = false;             // killed after the time it was given
};

// Runs the program `exe` in `dir` with COMSPEC pointing at a recording
// interpreter that logs each command text it gets and runs nothing, and with
// the extra environment variables and the arguments given. A run that has
// not ended after `timeout_seconds` (when not 0) is killed.
RunResult run_program(const std::string& exe, const std::filesystem::path& dir,
                      const std::map<std::string, std::string>& env = {},
                      const std::vector<std::string>& args = {}, int timeout_seconds = 0);

// For a child process about to run a program: standard error to the file
// `err` (created or truncated), standard input and output to /dev/null.
void redirect_standard_streams(const std::filesystem::path& err);

// For a child process about to touch files: permissions do not bind root, so
// a root process acts as an ordinary user; it exits with status 3 if it
// cannot.
void act_as_ordinary_user();

// A mesh of nx by ny volumes built algebraically (grading exponent `grading`).
std::unique_ptr<MeshState> algebraic_mesh(std::int32_t nx, std::int32_t ny, double grading = 1.0);

// The same, with the storage for elliptic smoothing allocated and the given
// spacings.
std::unique_ptr<MeshState> smoothing_mesh(std::int32_t nx, std::int32_t ny, double dksi = 1.0,
                                          double deta = 1.0, double grading = 1.0);

}  // namespace malha::test

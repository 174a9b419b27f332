// Helpers shared by the test programs.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

// Splits at CR LF; every record must end with CR LF (the last one included).
std::vector<std::string> crlf_records(const std::string& content);

struct RunResult {
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended it, or 0
  std::string stderr_text;
  std::vector<std::string> commands;  // command texts the interpreter received
};

// Runs the program `exe` in `dir` with COMSPEC pointing at a recording
// interpreter that logs each command text it gets and runs nothing, and with
// the extra environment variables given.
RunResult run_program(const std::string& exe, const std::filesystem::path& dir,
                      const std::map<std::string, std::string>& env = {});

}  // namespace malha::test

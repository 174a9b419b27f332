// Set-up shared by the tests that run malha-report on the files of a real
// run of malha.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.h"

namespace malha::test {

namespace fs = std::filesystem;

inline const std::string kSmallCase = "t\n4\n2\n1\n1\n";  // nx = 4, ny = 2, no smoothing

// The folder of the files of one run of malha on `entradas` (and
// `elipticas`, and the options `args`), made on first use and kept while the
// test program runs.
inline const fs::path& malha_run(const std::string& entradas, const std::string& elipticas = "",
                                 const std::vector<std::string>& args = {}) {
  static std::map<std::string, std::unique_ptr<TempDir>> runs;
  std::string key = entradas + '\0' + elipticas;
  for (const std::string& a : args) key += '\0' + a;
  auto& dir = runs[key];
  if (!dir) {
    dir = std::make_unique<TempDir>();
    write_file(*dir / "entradas.txt", entradas);
    if (!elipticas.empty()) write_file(*dir / "entrada_eq_elipticas.txt", elipticas);
    const auto run = run_program(MALHA_EXE, dir->path(), {}, args);
    if (run.exit_status != 0) throw std::runtime_error("malha failed: " + run.stderr_text);
  }
  return dir->path();
}

// `to` afresh, holding the files of case "t" of `run` under the name `stem`.
inline void copy_case(const fs::path& run, const fs::path& to, const std::string& stem = "t") {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(run)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("t")) fs::copy(entry.path(), to / (stem + name.substr(1)));
  }
}

// The names in a folder, sorted.
inline std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Every file of a folder, and of the folders in it, with its content
// (links by their target).
inline std::map<std::string, std::string> tree(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_symlink())
      out[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      out[name] = read_file(entry.path());
  }
  return out;
}

// A stand-in gnuplot's way of drawing: the PNG signature into the picture,
// its argument $4 ("gnuplot -c SCRIPT DATA PICTURE TITLE LABEL").
inline const std::string kDrawsPng = "printf '\\211PNG\\r\\n\\032\\n' > \"$4\"";

// Case "t" in `case`; stand-ins in `bin`, first on PATH, with /bin/sh the
// command interpreter; scratch files in `scratch`; $RECORD_LOG is `log`.
class ReportFolder : public testing::Test {
 protected:
  void SetUp() override {
    copy_case(malha_run(kSmallCase), case_dir_);
    fs::create_directories(bin_);
    fs::create_directories(scratch_);
  }

  // A stand-in program `name` in `bin` that runs the shell text `body`.
  void stand_in(const std::string& name, const std::string& body) const {
    write_file(bin_ / name, "#!/bin/sh\n" + body + "\n");
    fs::permissions(bin_ / name, fs::perms::owner_all);
  }

  RunResult run(const std::string& exe, const std::vector<std::string>& args) const {
    return run_program(exe, case_dir_,
                       {{"COMSPEC", ""},
                        {"PATH", bin_.string() + ":/usr/bin:/bin"},
                        {"RECORD_LOG", log_.string()},
                        {"TMPDIR", scratch_.string()}},
                       args);
  }
  RunResult report(const std::vector<std::string>& args) const {
    return run(MALHA_REPORT_EXE, args);
  }

  TempDir dir_;
  fs::path case_dir_ = dir_ / "case", bin_ = dir_ / "bin", scratch_ = dir_ / "scratch",
           log_ = dir_ / "calls.log";
};

}  // namespace malha::test

// How malha-report writes its files: whole or not at all, never through a
// link, never over a file of the case, and never leaving a scratch or a
// half-written file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "report/checks/records.h"
#include "report/output_file.h"
#include "report_case.h"

namespace {

namespace fs = std::filesystem;
using malha::report::CheckFailure;
using malha::report::OutputFile;
using malha::report::ReplacingFile;
using malha::report::ScratchFile;
using malha::test::listing;
using malha::test::read_file;
using malha::test::TempDir;
using malha::test::write_file;

// Every file of the folder with its content (links by their target).
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink())
      out[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      out[name] = read_file(entry.path());
    else
      out[name] = "(special)";
  }
  return out;
}

using ReportOutput = malha::test::ReportFolder;

const std::string kReplace = ": expected no file or a regular file to replace, found ";
const std::string kLink = kReplace + "a symbolic link (not followed)";

// The target of each export made, in the case's folder, by a shell command.
struct Refusal {
  const char* options;
  const char* target;
  const char* make;
  std::string message;  // after "malha-report: TARGET"
};

TEST_F(ReportOutput, TargetsThatAreNotFilesOfTheirOwnAreRefusedInOneLine) {
  const Refusal table[] = {
      {"--vtk", "t.vts", "ln -s t.txt t.vts", kLink},
      {"--plot3d", "t.xyz", "ln t_cent.txt t.xyz",
       ": expected a file of its own, found the case file t_cent.txt under that name (a link)"},
      {"--vtk", "t.vts", "echo 'keep me' > ../victim; ln -s ../victim t.vts", kLink},
      {"--vtk", "t.vts", "ln -s ../elsewhere t.vts", kLink},
      {"--plot3d", "t.xyz", "mkdir t.xyz", kReplace + "a folder"},
      {"--vtk", "t.vts", "mkfifo t.vts", kReplace + "a device, a pipe or another special file"},
      {"--map equiangle_skew --svg", "t_equiangle_skew.svg", "ln -s t.txt t_equiangle_skew.svg",
       kLink},
  };
  for (const Refusal& r : table) {
    SCOPED_TRACE(r.make);
    SetUp();
    ASSERT_EQ(std::system(("cd '" + case_dir_.string() + "' && " + r.make).c_str()), 0);
    const auto before = contents(dir_.path()), case_before = contents(case_dir_);
    std::vector<std::string> args;
    std::istringstream options(r.options);
    for (std::string option; options >> option;) args.push_back(option);
    args.push_back("t");
    const auto run = report(args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.stderr_text, "malha-report: " + std::string(r.target) + r.message + "\n");
    EXPECT_EQ(contents(case_dir_), case_before) << "a case file or the target changed";
    EXPECT_EQ(contents(dir_.path()), before) << "something was written beside the case";
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere")) << "the dangling link was followed";
  }
}

TEST_F(ReportOutput, EveryExportReplacesAnOldFileWholeAndLeavesNoScratch) {
  const std::vector<std::string> written = {"t.vts", "t.xyz", "t_equiangle_skew.svg", "t_area.svg"};
  for (const std::string& old : written) write_file(case_dir_ / old, "old");
  const auto run =
      report({"--vtk", "--plot3d", "--map", "equiangle_skew", "--map", "area", "--svg", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  for (const std::string& name : written) EXPECT_NE(read_file(case_dir_ / name), "old") << name;
  for (const std::string& name : listing(case_dir_)) EXPECT_FALSE(name.starts_with(".")) << name;
  EXPECT_TRUE(fs::is_empty(scratch_)) << "a scratch file is left";
}

// A write that fails half-way (here the file size limit, as a full disk
// would) leaves the old file as it was and nothing beside it.
TEST(OutputFileFailure, AFailedWriteLeavesThePreviousFileIntact) {
  TempDir dir;
  const fs::path target = dir / "mesh.vts";
  write_file(target, "the previous file");
  const auto old_action = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  const rlimit small{64 * 1024, old_limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  std::string message;
  try {
    OutputFile out(target.string());
    out.put(std::string(3 << 20, 'x'));
    out.close();
  } catch (const CheckFailure& f) {
    message = f.what();
  }
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_action);
  EXPECT_EQ(message.rfind(target.string() + ": expected the whole file written, found ", 0), 0u)
      << message;
  EXPECT_EQ(read_file(target), "the previous file");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"mesh.vts"});
}

// A library that opens the file itself (by name) writes the temporary file,
// which then takes the target's name; one never committed is removed, as
// are scratch files, each a name of its own.
TEST(ReplacingAndScratchFiles, CommittedWholeOrRemoved) {
  TempDir dir;
  const fs::path target = dir / "mesh.cgns";
  write_file(target, "old");
  {
    ReplacingFile file(target.string()), abandoned(target.string());
    EXPECT_EQ(fs::path(file.temporary()).parent_path(), dir.path());
    file.close_handle();
    std::ofstream(file.temporary(), std::ios::binary) << "new";
    EXPECT_EQ(read_file(target), "old");
    file.commit();
  }
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"mesh.cgns"});
  std::string first, second;
  {
    ScratchFile a(".dat"), b(".dat");
    first = a.name();
    second = b.name();
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::is_regular_file(first) && first.ends_with(".dat"));
  }
  EXPECT_FALSE(fs::exists(first) || fs::exists(second));
}

}  // namespace

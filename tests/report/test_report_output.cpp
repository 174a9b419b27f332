// How malha-report writes its files: whole or not at all, never through a
// link, never over a file of the case, and never leaving a scratch or a
// half-written file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "output_file.h"
#include "platform.h"
#include "records.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::report::CheckFailure;
using malha::report::OutputFile;
using malha::report::ReplacingFile;
using malha::report::ScratchFile;
using malha::test::read_file;
using malha::test::TempDir;
using malha::test::write_file;

// The names in a folder, sorted.
std::vector<std::string> listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

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

// The files of one small run of malha, case "t", in `folder`/case.
class ReportOutput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pristine_ = new TempDir;
    write_file(*pristine_ / "entradas.txt", "t\n4\n2\n1\n1\n");
    const auto run = malha::test::run_program(MALHA_EXE, pristine_->path());
    ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  }
  static void TearDownTestSuite() { delete pristine_; }

  void SetUp() override {
    fs::create_directory(case_dir_);
    for (const auto& entry : fs::directory_iterator(pristine_->path()))
      if (entry.path().filename().string().starts_with("t"))
        fs::copy(entry.path(), case_dir_ / entry.path().filename());
  }

  malha::test::RunResult report(const std::vector<std::string>& args) {
    return malha::test::run_program(MALHA_REPORT_EXE, case_dir_, {{"TMPDIR", scratch_.string()}},
                                    args);
  }

  static TempDir* pristine_;
  TempDir dir_;
  fs::path case_dir_ = dir_ / "case";
  fs::path scratch_ = dir_.path();
};

TempDir* ReportOutput::pristine_ = nullptr;

struct Refusal {
  const char* name;
  std::vector<std::string> args;
  const char* target;
  std::function<void(const fs::path& case_dir)> make;
  const char* found;  // what the one line must say was found
};

const std::vector<Refusal>& refusals() {
  static const std::vector<Refusal> table = {
      {"link to the case's mesh file",
       {"--vtk", "t"},
       "t.vts",
       [](const fs::path& d) { fs::create_symlink("t.txt", d / "t.vts"); },
       "a symbolic link"},
      {"hard link to a case file",
       {"--plot3d", "t"},
       "t.xyz",
       [](const fs::path& d) { fs::create_hard_link(d / "t_cent.txt", d / "t.xyz"); },
       "the case file t_cent.txt under that name"},
      {"link to an unrelated file",
       {"--vtk", "t"},
       "t.vts",
       [](const fs::path& d) {
         write_file(d / ".." / "victim", "keep me");
         fs::create_symlink("../victim", d / "t.vts");
       },
       "a symbolic link"},
      {"dangling link",
       {"--vtk", "t"},
       "t.vts",
       [](const fs::path& d) { fs::create_symlink("../elsewhere", d / "t.vts"); },
       "a symbolic link"},
      {"folder",
       {"--plot3d", "t"},
       "t.xyz",
       [](const fs::path& d) { fs::create_directory(d / "t.xyz"); },
       "a folder"},
      {"pipe",
       {"--vtk", "t"},
       "t.vts",
       [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "t.vts").c_str(), 0600), 0); },
       "a device, a pipe or another special file"},
      {"map through a link to the case's mesh file",
       {"--map", "equiangle_skew", "--svg", "t"},
       "t_equiangle_skew.svg",
       [](const fs::path& d) { fs::create_symlink("t.txt", d / "t_equiangle_skew.svg"); },
       "a symbolic link"},
  };
  return table;
}

TEST_F(ReportOutput, TargetsThatAreNotFilesOfTheirOwnAreRefusedInOneLine) {
  for (const Refusal& r : refusals()) {
    SCOPED_TRACE(r.name);
    fs::remove_all(case_dir_);
    SetUp();
    r.make(case_dir_);
    const auto before = contents(dir_.path()), case_before = contents(case_dir_);
    const auto run = report(r.args);
    EXPECT_EQ(run.exit_status, 1);
    const std::string line = std::string("malha-report: ") + r.target +
                             ": expected no file or a regular file to replace, found ";
    const std::string expected_found =
        std::string(r.found).starts_with("the case file")
            ? std::string("malha-report: ") + r.target + ": expected a file of its own, found " +
                  r.found + " (a link)\n"
            : line + r.found +
                  (std::string(r.found) == "a symbolic link" ? " (not followed)\n" : "\n");
    EXPECT_EQ(run.stderr_text, expected_found);
    EXPECT_EQ(contents(case_dir_), case_before) << "a case file or the target changed";
    EXPECT_EQ(contents(dir_.path()), before) << "something was written beside the case";
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere")) << "the dangling link was followed";
  }
}

TEST_F(ReportOutput, EveryExportReplacesAnOldFileWholeAndLeavesNoScratch) {
  for (const char* old : {"t.vts", "t.xyz", "t_equiangle_skew.svg", "t_area.svg"})
    write_file(case_dir_ / old, "old");
  const auto run =
      report({"--vtk", "--plot3d", "--map", "equiangle_skew", "--map", "area", "--svg", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  for (const char* written : {"t.vts", "t.xyz", "t_equiangle_skew.svg", "t_area.svg"})
    EXPECT_NE(read_file(case_dir_ / written), "old") << written;
  for (const std::string& name : listing(case_dir_)) EXPECT_FALSE(name.starts_with(".")) << name;
  EXPECT_EQ(listing(scratch_), std::vector<std::string>{"case"}) << "a scratch file is left";
}

// A write that fails half-way (here the file size limit, as a full disk
// would) leaves the old file as it was and nothing beside it.
TEST(OutputFileFailure, AFailedWriteLeavesThePreviousFileIntact) {
  TempDir dir;
  const fs::path target = dir / "mesh.vts";
  write_file(target, "the previous file");
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
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
  sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_EQ(message.rfind(target.string() + ": expected the whole file written, found ", 0), 0u)
      << message;
  EXPECT_EQ(read_file(target), "the previous file");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"mesh.vts"});
}

// A library that opens the file itself (by name) writes the temporary file,
// which then takes the target's name.
TEST(ReplacingFileApi, ALibraryWritesTheTemporaryByNameThenItIsCommitted) {
  TempDir dir;
  const fs::path target = dir / "mesh.cgns";
  write_file(target, "old");
  {
    ReplacingFile file(target.string());
    EXPECT_EQ(fs::path(file.temporary()).parent_path(), dir.path());
    file.close_handle();
    std::ofstream(file.temporary(), std::ios::binary) << "new";
    EXPECT_EQ(read_file(target), "old");
    file.commit();
  }
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"mesh.cgns"});
  {
    ReplacingFile abandoned(target.string());  // never committed: removed
  }
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"mesh.cgns"});
}

TEST(ScratchFileApi, CreatedUniqueAndRemovedWithTheObject) {
  std::string first, second;
  {
    ScratchFile a(".dat"), b(".dat");
    first = a.name();
    second = b.name();
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::is_regular_file(first));
    EXPECT_TRUE(first.ends_with(".dat"));
  }
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
}

}  // namespace

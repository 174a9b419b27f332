// malha-report against the limits of its surroundings, as a user meets
// them: a file-size limit (ulimit -f), an existing output made read-only, a
// TMPDIR that names no folder. Each is a run of the program itself, as the
// shell that set the limit would start it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report_case.h"

namespace {

namespace fs = std::filesystem;
using malha::test::kDrawsPng;
using malha::test::listing;
using malha::test::read_file;
using malha::test::run_program;
using malha::test::RunResult;
using malha::test::write_file;

// The shell of a user who set `limit` first: "ulimit -f 8; malha-report ...".
std::vector<std::string> under_shell(const std::string& limit, const std::string& exe,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> out = {"-c", limit + "; exec \"$0\" \"$@\"", exe};
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

class ReportLimits : public malha::test::ReportFolder {
 protected:
  RunResult limited(const std::string& limit, const std::vector<std::string>& args) const {
    return run("/bin/sh", under_shell(limit, MALHA_REPORT_EXE, args));
  }
};

// A file-size limit makes the write fail, as a full disk does: the report
// names the file, the earlier file stays, nothing is left beside it. Before,
// SIGXFSZ ended the program (status 153) with its new file left behind.
TEST_F(ReportLimits, AFileSizeLimitIsAFailedWriteNotADeath) {
  const struct {
    const char* option;
    const char* target;
  } table[] = {{"--vtk", "t.vts"}, {"--vtu", "t.vtu"}, {"--msh", "t.msh"}, {"--plot3d", "t.xyz"}};
  // A case whose exports are larger than the limit, its report smaller.
  malha::test::copy_case(malha::test::malha_run("t\n40\n20\n1\n1\n"), case_dir_);
  for (const auto& row : table) {
    SCOPED_TRACE(row.option);
    write_file(case_dir_ / row.target, "the earlier file");
    const auto before = listing(case_dir_);
    const RunResult result = limited("ulimit -f 16", {row.option, "t"});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.stderr_text, "malha-report: " + std::string(row.target) +
                                      ": expected the whole file written, found file too large\n");
    EXPECT_EQ(read_file(case_dir_ / row.target), "the earlier file");
    EXPECT_EQ(listing(case_dir_), before);
  }
}

// malha under the same limit: its F6601 report, the status 1 it promises.
TEST_F(ReportLimits, MalhaUnderAFileSizeLimitReportsTheWrite) {
  const fs::path folder = dir_ / "run";
  fs::create_directories(folder);
  write_file(folder / "entradas.txt", "big\n200\n100\n1\n1\n");
  const RunResult result =
      run_program("/bin/sh", folder, {}, under_shell("ulimit -f 20", MALHA_EXE, {}));
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(
      result.stderr_text.find("F6601: WRITE(big.txt)\r\n- error writing the file: file too large"),
      std::string::npos)
      << result.stderr_text;
}

// An output its owner made read-only is refused as malha refuses its own
// (F6601), not replaced by a rename. Root may write anything, so the run is
// an ordinary user's.
TEST_F(ReportLimits, AReadOnlyOutputIsKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as an ordinary user";
  fs::permissions(dir_.path(), fs::perms::all);
  fs::permissions(case_dir_, fs::perms::all);
  write_file(case_dir_ / "t.vts", "kept");
  fs::permissions(case_dir_ / "t.vts",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const RunResult result =
      run("/usr/bin/setpriv",
          {"--reuid=65534", "--regid=65534", "--clear-groups", MALHA_REPORT_EXE, "--vtk", "t"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.stderr_text,
            "malha-report: t.vts: expected no file or a writable file to replace, found a file "
            "that can only be read, so it cannot be written\n");
  EXPECT_EQ(read_file(case_dir_ / "t.vts"), "kept");
  EXPECT_EQ(fs::status(case_dir_ / "t.vts").permissions() & fs::perms::owner_write,
            fs::perms::none);
}

// A TMPDIR that names no folder (a typing error, a folder since removed)
// leaves the system's for the scratch files of --map, as the C library
// does, instead of failing the run.
TEST_F(ReportLimits, AMissingScratchFolderLeavesTheSystemOne) {
  stand_in("gnuplot", kDrawsPng);
  const RunResult result = run_program(MALHA_REPORT_EXE, case_dir_,
                                       {{"COMSPEC", ""},
                                        {"PATH", bin_.string() + ":/usr/bin:/bin"},
                                        {"TMPDIR", (dir_ / "no such folder").string()}},
                                       {"--map", "area", "t"});
  EXPECT_EQ(result.exit_status, 0) << result.stderr_text;
  EXPECT_TRUE(fs::exists(case_dir_ / "t_area.png"));
}

}  // namespace

// malha-report against the limits of its surroundings, as a user meets
// them: a file-size limit (ulimit -f), an existing output made read-only, a
// TMPDIR that names no folder. Each is a run of the program itself, as the
// shell that set the limit would start it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "report/exports/exports.h"
#include "report_case.h"

namespace {

namespace fs = std::filesystem;
using malha::test::kDrawsPng;
using malha::test::listing;
using malha::test::read_file;
using malha::test::run_program;
using malha::test::RunResult;
using malha::test::tree;
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

// A file-size limit makes the write fail, as a full disk does: one line names
// the file, status 1, and the folder is as it was: the earlier file (or the
// earlier OpenFOAM mesh, every file of it) stays, nothing is left beside it.
// Before, SIGXFSZ ended the program (status 153) with its new file left
// behind, a replaced OpenFOAM mesh was half new (checkMesh found cells of
// negative volume), and the CGNS library's exit handler crashed on the file
// it could not close.
TEST_F(ReportLimits, AFileSizeLimitIsAFailedWriteNotADeath) {
  const std::string kTooLarge = ": expected the whole file written, found file too large\n";
  const struct {
    const char* option;
    std::string report;  // how the line on standard error begins
  } table[] = {{"--vtk", "t.vts" + kTooLarge},
               {"--vtu", "t.vtu" + kTooLarge},
               {"--msh", "t.msh" + kTooLarge},
               {"--plot3d", "t.xyz" + kTooLarge},
               {"--foam", "t_openfoam/constant/polyMesh/points" + kTooLarge},
               {"--cgns", "t.cgns: expected the CGNS library's "}};
  // A case whose exports are larger than the limit, its report smaller; the
  // earlier files beside it, the OpenFOAM mesh one of 4 x 2 moved in.
  malha::test::copy_case(malha::test::malha_run("t\n40\n20\n1\n1\n"), case_dir_);
  for (const char* target : {"t.vts", "t.vtu", "t.msh", "t.xyz"})
    write_file(case_dir_ / target, "the earlier file");
  malha::test::copy_case(malha::test::malha_run(malha::test::kSmallCase), dir_ / "small");
  ASSERT_EQ(run_program(MALHA_REPORT_EXE, dir_ / "small", {}, {"--foam", "t"}).exit_status, 0);
  fs::copy(dir_ / "small" / "t_openfoam", case_dir_ / "t_openfoam", fs::copy_options::recursive);
  for (const auto& row : table) {
    SCOPED_TRACE(row.option);
    if (std::string(row.option) == "--cgns" && !malha::report::cgns_supported()) continue;
    const auto before = tree(case_dir_);
    const RunResult result = limited("ulimit -f 16", {row.option, "t"});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.stderr_text.rfind("malha-report: " + row.report, 0), 0u) << result.stderr_text;
    EXPECT_EQ(std::count(result.stderr_text.begin(), result.stderr_text.end(), '\n'), 1)
        << result.stderr_text;
    EXPECT_EQ(tree(case_dir_), before);
  }
}

// A case name OpenFOAM cannot open as a case (it drops blanks and quotes
// from it): the line that says what was written says so, with a name it
// can open.
TEST_F(ReportLimits, AFoamCaseNameOpenFoamCannotOpenIsNamed) {
  const struct {
    std::string stem, advice;
  } table[] = {
      {"t", ""},
      {"x,y;(z)", ""},
      {"my mesh",
       "; OpenFOAM cannot open a case whose name holds a blank or a quote: give the "
       "folder a name without, such as my_mesh_openfoam"},
      {"it's",
       "; OpenFOAM cannot open a case whose name holds a blank or a quote: give the "
       "folder a name without, such as it_s_openfoam"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.stem);
    malha::test::copy_case(malha::test::malha_run(malha::test::kSmallCase), case_dir_, row.stem);
    const RunResult result = report({"--foam", row.stem});
    EXPECT_EQ(result.exit_status, 0) << result.stderr_text;
    const std::string line =
        "foam: wrote " + row.stem + "_openfoam/, with its system/ files" + row.advice + "\n";
    EXPECT_NE(result.stdout_text.find(line), std::string::npos) << result.stdout_text;
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

// The quality maps of malha-report: gnuplot stood in for by small scripts,
// so that its failure, its being stopped and its arguments can be shown.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/maps/map.h"
#include "report_case.h"

namespace {

namespace fs = std::filesystem;
using malha::test::kDrawsPng;
using malha::test::read_file;
using malha::test::write_file;

constexpr char kPng[] = "\x89PNG\r\n\x1a\n";

class ReportMaps : public malha::test::ReportFolder {
 protected:
  bool no_scratch_left() const { return fs::is_empty(scratch_); }
};

// One picture per map asked, once each; files a user has under the names
// the scratch files once had are neither written, followed nor removed.
TEST_F(ReportMaps, OnePicturePerMapAskedScratchFilesOfTheirOwn) {
  stand_in("gnuplot", kDrawsPng);
  write_file(case_dir_ / "t_equiangle_skew.png.dat", "mine");
  write_file(dir_ / "victim", "keep me");
  fs::create_symlink("../victim", case_dir_ / "t_equiangle_skew.png.gp");
  const auto run =
      report({"--map", "equiangle_skew", "--map", "area", "--map", "equiangle_skew", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  EXPECT_NE(run.stdout_text.find("map: wrote t_equiangle_skew.png (PNG, drawn by gnuplot)\n"
                                 "map: wrote t_area.png (PNG, drawn by gnuplot)\n"),
            std::string::npos)
      << run.stdout_text;
  for (const char* png : {"t_equiangle_skew.png", "t_area.png"})
    EXPECT_EQ(read_file(case_dir_ / png), kPng) << png;
  EXPECT_EQ(read_file(case_dir_ / "t_equiangle_skew.png.dat"), "mine");
  EXPECT_EQ(read_file(dir_ / "victim"), "keep me");
  EXPECT_TRUE(fs::is_symlink(case_dir_ / "t_equiangle_skew.png.gp"));
  EXPECT_TRUE(no_scratch_left());
}

TEST_F(ReportMaps, AFailedGnuplotLeavesTheEarlierPictureAndGivesTheSvg) {
  stand_in("gnuplot", "printf 'half' > \"$4\"; exit 1");
  write_file(case_dir_ / "t_equiangle_skew.png", "the earlier picture");
  const auto run = report({"--map", "equiangle_skew", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  EXPECT_NE(
      run.stdout_text.find("map: wrote t_equiangle_skew.svg (SVG; gnuplot failed with status 1)"),
      std::string::npos)
      << run.stdout_text;
  EXPECT_EQ(read_file(case_dir_ / "t_equiangle_skew.png"), "the earlier picture");
  EXPECT_TRUE(no_scratch_left());
}

// Ctrl-C while gnuplot draws: the whole process group gets SIGINT. gnuplot
// itself catches it and exits with status 1; a plainer program dies of it.
// The report runs in a session of its own, so that the signal reaches the
// report and gnuplot only.
TEST_F(ReportMaps, StoppedGnuplotStopsTheReportBySignal) {
  for (const char* gnuplot :
       {"printf x > \"$4\"; kill -INT 0; sleep 5", "trap 'exit 1' INT; kill -INT 0; sleep 5"}) {
    SCOPED_TRACE(gnuplot);
    stand_in("gnuplot", gnuplot);
    const auto run =
        this->run("/usr/bin/setsid", {MALHA_REPORT_EXE, "--map", "equiangle_skew", "t"});
    EXPECT_EQ(run.signal, SIGINT) << "status " << run.exit_status << ": " << run.stderr_text;
    EXPECT_EQ(run.stderr_text,
              "malha-report: gnuplot was stopped by SIGINT while drawing the map; stopping, no "
              "map written\n");
    for (const std::string& name : malha::test::listing(case_dir_))
      EXPECT_TRUE(name.starts_with("t") && !name.starts_with("t_equiangle_skew")) << name;
    EXPECT_TRUE(no_scratch_left());
  }
}

// A large mesh is drawn in blocks: the SVG holds at most kMostPatches
// shapes, and the title says how the cells were drawn; gnuplot gets one
// surface, a point per patch corner, one line each.
TEST_F(ReportMaps, LargeMeshesAreDrawnInBlocksThePictureCanShow) {
  write_file(case_dir_ / "entradas.txt", "big\n1000\n300\n1\n1\n");
  ASSERT_EQ(malha::test::run_program(MALHA_EXE, case_dir_).exit_status, 0);
  const auto run = report({"--map", "equiangle_skew", "--svg", "big"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  const std::string svg = read_file(case_dir_ / "big_equiangle_skew.svg");
  std::size_t polygons = 0;
  for (auto at = svg.find("<polygon"); at != std::string::npos; at = svg.find("<polygon", at + 1))
    ++polygons;
  EXPECT_EQ(polygons, 500u * 150u);  // blocks of 2 x 2
  EXPECT_NE(
      svg.find("big: equiangle skew (1000 x 300 cells drawn in blocks of 2 x 2, each the worst "
               "of its cells)"),
      std::string::npos);
  stand_in("gnuplot", "grep -c . \"$3\" > ../points; " + kDrawsPng);
  const auto drawn = report({"--map", "equiangle_skew", "big"});
  ASSERT_EQ(drawn.exit_status, 0) << drawn.stderr_text;
  EXPECT_EQ(read_file(dir_ / "points"), std::to_string(501 * 151) + "\n");
}

TEST(MapBlocks, TheSideKeepsThePatchesWithinTheBound) {
  using malha::report::kMostPatches;
  for (const std::int64_t cells :
       {std::int64_t{1}, kMostPatches, kMostPatches + 1, 4 * kMostPatches, 4 * kMostPatches + 1,
        std::int64_t{4000} * 2000, std::int64_t{46000} * 46000}) {
    const std::int64_t b = malha::report::block_side(cells);
    EXPECT_LE(cells, kMostPatches * b * b) << cells;
    EXPECT_TRUE(b == 1 || cells > kMostPatches * (b - 1) * (b - 1)) << cells;
  }
}

}  // namespace

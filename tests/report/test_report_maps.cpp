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

// The colour scale: logarithmic where the values are all above 0 and span two
// decades or more (the areas of a graded mesh), linear otherwise; the colour
// bar is numbered at its lower end either way.
struct ScaleCase {
  const char* label;
  std::vector<double> areas;  // of the cells of a 3 x 1 mesh
  bool logarithmic;
  std::vector<std::string> numbers;  // on the colour bar, from its lower end
};

TEST(MapScale, LogarithmicWhereTheValuesSpanDecades) {
  const ScaleCase table[] = {
      {"two decades", {1.5e-5, 1e-4, 1.5e-3}, true, {"1.5e-05", "0.0001", "0.001"}},
      {"less than two", {0.013, 0.05, 1.2}, false, {"0.013", "0.5", "1"}},
      // 0 is too near the lower end to be read beside it.
      {"an inverted cell", {-1e-4, 1e-4, 1e-1}, false, {"-0.0001", "0.05", "0.1"}},
  };
  malha::report::Mesh mesh;
  mesh.nx = 3, mesh.ny = 1, mesh.nxv = 4, mesh.nyv = 2;
  mesh.xv = {0, 1, 2, 3, 0, 1, 2, 3};
  mesh.yv = {0, 0, 0, 0, 1, 1, 1, 1};
  malha::test::TempDir dir;
  for (const ScaleCase& c : table) {
    SCOPED_TRACE(c.label);
    malha::report::CellTable cells;
    cells.area = c.areas;
    cells.xc = cells.yc = {0.5, 1.5, 2.5};
    cells.flags = {0, 0, 0};
    const auto p = malha::report::map_picture(mesh, cells, malha::report::Metric::Area, "t");
    EXPECT_EQ(p.logarithmic, c.logarithmic);
    EXPECT_EQ(p.label, c.logarithmic ? "area (logarithmic scale)" : "area");
    EXPECT_EQ(malha::report::scale_position(p, c.areas[0]), 0.0);
    EXPECT_DOUBLE_EQ(malha::report::scale_position(p, c.areas[2]), 1.0);
    const std::string svg = (dir.path() / "t.svg").string();
    malha::report::write_svg_map(svg, mesh, p);
    const std::string text = read_file(svg);
    // The numbers right of the bar, in order.
    std::size_t at = text.find("fill=\"url(#scale)\"");
    for (const std::string& n : c.numbers) {
      at = text.find("text-anchor=\"start\">" + n + "</text>", at);
      EXPECT_NE(at, std::string::npos) << n;
    }
  }
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

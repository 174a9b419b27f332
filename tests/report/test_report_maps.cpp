// The quality maps of malha-report: gnuplot stood in for by small scripts,
// so that its failure, its being stopped and its arguments can be shown.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "map.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using malha::test::read_file;
using malha::test::TempDir;
using malha::test::write_file;

constexpr char kPng[] = "\x89PNG\r\n\x1a\n";

// A stand-in for gnuplot: "gnuplot -c SCRIPT DATA PICTURE TITLE LABEL" runs `body`.
void make_gnuplot(const fs::path& bin, const std::string& body) {
  fs::create_directories(bin);
  write_file(bin / "gnuplot", "#!/bin/sh\n" + body + "\n");
  fs::permissions(bin / "gnuplot", fs::perms::owner_all);
}

// Draws a "picture": the PNG signature into the picture argument.
const std::string kDraws = "printf '\\211PNG\\r\\n\\032\\n' > \"$4\"; exit 0";

// One small case, "t" (nx = 4, ny = 2), in `case`, with a folder for
// scratch files beside it and a folder for the stand-in gnuplot.
class ReportMaps : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(case_dir_);
    fs::create_directories(scratch_);
    write_file(case_dir_ / "entradas.txt", "t\n4\n2\n1\n1\n");
    const auto run = malha::test::run_program(MALHA_EXE, case_dir_);
    ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  }

  // The report run with /bin/sh as its interpreter and only `bin` on PATH.
  malha::test::RunResult report(const std::vector<std::string>& args, bool own_session = false) {
    const std::map<std::string, std::string> env = {
        {"COMSPEC", ""}, {"PATH", bin_.string() + ":/usr/bin:/bin"}, {"TMPDIR", scratch_.string()}};
    if (!own_session) return malha::test::run_program(MALHA_REPORT_EXE, case_dir_, env, args);
    // In a session of its own, so that a signal to the whole process group
    // (as Ctrl-C at a terminal sends) reaches the report and gnuplot only.
    std::vector<std::string> with = {MALHA_REPORT_EXE};
    with.insert(with.end(), args.begin(), args.end());
    return malha::test::run_program("/usr/bin/setsid", case_dir_, env, with);
  }

  bool no_scratch_left() const { return fs::is_empty(scratch_); }

  TempDir dir_;
  fs::path case_dir_ = dir_ / "case", scratch_ = dir_ / "scratch", bin_ = dir_ / "bin";
};

TEST_F(ReportMaps, OnePicturePerMapAsked) {
  make_gnuplot(bin_, kDraws);
  const auto run =
      report({"--map", "equiangle_skew", "--map", "area", "--map", "equiangle_skew", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  EXPECT_NE(run.stdout_text.find("map: wrote t_equiangle_skew.png (PNG, drawn by gnuplot)\n"
                                 "map: wrote t_area.png (PNG, drawn by gnuplot)\n"),
            std::string::npos)
      << run.stdout_text;
  for (const char* png : {"t_equiangle_skew.png", "t_area.png"})
    EXPECT_EQ(read_file(case_dir_ / png), kPng) << png;
  EXPECT_TRUE(no_scratch_left());
}

TEST_F(ReportMaps, AFailedGnuplotLeavesTheEarlierPictureAndGivesTheSvg) {
  make_gnuplot(bin_, "printf 'half' > \"$4\"; exit 1");
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

// Files a user has under the names the scratch files once had are neither
// written, followed nor removed.
TEST_F(ReportMaps, ScratchFilesHaveNamesOfTheirOwn) {
  make_gnuplot(bin_, kDraws);
  write_file(case_dir_ / "t_equiangle_skew.png.dat", "mine");
  write_file(dir_ / "victim", "keep me");
  fs::create_symlink("../victim", case_dir_ / "t_equiangle_skew.png.gp");
  const auto run = report({"--map", "equiangle_skew", "t"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  EXPECT_EQ(read_file(case_dir_ / "t_equiangle_skew.png.dat"), "mine");
  EXPECT_EQ(read_file(dir_ / "victim"), "keep me");
  EXPECT_TRUE(fs::is_symlink(case_dir_ / "t_equiangle_skew.png.gp"));
  EXPECT_TRUE(no_scratch_left());
}

struct Stop {
  const char* name;
  const char* gnuplot;
};

// Ctrl-C while gnuplot draws: the whole process group gets SIGINT. gnuplot
// itself catches it and exits with status 1; a plainer program dies of it.
TEST_F(ReportMaps, StoppedGnuplotStopsTheReportBySignal) {
  const std::vector<Stop> stops = {
      {"dies of the signal", "printf x > \"$4\"; kill -INT 0; sleep 5"},
      {"catches it and exits 1, as gnuplot does", "trap 'exit 1' INT; kill -INT 0; sleep 5"},
  };
  for (const Stop& s : stops) {
    SCOPED_TRACE(s.name);
    make_gnuplot(bin_, s.gnuplot);
    const auto run = report({"--map", "equiangle_skew", "t"}, true);
    EXPECT_EQ(run.signal, SIGINT) << "status " << run.exit_status << ": " << run.stderr_text;
    EXPECT_EQ(run.stderr_text,
              "malha-report: gnuplot was stopped by SIGINT while drawing the map; stopping, no "
              "map written\n");
    EXPECT_FALSE(fs::exists(case_dir_ / "t_equiangle_skew.png"));
    EXPECT_FALSE(fs::exists(case_dir_ / "t_equiangle_skew.svg"));
    for (const auto& entry : fs::directory_iterator(case_dir_))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".malha-report-"));
    EXPECT_TRUE(no_scratch_left());
  }
}

// A large mesh is drawn in blocks: the SVG holds at most kMostPatches
// shapes, and the title says how the cells were drawn.
TEST_F(ReportMaps, LargeMeshesAreDrawnInBlocksThePictureCanShow) {
  write_file(case_dir_ / "entradas.txt", "big\n1000\n300\n1\n1\n");
  ASSERT_EQ(malha::test::run_program(MALHA_EXE, case_dir_).exit_status, 0);
  const auto run = report({"--map", "equiangle_skew", "--svg", "big"});
  ASSERT_EQ(run.exit_status, 0) << run.stderr_text;
  const std::string svg = read_file(case_dir_ / "big_equiangle_skew.svg");
  std::size_t polygons = 0;
  for (std::size_t at = svg.find("<polygon"); at != std::string::npos;
       at = svg.find("<polygon", at + 1))
    ++polygons;
  EXPECT_EQ(polygons, 500u * 150u);  // blocks of 2 x 2
  EXPECT_NE(svg.find("big: equiangle skew (1000 x 300 cells drawn in blocks of 2 x 2, each the worst "
                     "of its cells)"),
            std::string::npos);
  // gnuplot gets one surface: a point per patch corner, one line each.
  make_gnuplot(bin_, "grep -c . \"$3\" > ../points; " + kDraws);
  const auto drawn = report({"--map", "equiangle_skew", "big"});
  ASSERT_EQ(drawn.exit_status, 0) << drawn.stderr_text;
  EXPECT_EQ(read_file(dir_ / "points"), std::to_string(501 * 151) + "\n");
}

TEST(MapBlocks, TheSideKeepsThePatchesWithinTheBound) {
  using malha::report::block_side;
  using malha::report::kMostPatches;
  for (const std::int64_t cells :
       {std::int64_t{1}, kMostPatches, kMostPatches + 1, 4 * kMostPatches, 4 * kMostPatches + 1,
        std::int64_t{4000} * 2000, std::int64_t{46000} * 46000}) {
    const std::int64_t b = block_side(cells);
    EXPECT_LE(cells, kMostPatches * b * b) << cells;
    EXPECT_TRUE(b == 1 || cells > kMostPatches * (b - 1) * (b - 1)) << cells;
  }
}

}  // namespace

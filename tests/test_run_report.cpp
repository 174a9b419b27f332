// The warnings about a mesh: an odd nx with the area beyond the region,
// inverted and concave cells; about the case as read and the files an earlier
// run left; the files the run summary lists; the summary's account of a
// graded mesh.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "files/dados.h"
#include "files/layout.h"
#include "mesh/malhas_segmentos.h"
#include "mesh/quality.h"
#include "run/summary.h"
#include "smoothing/figure.h"
#include "support.h"

namespace {

// The quality of the mesh as the run measures it.
malha::MeshQuality quality(const malha::MeshState& s) {
  return malha::measure_mesh(s.xv.data(), s.yv.data(), s.nx, s.ny);
}

// Vertex (2, 2) of a 4 x 2 mesh, (0.25, 0.625), moved to (-0.5, 0.625). Cell (1, 1), (0, 1),
// (0, 0.5), (-0.5, 0.625), (0.25, 1) in its corner order, has the area -0.078125: it is inverted,
// and so concave. Cell (2, 1), (0, 0.5), (0, 0), (0.25, 0.25), (-0.5, 0.625), keeps the area
// 0.015625 but turns clockwise at (-0.5, 0.625): concave. (1, 2), (2, 2) stay convex. (The
// warning on an odd nx, and none on a good mesh, are checked by the golden runs.)
TEST(Warnings, OneLineEachForInvertedAndConcaveCells) {
  const auto s = malha::test::algebraic_mesh(4, 2);
  s->xv(7) = -0.5;
  EXPECT_EQ(malha::mesh_warnings(*s, quality(*s)),
            "malha: warning: 1 inverted cell (area 0 or less); by area, the worst first: volume 1 "
            "(i = 1, j = 1) area -0.07812\n"
            "malha: warning: 2 concave cells (a corner of 180 degrees or more; inverted ones "
            "included); by area, the worst first: volume 1 (i = 1, j = 1) area -0.07812, volume 2 "
            "(i = 2, j = 1) area 0.01562\n");
}

// The summary lists every file of the sets written, each with its size: each
// set's file of sizes and vertices first, the files every case shares last.
struct SummaryCase {
  const char* label;
  std::int32_t opt_nest;
  const char* files;  // the lines from "wrote" on
};

const SummaryCase kSummaryCases[] = {
    {"MeshSet", 1,
     "malha: wrote c.txt 1 B, c_*.txt: vert 3 B, vert_fict 4 B, cent 5 B,\n"
     "       cent_fict 6 B, malha.txt 2 B, centroides.txt 7 B; 7 files, 28 B,\n"
     "       in 0.50 s\n"},
    {"BothSets", 2,
     "malha: wrote c.txt 1 B, c_*.txt: vert 3 B, vert_fict 4 B, cent 5 B,\n"
     "       cent_fict 6 B, nest 11 B, nest_conec 8 B, nest_vert 9 B, nest_cent 10 B,\n"
     "       nest_area 12 B, malha.txt 2 B, centroides.txt 7 B; 12 files, 78 B,\n"
     "       in 0.50 s\n"},
};

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, ListsTheFilesOfTheSetsWritten) {
  const malha::test::TempDir dir;
  const malha::test::ChangeDir cd(dir.path());
  malha::MeshState s;
  s.case_name = "c  ";
  s.nx = 4;
  s.ny = 2;
  s.opt_nest = GetParam().opt_nest;
  // File n of the table holds n bytes.
  for (const malha::FileLayout& f : malha::kOutputFiles)
    malha::test::write_file(malha::output_file_name(s, f.file),
                            std::string(static_cast<std::size_t>(f.file) + 1, 'x'));
  const std::string out = malha::run_summary(s, malha::MeshQuality{}, nullptr, 0.5);
  const std::size_t from = out.find("malha: wrote");
  ASSERT_NE(from, std::string::npos) << out;
  EXPECT_EQ(out.substr(from, out.find("malha: cells") - from), GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(Sets, Summary, ::testing::ValuesIn(kSummaryCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Every number of the summary and of the progress line in one style: an
// exponent, when there is one, with "E" (as in the files), never "e".
TEST(Summary, WritesEveryExponentWithCapitalE) {
  malha::MeshState s;
  s.case_name = "c";
  s.nx = 4;
  s.ny = 2;
  s.opt_elliptic = 2;
  s.dksi = 1e-5;
  s.deta = 2.5e-7;
  malha::MeshQuality q{};
  q.smallest_area = 8.67e-7;
  q.largest_area = 3.5e-5;
  malha::ConvergenceFigure figure{};
  figure.defined = true;
  figure.largest_move = 2.32e-7;
  figure.relative = 4.1e-9;
  const malha::ConvergeSummary converge{1e-6, true, 12};
  const std::string out =
      malha::run_summary(s, q, &figure, 0.5) + malha::run_summary(s, q, &figure, 0.5, &converge);
  for (const char* part : {"dksi = 1E-05, deta = 2.5E-07", "area 8.67E-07 to 3.5E-05",
                           "by 2.32E-07", "4.1E-07% of the shortest edge", "tolerance 1E-06"})
    EXPECT_NE(out.find(part), std::string::npos) << part << " in\n" << out;
  EXPECT_EQ(malha::convergence_text(figure), "move 2.32E-07 (4.1E-07% of min edge)");
  EXPECT_FALSE(std::regex_search(out, std::regex("[0-9]e[-+]"))) << out;
}

// The case as read: an option other than 1 or 2, a count that smooths nothing.
struct SettingCase {
  const char* label;
  std::int32_t opt_elliptic, opt_nest, niter, nsweep;
  std::string lines;
};

constexpr char kSmoothingOff[] =
    "malha: warning: line 4 of entradas.txt (smoothing) is %, neither 1 (off) nor 2 (on): taken "
    "as off, the mesh was not smoothed\n";
constexpr char kNestOff[] =
    "malha: warning: line 5 of entradas.txt (nest files) is %, neither 1 (off) nor 2 (on): taken "
    "as off, no nest file was written\n";
constexpr char kNoPass[] =
    "malha: warning: niter = % (line 2 of entrada_eq_elipticas.txt) runs no smoothing pass: the "
    "mesh is the algebraic one\n";
constexpr char kNoSweep[] =
    "malha: warning: nsweep = % (line 1 of entrada_eq_elipticas.txt) runs no Gauss-Seidel sweep: "
    "the mesh is the algebraic one\n";

// The line with % replaced by the value.
std::string line(const char* pattern, std::int32_t value) {
  std::string text = pattern;
  return text.replace(text.find('%'), 1, std::to_string(value));
}

std::vector<SettingCase> setting_cases() {
  return {
      {"BothOff", 1, 1, 0, 0, ""},  // the counts are not read when the smoothing is off
      {"ZeroMeantAsNo", 0, 0, 0, 0, line(kSmoothingOff, 0) + line(kNestOff, 0)},
      {"MinusOneAndThree", -1, 3, 0, 0, line(kSmoothingOff, -1) + line(kNestOff, 3)},
      {"BothOnOneIterationOneSweep", 2, 2, 1, 1, ""},
      // No pass (niter = 0 in a whole run): the sweeps do not matter.
      {"NegativeIterations", 2, 2, -3, -1, line(kNoPass, -3)},
      {"NoSweep", 2, 2, 10, 0, line(kNoSweep, 0)},
      {"NegativeSweepsNestZero", 2, 0, 10, -2, line(kNestOff, 0) + line(kNoSweep, -2)},
  };
}

class Settings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(Settings, OneLineForEachValueThatMayNotMeanWhatItDoes) {
  const SettingCase& c = GetParam();
  malha::MeshState s;
  s.opt_elliptic = c.opt_elliptic;
  s.opt_nest = c.opt_nest;
  s.niter = c.niter;
  s.nsweep = c.nsweep;
  EXPECT_EQ(malha::setting_warnings(s), c.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, Settings, ::testing::ValuesIn(setting_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

// The nest files an earlier run left, named when this run wrote none, as an
// option other than 2 says; only this case's. (The whole runs check that
// none is named when this run writes them or there are none.)
TEST(EarlierFiles, NamedWhenThisRunWroteNoNestFiles) {
  const malha::test::TempDir dir;
  const malha::test::ChangeDir cd(dir.path());
  malha::MeshState s;
  s.case_name = "my case ";
  s.opt_nest = 0;
  for (const char* name : {"other_nest.txt", "my case_nest_area.txt", "my case_nest.txt"})
    malha::test::write_file(name, "x");
  EXPECT_EQ(
      malha::earlier_files_warning(s),
      "malha: warning: nest files of an earlier run are left as they were (this run wrote "
      "none, so they may not match the mesh files): my case_nest.txt, my case_nest_area.txt\n");
}

// The summary names the grading, and only when there is one.
TEST(GradedSummary, SaysTheMeshIsGradedAndWithWhatExponent) {
  for (double gamma : {1.0, 2.5}) {
    const auto s = malha::test::algebraic_mesh(8, 4, gamma);
    const std::string text = malha::run_summary(*s, quality(*s), nullptr, 0.5);
    EXPECT_EQ(text.find("graded toward the re-entrant corner (gamma = 2.5)") != std::string::npos,
              gamma != 1.0)
        << text;
    EXPECT_EQ(text.find("graded") != std::string::npos, gamma != 1.0) << text;
  }
}

}  // namespace

// The progress line on terminals of every width: whole parts dropped, the
// time spent first, then the figure, then the time left; words never cut
// while the head fits. Each line at the width it just fits and one less.
struct WidthCase {
  std::size_t width;
  const char* line;
};

TEST(ProgressLine, DropsWholePartsToFit) {
  const std::string head = "smoothing: pass 612 of 2000";  // 27 columns
  const std::vector<malha::LinePart> parts = {
      {", 0:04 elapsed", 1}, {", about 0:10 left", 3}, {", move 3.12E-05 (0.81% of min edge)", 2}};
  const WidthCase cases[] = {
      {93,
       "smoothing: pass 612 of 2000, 0:04 elapsed, about 0:10 left, move 3.12E-05 (0.81% "
       "of min edge)"},
      {92, "smoothing: pass 612 of 2000, about 0:10 left, move 3.12E-05 (0.81% of min edge)"},
      {79, "smoothing: pass 612 of 2000, about 0:10 left, move 3.12E-05 (0.81% of min edge)"},
      {78, "smoothing: pass 612 of 2000, about 0:10 left"},
      {44, "smoothing: pass 612 of 2000, about 0:10 left"},
      {43, "smoothing: pass 612 of 2000"},
      {27, "smoothing: pass 612 of 2000"},
      {20, "smoothing: pass 612 "},  // only the head itself is ever cut
  };
  for (const WidthCase& c : cases)
    EXPECT_EQ(malha::fitted_line(head, parts, c.width), c.line) << c.width << " columns";
}

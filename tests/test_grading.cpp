// The grading toward the re-entrant corner: its power function, the map over
// a table of sizes and exponents (boundary on its sides, the cells graded,
// every area positive and 0.75 in all), the refusals, and whole runs with
// --grade.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "mesh/power.h"
#include "mesh/processamento.h"
#include "mesh/quality.h"
#include "run/options.h"
#include "smoothing/passes.h"
#include "support.h"
#include "variaveis.h"

namespace malha {
namespace {

using test::RunResult;
using test::TempDir;

// ---------------------------------------------------------------------------
// The power function.

TEST(MeshPower, AgreesWithTheLibraryToAFewUnitsInTheLastPlace) {
  for (double exponent : {0.0, 0.25, 0.5, 0.7, 1.0, 1.5, 2.0, 2.3, 3.0, 3.999}) {
    const MeshPower power(exponent);
    for (double base : {1.0, 0.999999, 0.75, 0.5, 0.3, 1e-3, 1.234e-7, 0x1p-40, 1e-300}) {
      // exp(f log(base)) carries the rounding of f log(base) as a relative error.
      const double want = std::pow(base, exponent);
      const double units = 4.0 + std::fabs(exponent * std::log(base));
      EXPECT_NEAR(power(base), want, units * 2e-16 * want) << base << " ^ " << exponent;
    }
  }
  for (double x : {1e-300, 1e-9, 0.1, 0.7071, 0.99, 1.0, 1.5, 7.0, 1e200})
    EXPECT_NEAR(mesh_log(x), std::log(x), 4e-16 * std::max(1.0, std::fabs(std::log(x)))) << x;
  for (double y : {-700.0, -30.0, -1.0, -0.3466, -1e-9, 0.0})
    EXPECT_NEAR(mesh_exp(y), std::exp(y), 4e-16 * std::exp(y)) << y;
}

// ---------------------------------------------------------------------------
// The map, over sizes and exponents.

std::unique_ptr<MeshState> mesh(std::int32_t nx, std::int32_t ny, double gamma) {
  auto s = std::make_unique<MeshState>();
  s->nx = nx;
  s->ny = ny;
  s->grading = gamma;
  derive_counters(*s);
  allocate_group_a(*s);
  build_algebraic_mesh(*s);
  grade_toward_corner(*s);
  return s;
}

double x_of(const MeshState& s, std::int32_t i, std::int32_t j) {
  return s.xv(static_cast<std::int64_t>(j - 1) * s.nxv + i);
}
double y_of(const MeshState& s, std::int32_t i, std::int32_t j) {
  return s.yv(static_cast<std::int64_t>(j - 1) * s.nxv + i);
}

struct MapCase {
  std::int32_t nx, ny;
  double gamma;
};

std::vector<MapCase> map_cases() {
  std::vector<MapCase> cases;
  for (auto [nx, ny] : {std::pair{2, 1},
                        {4, 2},
                        {6, 1},
                        {20, 10},
                        {40, 20},
                        {64, 32},
                        {100, 50},
                        {200, 7},
                        {12, 24}})
    for (double gamma : {1.0, 1.5, 2.0, 3.0}) cases.push_back({nx, ny, gamma});
  // Cells at the corner about 1e-12 across: areas near 1e-25, far below the
  // rounding of the area formulas in the region's coordinates.
  cases.push_back({2000, 1000, 4.0});
  return cases;
}

class GradedMesh : public ::testing::TestWithParam<MapCase> {};

TEST_P(GradedMesh, KeepsTheBoundaryOnItsSidesAndTheAreaAndGradesTheCorner) {
  const auto [nx, ny, gamma] = GetParam();
  ASSERT_EQ(grading_refusal(nx, ny, gamma), "");
  const auto plain = mesh(nx, ny, 1.0);
  const auto s = mesh(nx, ny, gamma);
  ASSERT_EQ(graded_cells_refusal(*s), "");
  const BadCells bad = find_bad_cells(s->xv.data(), s->yv.data(), nx, ny, area_frame(*s));
  EXPECT_EQ(bad.inverted.count(), 0);
  EXPECT_EQ(bad.concave.count(), 0);

  // The outer boundary to the bit: line j = 1, the top and the right side.
  const auto same = [&](std::int32_t i, std::int32_t j) {
    return x_of(*s, i, j) == x_of(*plain, i, j) && y_of(*s, i, j) == y_of(*plain, i, j);
  };
  for (std::int32_t i = 1; i <= s->nxv; ++i) EXPECT_TRUE(same(i, 1)) << "vertex " << i;
  for (std::int32_t j = 1; j <= s->nyv; ++j) EXPECT_TRUE(same(1, j) && same(s->nxv, j)) << j;
  // The re-entrant edges: on x = 0.5 then y = 0.5, in order, each vertex at
  // most as far from the corner as before; the diagonal stays x = y.
  const std::int32_t m = (s->nxv + 1) / 2;
  for (std::int32_t i = 2; i <= s->nxv; ++i) {
    const double x = x_of(*s, i, s->nyv), y = y_of(*s, i, s->nyv);
    if (i <= m) {
      EXPECT_EQ(x, 0.5) << i;
      EXPECT_LT(y, y_of(*s, i - 1, s->nyv)) << i;
      EXPECT_LE(y - 0.5, y_of(*plain, i, s->nyv) - 0.5) << i;
    } else {
      EXPECT_EQ(y, 0.5) << i;
      EXPECT_GT(x, x_of(*s, i - 1, s->nyv)) << i;
      EXPECT_LE(x - 0.5, x_of(*plain, i, s->nyv) - 0.5) << i;
    }
  }
  for (std::int32_t j = 1; j <= s->nyv; ++j)
    EXPECT_NEAR(x_of(*s, m, j), y_of(*s, m, j), 1e-15) << "diagonal, line " << j;

  // The areas as the area file has them: all positive, 0.75 in all.
  // Summed with compensation (Neumaier), so that the total's error is that
  // of the areas, not of adding thousands of them.
  compute_centroids(*s);
  double total = 0.0, carry = 0.0;
  for (std::int64_t v = 1; v <= s->nvol; ++v) {
    const double a = s->area(v);
    EXPECT_GT(a, 0.0) << "volume " << v;
    const double sum = total + a;
    carry += std::fabs(total) >= std::fabs(a) ? (total - sum) + a : (a - sum) + total;
    total = sum;
  }
  EXPECT_NEAR(total + carry, 0.75, 1e-14);

  // Graded: the vertex next to the corner on the vertical re-entrant edge,
  // when it is not the end of the edge, from d = 0.5/(m - 1) to about
  // d (2d)^(gamma - 1).
  if (gamma == 1.0 || m <= 2) return;
  const double d = 0.5 / (m - 1);
  const double want = d * std::pow(2.0 * d, gamma - 1.0);
  EXPECT_NEAR(y_of(*s, m - 1, s->nyv) - 0.5, want, 1e-3 * want);
}

INSTANTIATE_TEST_SUITE_P(SizesAndExponents, GradedMesh, ::testing::ValuesIn(map_cases()),
                         [](const auto& info) {
                           const MapCase& c = info.param;
                           return std::to_string(c.nx) + "x" + std::to_string(c.ny) + "Gamma" +
                                  std::to_string(static_cast<int>(c.gamma * 10));
                         });

// ---------------------------------------------------------------------------
// Refusals.

struct RefusalCase {
  const char* label;
  std::int32_t nx, ny;
  double gamma;
  const char* before;  // a part of grading_refusal's text ("" when it takes the case)
  const char* after;   // a part of graded_cells_refusal's text
};

const RefusalCase kRefusalCases[] = {
    {"OddNx", 7, 4, 2.0, "nx = 7 (record 2) is odd", ""},
    {"OddNxUngraded", 7, 4, 1.0, "", ""},
    {"TooFineForTheCoordinates", 2, 100000000, 3.0, "use --grade=1.50 at most", ""},
    {"FineButResolved", 2000, 1000, 4.0, "", ""},
    {"ThinCellsAtTheCorner", 200, 800, 3.0, "",
     "a corner angle below 2.87 degrees or above 177.13 near the re-entrant corner, where the "
     "cells are 8 times as long one way as the other"},
    {"ThinCellsMildGrading", 200, 800, 2.0, "", ""},
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, NamesTheCaseAndWhatWouldDo) {
  const RefusalCase& c = GetParam();
  const std::string before = grading_refusal(c.nx, c.ny, c.gamma);
  EXPECT_EQ(before.empty(), std::string(c.before).empty()) << before;
  EXPECT_NE(before.find(c.before), std::string::npos) << before;
  if (!before.empty()) return;
  auto s = mesh(c.nx, c.ny, c.gamma);
  const std::string after = graded_cells_refusal(*s);
  EXPECT_EQ(after.empty(), std::string(c.after).empty()) << after;
  EXPECT_NE(after.find(c.after), std::string::npos) << after;
  if (after.empty()) return;
  // The exponent it names is one that the mesh takes.
  const std::size_t at = after.find("--grade=", after.find("use"));
  const double largest = std::stod(after.substr(at + 8));
  EXPECT_GT(largest, 1.0);
  EXPECT_EQ(graded_cells_refusal(*mesh(c.nx, c.ny, largest)), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, Refusal, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The limit the messages name is the one checked: one cell, a parallelogram
// whose corners are the angle given and 180 degrees less it.
TEST(BentCell, TheLimitIsTheAngleTheMessagesName) {
  constexpr double kDegree = 3.14159265358979323846 / 180.0;
  const struct {
    double degrees;
    std::int64_t bent;
  } table[] = {{2.80, 1}, {2.86, 1}, {2.88, 0}, {2.95, 0}, {90.0, 0}};
  for (const auto& row : table) {
    const double cx = std::cos(row.degrees * kDegree), sy = std::sin(row.degrees * kDegree);
    // Vertices (1, 1), (2, 1), (1, 2), (2, 2): the cell from the origin
    // along (1, 0) and (cos, sin).
    const double xv[] = {0.0, 1.0, cx, 1.0 + cx}, yv[] = {0.0, 0.0, sy, sy};
    EXPECT_EQ(count_bent_cells(xv, yv, 1, 1), row.bent) << row.degrees;
  }
}

// ---------------------------------------------------------------------------
// Whole runs.

std::string case_text(int nx, int ny, int smoothing) {
  return "g\n" + std::to_string(nx) + "\n" + std::to_string(ny) + "\n" + std::to_string(smoothing) +
         "\n2\n";
}

RunResult run(const TempDir& dir, const std::string& entradas, const std::vector<std::string>& args,
              int niter = 40, const std::string& deta = "1.0") {
  test::write_file(dir / "entradas.txt", entradas);
  test::write_file(dir / "entrada_eq_elipticas.txt",
                   "5\n" + std::to_string(niter) + "\n0.0\n1.0\n" + deta + "\n0\n0\n");
  return test::run_program(MALHA_EXE, dir.path(), {}, args);
}

std::vector<std::string> output_names() {
  std::vector<std::string> names = {"malha.txt", "centroides.txt"};
  for (const char* suffix : {"", "_vert", "_vert_fict", "_cent", "_cent_fict", "_nest",
                             "_nest_conec", "_nest_vert", "_nest_cent", "_nest_area"})
    names.push_back(std::string("g") + suffix + ".txt");
  return names;
}

TEST(GradeRun, OneWritesTodaysFilesByteForByte) {
  for (int smoothing : {1, 2}) {
    TempDir plain, graded;
    ASSERT_EQ(run(plain, case_text(12, 5, smoothing), {}).exit_status, 0);
    const RunResult result = run(graded, case_text(12, 5, smoothing), {"--grade=1"});
    ASSERT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.stderr_text, "");
    for (const std::string& name : output_names())
      EXPECT_EQ(test::read_file(graded / name), test::read_file(plain / name)) << name;
  }
}

TEST(GradeRun, GradedFilesKeepTheirLayoutAndTheCommands) {
  TempDir plain, graded;
  const RunResult without = run(plain, case_text(12, 6, 2), {});
  const RunResult with = run(graded, case_text(12, 6, 2), {"--grade"});
  ASSERT_EQ(with.exit_status, 0);
  EXPECT_EQ(with.stderr_text, "");
  EXPECT_EQ(with.commands, without.commands);
  for (const std::string& name : output_names()) {
    const auto records = test::crlf_records(test::read_file(graded / name));
    EXPECT_EQ(records.size(), test::crlf_records(test::read_file(plain / name)).size()) << name;
  }
  // The vertices differ; the connectivity does not.
  EXPECT_NE(test::read_file(graded / "g_nest.txt"), test::read_file(plain / "g_nest.txt"));
  EXPECT_EQ(test::read_file(graded / "g_nest_vert.txt"),
            test::read_file(plain / "g_nest_vert.txt"));
}

// Runs refused before anything is written, named by the file and record at
// fault, and the run next to one of them that is taken. The first smoothing
// pass works on the metric terms of the graded mesh and leaves a cell at the
// corner bent; the second mends it.
struct RefusedRun {
  const char* label;
  int nx, ny, smoothing, niter;
  const char* option;
  int status;
  const char* file;  // the file at fault, whose READ the report names ("" when taken)
  const char* why;
  const char* deta = "1.0";
};

// Passes that have settled (no longer move the mesh) leave what the
// equations give: bent cells then come from the spacings, not from too few
// passes.
const RefusedRun kRefusedRuns[] = {
    {"OddNx", 7, 4, 1, 40, "--grade=1.5", 1, "entradas.txt", "nx = 7 (record 2) is odd"},
    {"OneSmoothingPass", 40, 20, 2, 1, "--grade", 1, "entrada_eq_elipticas.txt",
     "niter = 1 (record 2) smooths the mesh graded with --grade=2"},
    {"TwoSmoothingPasses", 40, 20, 2, 2, "--grade", 0, "", ""},
    {"SettledPassesNameTheSpacings", 40, 20, 2, 2000, "--grade", 1, "entrada_eq_elipticas.txt",
     "dksi = 1 and deta = 0.3 (records 4 and 5) bend the mesh graded with --grade=2", "0.3"},
    {"UnsettledPassesNameTheSpacingsToo", 40, 20, 2, 20, "--grade", 1, "entrada_eq_elipticas.txt",
     "should they stay bent, dksi = 1 and deta = 0.3", "0.3"},
};

class GradeRefusal : public ::testing::TestWithParam<RefusedRun> {};

TEST_P(GradeRefusal, WritesNothingAndSaysWhy) {
  const RefusedRun& c = GetParam();
  TempDir dir;
  const RunResult result =
      run(dir, case_text(c.nx, c.ny, c.smoothing), {c.option}, c.niter, c.deta);
  EXPECT_EQ(result.exit_status, c.status);
  if (c.status == 0) {
    EXPECT_EQ(result.stderr_text, "");
    return;
  }
  EXPECT_NE(result.stderr_text.find(c.why), std::string::npos) << result.stderr_text;
  EXPECT_NE(result.stderr_text.find("READ(" + std::string(c.file) + ")"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "g.txt"));
  // The file at fault is the last one opened in the editor.
  ASSERT_FALSE(result.commands.empty());
  EXPECT_EQ(result.commands.back(), "notepad " + std::string(c.file));
}

INSTANTIATE_TEST_SUITE_P(Runs, GradeRefusal, ::testing::ValuesIn(kRefusedRuns),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace malha

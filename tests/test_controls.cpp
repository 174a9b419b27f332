// Control functions (--control): the corner mesh they come from, what they
// leave at zero, and the meshes the smoothing makes with them, over sizes,
// grading and spacings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "mesh/processamento.h"
#include "mesh/quality.h"
#include "run/options.h"
#include "smoothing/coef.h"
#include "smoothing/controls.h"
#include "smoothing/passes.h"
#include "support.h"
#include "variaveis.h"

namespace malha {
namespace {

// ---------------------------------------------------------------------------
// The corner mesh: its points take the labels asked for. The labels fix the
// point, so this also holds the corner line (xi = 0) at (sqrt(2) eta, sqrt(2)
// eta), the arms at distance eta from the sides, and -xi the mirror of xi.

double eta_star(ControlPoint p) {
  return p.x * p.y / std::sqrt(p.x * p.x + p.y * p.y);
}
double ksi_star(ControlPoint p) {
  const double x2 = p.x * p.x, y2 = p.y * p.y;
  return (x2 * x2 * p.x - y2 * y2 * p.y) / (x2 * x2 + y2 * y2);
}

TEST(CornerMesh, PointsTakeTheirLabels) {
  for (double eta : {1e-4, 0.0125, 0.05, 0.5}) {
    for (double xi : {-1.0, -0.3, -0.05, -1e-3, 0.0, 1e-3, 0.02, 0.7, 1.2}) {
      const ControlPoint p = corner_mesh_point(xi, eta);
      EXPECT_GT(p.x, 0.0);
      EXPECT_GT(p.y, 0.0);
      EXPECT_NEAR(eta_star(p), eta, 1e-13 * eta) << xi << " " << eta;
      EXPECT_NEAR(ksi_star(p), xi, 1e-12 * (std::fabs(xi) + eta)) << xi << " " << eta;
    }
  }
}

// ---------------------------------------------------------------------------
// The controls of a starting mesh.

struct MeshCase {
  const char* label;
  std::int32_t nx, ny;
  double grading, dksi, deta;
  // How much farther from (0, 0) the vertex next to it on the corner line may
  // end than on the starting mesh.
  double corner_growth = 1.5;
};

std::unique_ptr<MeshState> starting_mesh(const MeshCase& c) {
  auto s = std::make_unique<MeshState>();
  s->nx = c.nx;
  s->ny = c.ny;
  s->grading = c.grading;
  derive_counters(*s);
  allocate_group_a(*s);
  build_algebraic_mesh(*s);
  grade_toward_corner(*s);
  s->dksi = c.dksi;
  s->deta = c.deta;
  s->nsweep = 5;
  allocate_group_b(*s);
  fill_controls(*s);
  s->controls = true;
  return s;
}

std::int64_t vertex(const MeshState& s, std::int32_t i, std::int32_t j) {
  return static_cast<std::int64_t>(j - 1) * s.nxv + i;
}

TEST(Controls, MirrorAboutTheCornerLineAndZeroWhereTheyFade) {
  const auto s = starting_mesh({"", 40, 20, 1.0, 1.0, 1.0});
  const std::int32_t m = (s->nxv + 1) / 2;
  for (std::int32_t j = 1; j <= s->nyv; ++j) {
    for (std::int32_t i = 1; i <= s->nxv; ++i) {
      const std::int64_t k = vertex(*s, i, j), mirror = vertex(*s, s->nxv + 1 - i, j);
      const bool boundary = i == 1 || j == 1 || i == s->nxv || j == s->nyv;
      if (boundary || (j - 1.0) / s->ny >= 0.6) {
        EXPECT_EQ(s->psrc(k), 0.0) << i << " " << j;
      }
      if (boundary) {
        EXPECT_EQ(s->qsrc(k), 0.0) << i << " " << j;
      }
      // ksi runs the other way on the mirrored vertex: P changes sign.
      const double scale = 1e-9 * (1.0 + std::fabs(s->psrc(k)) + std::fabs(s->qsrc(k)));
      EXPECT_NEAR(s->psrc(mirror), -s->psrc(k), scale) << i << " " << j;
      EXPECT_NEAR(s->qsrc(mirror), s->qsrc(k), scale) << i << " " << j;
    }
  }
  // Q pulls the rows toward the corner on the corner line, and is gone far
  // from the corner beyond the first rows.
  EXPECT_LT(s->qsrc(vertex(*s, m, 2)), 0.0);
  EXPECT_EQ(s->qsrc(vertex(*s, 3, 10)), 0.0);
  EXPECT_EQ(s->qsrc(vertex(*s, m, 12)), 0.0);
}

TEST(Controls, KeptByEveryPassWhateverTheFlags) {
  const auto s = starting_mesh({"", 8, 4, 1.0, 1.0, 1.0});
  const std::vector<double> p(s->psrc.data(), s->psrc.data() + s->nvert);
  s->opt_psrc = 0;
  s->opt_qsrc = 1;
  clear_sources(*s);
  EXPECT_EQ(std::memcmp(p.data(), s->psrc.data(), p.size() * sizeof(double)), 0);
  EXPECT_NE(s->qsrc(vertex(*s, 5, 2)), 0.0);
  s->controls = false;
  clear_sources(*s);
  EXPECT_EQ(s->psrc(vertex(*s, 4, 2)), 0.0);
}

// ---------------------------------------------------------------------------
// Smoothed to its fixed point by passes: the vertex next to (0, 0) on the
// corner line stays within 1.5 times the starting mesh's distance (without
// controls it is 3.6 to 10 times on meshes of 20 x 10 to 160 x 80; a
// strong grading pulls it a little farther), and no cell is inverted or
// concave.

class ControlledSmoothing : public ::testing::TestWithParam<MeshCase> {};

TEST_P(ControlledSmoothing, KeepsTheCornerCellAndEveryCellSound) {
  const MeshCase& c = GetParam();
  const auto s = starting_mesh(c);
  const std::int32_t m = (s->nxv + 1) / 2;
  const std::int64_t next = vertex(*s, m, 2);
  const double start = std::hypot(s->xv(next), s->yv(next));
  for (int pass = 0; pass < 600; ++pass) smoothing_pass(*s, SmoothingOptions{});
  const double now = std::hypot(s->xv(next), s->yv(next));
  EXPECT_LT(now, c.corner_growth * start);
  EXPECT_GT(now, start);
  const BadCells bad = find_bad_cells(s->xv.data(), s->yv.data(), s->nx, s->ny, area_frame(*s));
  EXPECT_EQ(bad.inverted.count(), 0);
  EXPECT_EQ(bad.concave.count(), 0);
}

const MeshCase kMeshCases[] = {
    {"Small", 8, 4, 1.0, 1.0, 1.0},
    {"Even", 24, 12, 1.0, 1.0, 1.0},
    {"OddNx", 25, 12, 1.0, 1.0, 1.0},
    {"Graded", 24, 12, 2.0, 1.0, 1.0},
    {"GradedThree", 24, 12, 3.0, 1.0, 1.0, 1.6},
    {"HalfSpacings", 24, 12, 1.0, 0.5, 0.5},
    {"LongEta", 24, 12, 1.0, 1.0, 2.0},
    {"LongKsi", 24, 12, 1.0, 2.0, 1.0},
};

INSTANTIATE_TEST_SUITE_P(Sizes, ControlledSmoothing, ::testing::ValuesIn(kMeshCases),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Whole runs, by passes and by --converge: the summary names the controls;
// the mesh moves, its numbering does not; without smoothing the option
// changes no byte.

test::RunResult run(const test::TempDir& dir, int smoothing, const std::vector<std::string>& args) {
  test::write_file(dir / "entradas.txt", "c\n16\n8\n" + std::to_string(smoothing) + "\n2\n");
  test::write_file(dir / "entrada_eq_elipticas.txt", "5\n40\n0.0\n1.0\n1.0\n0\n0\n");
  return test::run_program(MALHA_EXE, dir.path(), {}, args);
}

TEST(ControlRun, MovesTheVerticesOnlyAndSaysSo) {
  for (const std::vector<std::string>& how : {std::vector<std::string>{}, {"--converge"}})
    for (int smoothing : {1, 2}) {
      test::TempDir plain, controlled;
      ASSERT_EQ(run(plain, smoothing, how).exit_status, 0);
      std::vector<std::string> args = how;
      args.push_back("--control");
      const test::RunResult result = run(controlled, smoothing, args);
      ASSERT_EQ(result.exit_status, 0);
      EXPECT_EQ(result.stderr_text, run(plain, smoothing, how).stderr_text);
      for (const char* name : {"c_nest_conec.txt", "c_nest_vert.txt", "c_vert.txt"})
        EXPECT_EQ(test::read_file(controlled / name), test::read_file(plain / name)) << name;
      const bool same = test::read_file(controlled / "c.txt") == test::read_file(plain / "c.txt");
      EXPECT_EQ(same, smoothing != 2);
    }
}

// The control functions' file: written with them, its sizes record and one
// record of P and Q per vertex (zero on the boundary, as a pass keeps them);
// removed by a later run of the case without them, so that malha-report never
// reads a mesh with controls it was not smoothed with.
TEST(ControlRun, WritesTheControlsAndALaterRunWithoutThemRemovesThem) {
  for (const std::vector<std::string>& how :
       {std::vector<std::string>{"--control"}, {"--control", "--converge"}}) {
    test::TempDir dir;
    ASSERT_EQ(run(dir, 2, how).exit_status, 0);
    const std::string text = test::read_file(dir / "c_controle.txt");
    const std::int64_t vertices = 17 * 9;
    ASSERT_EQ(text.size(), static_cast<std::size_t>(32 + 52 * vertices));
    EXPECT_EQ(text.substr(0, 32), "        17         9         1\r\n");
    EXPECT_EQ(text.substr(32, 52),
              "    0.000000000000000E+00    0.000000000000000E+00\r\n");  // vertex 1
    EXPECT_NE(text.substr(32 + 52 * 18, 52), text.substr(32, 52));       // vertex (2, 2)
    ASSERT_EQ(run(dir, 2, {}).exit_status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "c_controle.txt"));
  }
}

// malha-report reads the controls: its header names them, and its figure of a
// --converge --control run, measured with them, is within the run's
// tolerance (without them it is of the order of the spacing).
TEST(ControlRun, MalhaReportNamesTheControlsAndMeasuresWithThem) {
  test::TempDir dir;
  ASSERT_EQ(run(dir, 2, {"--converge", "--control"}).exit_status, 0);
  const auto report = [&](const std::vector<std::string>& args) {
    const test::RunResult r = test::run_program(MALHA_REPORT_EXE, dir.path(), {}, args);
    EXPECT_EQ(r.exit_status, 0) << r.stderr_text;
    return r.stdout_text;
  };
  EXPECT_NE(report({"c"}).find("smoothed with control functions (corner; dksi 1, deta 1)"),
            std::string::npos);
  const std::string json = report({"--json", "c"});
  EXPECT_NE(json.find("\"smoothed\":true,\"controls\":\"corner\","), std::string::npos);
  const std::size_t at = json.find("\"relative\":");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LE(std::stod(json.substr(at + 11)), 1e-10) << json.substr(at, 40);
}

// A name the file cannot take stops the run before any file of the mesh set
// is cut: with the controls, at its opening; without them, at its removal.
TEST(ControlRun, AFolderInThePlaceOfTheFileStopsTheRun) {
  for (const bool control : {true, false}) {
    test::TempDir dir;
    ASSERT_EQ(run(dir, 2, {}).exit_status, 0);
    const std::string mesh = test::read_file(dir / "c.txt");
    std::filesystem::create_directory(dir / "c_controle.txt");
    const test::RunResult result =
        run(dir, 2, control ? std::vector<std::string>{"--control"} : std::vector<std::string>{});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.stderr_text.find(control ? "F6401: OPEN(c_controle.txt)"
                                              : "F6601: WRITE(c_controle.txt)"),
              std::string::npos)
        << result.stderr_text;
    EXPECT_EQ(test::read_file(dir / "c.txt"), mesh);
  }
}

}  // namespace
}  // namespace malha

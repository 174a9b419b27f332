// What the files must be beyond agreeing with each other: a mesh of the
// L-shaped region, its sides where they belong and its cells covering 0.75,
// and the ring of ghost centres where the layout puts it. Files written by
// malha's own writers over shapes that are not the region, and files of
// real runs, each through the program as a user runs it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>

#include "files/dados.h"
#include "mesh/processamento.h"
#include "report_case.h"
#include "textio.h"
#include "variaveis.h"

namespace {

namespace fs = std::filesystem;
using malha::test::read_file;
using malha::test::run_program;
using malha::test::RunResult;
using malha::test::TempDir;
using malha::test::write_file;

using Shape = std::function<void(std::int32_t i, std::int32_t j, double& x, double& y)>;

// The files of case "t" of an nx by ny mesh whose vertex (i, j) `shape`
// places, written by malha's writers (areas and centroids as a run computes
// them), in `dir`.
void write_case(const fs::path& dir, std::int32_t nx, std::int32_t ny, const Shape& shape) {
  auto s = malha::test::algebraic_mesh(nx, ny);
  s->case_name = "t";
  s->case_name.resize(malha::kCaseNameLength, ' ');
  s->opt_elliptic = 1;
  s->opt_nest = 2;
  for (std::int32_t j = 1; j <= s->nyv; ++j)
    for (std::int32_t i = 1; i <= s->nxv; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s->nxv + i;
      shape(i, j, s->xv(k), s->yv(k));
    }
  malha::compute_centroids(*s);
  ::setenv("COMSPEC", "true", 1);  // the writers' editor commands do nothing
  malha::test::ChangeDir in(dir);
  malha::write_mesh_files(*s, {});
  malha::allocate_group_c(*s);
  malha::number_neighbours(*s);
  malha::write_nest_files(*s, {});
}

RunResult strict_report(const fs::path& dir) {
  return run_program(MALHA_REPORT_EXE, dir, {}, {"--strict", "t"});
}

// The last line of the report: its verdict.
std::string verdict(const RunResult& r) {
  const std::string& out = r.stdout_text;
  const std::size_t end = out.size() - 1, start = out.rfind('\n', end - 1);
  return out.substr(start == std::string::npos ? 0 : start + 1, end - start - 1);
}

struct RegionCase {
  const char* label;
  std::int32_t nx, ny;
  Shape shape;
  std::string fault;  // a part of the verdict
};

// A ring about (0.5, 0.5), the cells counter-clockwise: `turns` times round.
Shape annulus(double turns) {
  return [turns](std::int32_t i, std::int32_t j, double& x, double& y) {
    constexpr std::int32_t kNx = 40, kNy = 4;
    const double angle = 2 * std::numbers::pi * turns * (i - 1) / kNx;
    const double radius = 0.3 - 0.1 * (j - 1) / kNy;
    x = 0.5 + radius * std::cos(angle);
    y = 0.5 + radius * std::sin(angle);
  };
}

// Vertex (i, j) of the region's own 8 x 4 mesh.
void region_vertex(std::int32_t i, std::int32_t j, double& x, double& y) {
  static const auto s = malha::test::algebraic_mesh(8, 4);
  const std::int64_t k = static_cast<std::int64_t>(j - 1) * s->nxv + i;
  x = s->xv(k);
  y = s->yv(k);
}

// The region's own mesh, stretched by `factor` along x: the right shape but
// not the right place.
Shape stretched(double factor) {
  return [factor](std::int32_t i, std::int32_t j, double& x, double& y) {
    region_vertex(i, j, x, y);
    x *= factor;
  };
}

class Region : public ::testing::TestWithParam<RegionCase> {};

// Consistent files of another shape: status 3 with --strict, and the
// verdict says what is wrong where "mesh OK" stood.
TEST_P(Region, FilesOfAnotherShapeFailTheVerdict) {
  const RegionCase& c = GetParam();
  TempDir dir;
  write_case(dir.path(), c.nx, c.ny, c.shape);
  const RunResult r = strict_report(dir.path());
  EXPECT_EQ(r.stderr_text, "");
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_NE(verdict(r).find("not the L-shaped region: " + c.fault), std::string::npos)
      << verdict(r);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, Region,
    ::testing::Values(
        RegionCase{"AnnulusWoundTwice", 40, 4, annulus(2.0),
                   "the left side: vertex (1, 1) at (0.8, 0.5), not on x = 0"},
        RegionCase{"StretchedL", 8, 4, stretched(1.5),
                   "the bottom side: vertex (8, 1) at (1.125, 0), not on y = 0 with x from 0 to 1; "
                   "the cells cover 1.125, not the region's 0.75"}),
    [](const auto& info) { return std::string(info.param.label); });

// malha's own meshes: the sides in place and 0.75 covered, save for an odd
// nx, whose mesh leans past x = 1 (malha warns of it): named, never a
// silent "mesh OK".
TEST(RegionOfRuns, MalhasMeshesPassAndAnOddNxIsNamed) {
  const std::string kSmoothed = "t\n40\n20\n2\n2\n", kPasses = "5\n40\n0.0\n1.0\n1.0\n0\n0\n";
  const struct {
    std::string entradas, elipticas;
    std::vector<std::string> options;
    int status;
    std::string verdict;
  } table[] = {
      {kSmoothed, "5\n100\n0.0\n1.0\n1.0\n0\n0\n", {}, 0, "mesh OK"},
      {kSmoothed, kPasses, {"--grade"}, 0, "mesh OK"},
      {kSmoothed, kPasses, {"--converge"}, 0, "mesh OK"},
      {"t\n41\n20\n1\n2\n",
       "",
       {},
       3,
       "1 check failed: not the L-shaped region: the bottom side: vertex (42, 1) at (1.05, 0), "
       "not on y = 0 with x from 0 to 1; the cells cover 0.76875, not the region's 0.75 (an odd "
       "nx leans the mesh past x = 1; malha warns of it)"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.entradas);
    TempDir dir;
    write_file(dir / "entradas.txt", row.entradas);
    if (!row.elipticas.empty()) write_file(dir / "entrada_eq_elipticas.txt", row.elipticas);
    ASSERT_EQ(run_program(MALHA_EXE, dir.path(), {}, row.options).exit_status, 0);
    const RunResult r = strict_report(dir.path());
    EXPECT_EQ(r.exit_status, row.status) << r.stderr_text;
    EXPECT_EQ(verdict(r), row.verdict);
  }
}

// A ghost centre off the layout's place is a file check that fails, naming
// the record: the measures across the boundary stand on those centres.
TEST(RegionOfRuns, AGhostCentreOffItsPlaceIsNamed) {
  TempDir dir;
  write_file(dir / "entradas.txt", "t\n8\n4\n1\n2\n");
  ASSERT_EQ(run_program(MALHA_EXE, dir.path()).exit_status, 0);
  std::string ring = read_file(dir / "t_cent_fict.txt");
  char far[malha::textio::kE25Width];
  malha::textio::put_e25_15(far, 9.999e300);
  ring.replace(0, 2 * sizeof far, std::string(far, sizeof far) + std::string(far, sizeof far));
  write_file(dir / "t_cent_fict.txt", ring);
  const RunResult r = strict_report(dir.path());
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.stderr_text,
            "malha-report: t_cent_fict.txt, line 1: expected the centre of fictitious volume 1 "
            "(I = 1, J = 1) where the ring's layout puts it, (0, 1), found (9.999e+300, "
            "9.999e+300)\n");
}

// No "nan" in what the report says. A cell of no area has no centroid: the
// files' record of it is checked as a point of the cell, the cell measured
// as the worst (a run of malha never writes one: its traps stop it first).
TEST(NoNaN, ACellOfNoAreaIsCheckedAndMeasured) {
  TempDir dir;
  // Vertices (2, 2) and (3, 2) pulled onto (2, 1) and (3, 1): cell (2, 1)
  // a segment, of no area.
  write_case(dir.path(), 8, 4, [](std::int32_t i, std::int32_t j, double& x, double& y) {
    region_vertex(i, (j == 2 && (i == 2 || i == 3)) ? 1 : j, x, y);
  });
  // The writers wrote the centroid the formulas give, 0/0: the corner
  // (2, 1) stands for it, a point of the cell.
  char corner[2 * malha::textio::kE25Width];
  double cx, cy;
  region_vertex(2, 1, cx, cy);
  malha::textio::put_e25_15(corner, cx);
  malha::textio::put_e25_15(corner + malha::textio::kE25Width, cy);
  for (const char* name : {"t_cent.txt", "centroides.txt", "t_cent_fict.txt", "t_nest_cent.txt"}) {
    const auto records = malha::test::crlf_records(read_file(dir / name));
    std::string fixed;
    for (const std::string& r : records) {
      // A value the writer could not render ("1#IND").
      const bool finite = r.find('#') == std::string::npos;
      fixed += (finite ? r : std::string(corner, sizeof corner)) + "\r\n";
    }
    write_file(dir / name, fixed);
  }
  const RunResult r = run_program(MALHA_REPORT_EXE, dir.path(), {}, {"t"});
  EXPECT_EQ(r.exit_status, 0) << r.stderr_text;
  EXPECT_EQ(r.stdout_text.find("nan"), std::string::npos) << r.stdout_text;
  EXPECT_NE(r.stdout_text.find("degenerate cells (an edge of length 0, or no area): 3, smallest "
                               "area first: 2 (2, 1) area 0"),
            std::string::npos)
      << r.stdout_text;
}

// Spacings of 0 (smoothing on, no pass: malha warns and writes them) leave
// one more update 0/0: the convergence line says it measured nothing.
TEST(NoNaN, SpacingsOfZeroGiveNoFigure) {
  TempDir dir;
  write_file(dir / "entradas.txt", "t\n20\n10\n2\n2\n");
  write_file(dir / "entrada_eq_elipticas.txt", "5\n0\n0.0\n0\n0\n0\n0\n");
  ASSERT_EQ(run_program(MALHA_EXE, dir.path()).exit_status, 0);
  const RunResult r = run_program(MALHA_REPORT_EXE, dir.path(), {}, {"t"});
  EXPECT_EQ(r.exit_status, 0) << r.stderr_text;
  EXPECT_EQ(r.stdout_text.find("nan"), std::string::npos) << r.stdout_text;
  EXPECT_NE(r.stdout_text.find("convergence: not measured, one more Gauss-Seidel update with "
                               "dksi = 0 and deta = 0, the spacings the files hold, gives no "
                               "finite move\n"),
            std::string::npos)
      << r.stdout_text;
}

}  // namespace

// The warnings about a mesh: an odd nx with the area beyond the region, folded cells.
#include <gtest/gtest.h>

#include <string>

#include "malhas_segmentos.h"
#include "quality.h"
#include "run_report.h"

namespace {

struct WarningCase {
  const char* label;
  std::int32_t nx, ny;
  std::int64_t moved_vertex;  // 0 for none; else moved to x = -0.5
  const char* lines;
};

// Folded: vertex (2, 2) of a 4 x 2 mesh, (0.25, 0.625), moved to (-0.5, 0.625). In cell (1, 1)
// the triangle (0, 1), (0, 0.5), (-0.5, 0.625) has the area -0.125, the cell -0.078125; in cell
// (2, 1) the triangle (0, 0.5), (0.25, 0.25), (-0.5, 0.625) has -0.046875. (1, 2), (2, 2) stay.
const WarningCase kWarningCases[] = {
    {"EvenNxUnfolded", 8, 4, 0, ""},
    {"OddNx", 11, 5, 0,
     "malha: warning: nx = 11 is odd: the right end of the mesh leans beyond x = 1 and the mesh "
     "covers 0.825, 0.075 more than the region's 0.75; an even nx fits the region\n"},
    {"FoldedCells", 4, 2, 7,
     "malha: warning: 2 folded or inverted cells (negative area, or a triangle of area 0 or "
     "less); the worst is volume 1 (i = 1, j = 1), area -0.07812\n"},
};

class Warnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, OneLineEachForAnOddNxAndFoldedCells) {
  const WarningCase& c = GetParam();
  malha::MeshState s;
  s.nx = c.nx;
  s.ny = c.ny;
  malha::derive_counters(s);
  malha::allocate_group_a(s);
  malha::build_algebraic_mesh(s);
  if (c.moved_vertex != 0) s.xv(c.moved_vertex) = -0.5;
  EXPECT_EQ(malha::mesh_warnings(s, malha::measure_mesh(s.xv.data(), s.yv.data(), s.nx, s.ny)),
            c.lines);
}

INSTANTIATE_TEST_SUITE_P(Meshes, Warnings, ::testing::ValuesIn(kWarningCases),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace

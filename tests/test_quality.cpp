// Cell shapes, the mesh summary and the convergence figure, against values
// worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "malhas_segmentos.h"
#include "quality.h"
#include "support.h"
#include "variaveis.h"

namespace malha {
namespace {

struct ShapeCase {
  const char* name;
  double x[4], y[4];
  double area, shortest, longest, deviation;
  bool folded;
};

const ShapeCase kShapes[] = {
    {"unit_square", {0, 1, 1, 0}, {0, 0, 1, 1}, 1.0, 1.0, 1.0, 0.0, false},
    {"rectangle_2_by_half", {0, 2, 2, 0}, {0, 0, 0.5, 0.5}, 1.0, 0.5, 2.0, 0.0, false},
    // Sides 1 along x and 1 at 60 degrees: corners of 60 and 120 degrees.
    {"parallelogram_60",
     {0, 1, 1.5, 0.5},
     {0, 0, std::sqrt(0.75), std::sqrt(0.75)},
     std::sqrt(0.75),
     1.0,
     1.0,
     30.0,
     false},
    // The unit square walked clockwise: negative area, both triangles negative.
    {"clockwise_square", {0, 0, 1, 1}, {0, 1, 1, 0}, -1.0, 1.0, 1.0, 180.0, true},
    // Corner 4 pulled inside past the diagonal 1-3: positive area, a reflex
    // corner (233.13 degrees) and triangle (1, 3, 4) inverted.
    {"dart",
     {0, 1, 1, 0.75},
     {0, 0, 1, 0.25},
     0.25,
     std::sqrt(0.625),
     1.0,
     143.13010235415598,
     true},
    // Corner 2 on the diagonal 1-3: triangle (1, 2, 3) of zero area.
    {"collapsed_corner", {0, 0.5, 1, 0}, {0, 0.5, 1, 1}, 0.5, std::sqrt(0.5), 1.0, 90.0, true},
    // A dart whose reflex corner is an end of the diagonal 1-3: both
    // triangles positive, so not folded, though badly skewed.
    {"dart_on_diagonal",
     {0, 1, 0.25, 0},
     {0, 0, 0.25, 1},
     0.25,
     std::sqrt(0.625),
     1.0,
     143.13010235415598,
     false},
};

class Shape : public testing::TestWithParam<ShapeCase> {};

TEST_P(Shape, MatchesHandValues) {
  const ShapeCase& c = GetParam();
  const CellShape shape = cell_shape(c.x, c.y);
  EXPECT_NEAR(shape.area, c.area, 1e-15);
  EXPECT_NEAR(shape.shortest_edge, c.shortest, 1e-15);
  EXPECT_NEAR(shape.longest_edge, c.longest, 1e-15);
  EXPECT_NEAR(shape.angle_deviation, c.deviation, 1e-12);
  EXPECT_EQ(is_folded(shape), c.folded);
}

INSTANTIATE_TEST_SUITE_P(Cells, Shape, testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MeshQuality, AlgebraicMeshesAreUnfoldedAndCoverTheRegion) {
  for (const auto& [nx, ny] : {std::pair{2, 1}, {4, 2}, {20, 10}, {7, 3}}) {
    const auto s = test::smoothing_mesh(nx, ny);
    const MeshQuality q = measure_mesh(s->xv.data(), s->yv.data(), nx, ny);
    EXPECT_EQ(q.cells, static_cast<std::int64_t>(nx) * ny);
    EXPECT_EQ(q.folded.count, 0) << nx << "x" << ny;
    EXPECT_GT(q.smallest_area, 0.0);
    EXPECT_LE(q.smallest_area, q.largest_area);
    // The bend of the L: corners of 45 and 135 degrees.
    EXPECT_NEAR(q.largest_angle_deviation, 45.0, 1e-9) << nx << "x" << ny;
  }
}

TEST(MeshQuality, FoldedCellIsCountedAndNamed) {
  const auto s = test::smoothing_mesh(4, 2);
  // Push vertex (3, 2) across its neighbours: the cells around it fold.
  const std::int32_t k = (2 - 1) * s->nxv + 3;
  s->xv(k) += 2.0;
  const MeshQuality q = measure_mesh(s->xv.data(), s->yv.data(), 4, 2);
  EXPECT_GT(q.folded.count, 0);
  ASSERT_NE(q.folded.worst.volume, 0);
  const CellRef& w = q.folded.worst;
  // The quick scan finds the same cells.
  const FoldedCells quick = find_folded(s->xv.data(), s->yv.data(), 4, 2);
  EXPECT_EQ(quick.count, q.folded.count);
  EXPECT_EQ(quick.worst.volume, w.volume);
  EXPECT_EQ(quick.worst_area, q.folded.worst_area);
  EXPECT_EQ(w.volume, (w.j - 1) * 4 + w.i);
  EXPECT_TRUE(w.i == 2 || w.i == 3);
}

TEST(Convergence, TwoByTwoMeshByHand) {
  // The one interior vertex (0.25, 0.25) moves to (19/52, 19/52): ae = aw =
  // 1/8, an = as = 9/32, ap = 13/16, no diagonal terms. The move is 3/26 in
  // both coordinates; the shortest edge is 1/4.
  const auto s = test::smoothing_mesh(2, 2);
  const ConvergenceFigure f = convergence_figure(s->xv.data(), s->yv.data(), 3, 3, 1.0, 1.0);
  ASSERT_TRUE(f.defined);
  EXPECT_NEAR(f.largest_move, 3.0 / 26.0, 1e-15);
  EXPECT_EQ(f.vertex, 5);
  EXPECT_DOUBLE_EQ(f.smallest_edge, 0.25);
  EXPECT_NEAR(f.relative, 6.0 / 13.0, 1e-15);
}

TEST(Convergence, SpacingsScaleTheMetricsNotTheMove) {
  // Both spacings doubled scale every coefficient by 1/4: the move is the same.
  const auto s = test::smoothing_mesh(6, 3);
  const auto a = convergence_figure(s->xv.data(), s->yv.data(), 7, 4, 1.0, 1.0);
  const auto b = convergence_figure(s->xv.data(), s->yv.data(), 7, 4, 2.0, 2.0);
  EXPECT_DOUBLE_EQ(a.largest_move, b.largest_move);
}

TEST(Convergence, DegenerateMeshesGiveNoTrap) {
  const auto one_row = test::smoothing_mesh(4, 1);
  EXPECT_FALSE(convergence_figure(one_row->xv.data(), one_row->yv.data(), 5, 2, 1.0, 1.0).defined);

  // All vertices on one point: zero determinants, no trap, a non-finite move.
  const auto s = test::smoothing_mesh(4, 2);
  for (std::int64_t k = 1; k <= s->nvert; ++k) s->xv(k) = s->yv(k) = 0.5;
  const auto f = convergence_figure(s->xv.data(), s->yv.data(), 5, 3, 1.0, 1.0);
  EXPECT_TRUE(f.defined);
  EXPECT_FALSE(std::isfinite(f.largest_move));
  const auto q = measure_mesh(s->xv.data(), s->yv.data(), 4, 2);
  EXPECT_EQ(q.folded.count, 8);
  EXPECT_EQ(find_folded(s->xv.data(), s->yv.data(), 4, 2).count, 8);
}

}  // namespace
}  // namespace malha

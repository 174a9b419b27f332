// Cell shapes, the mesh summary and the convergence figure, against values
// worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "mesh/quality.h"
#include "smoothing/figure.h"
#include "smoothing/passes.h"
#include "support.h"
#include "variaveis.h"

namespace malha {
namespace {

struct ShapeCase {
  const char* name;
  double x[4], y[4];
  double area, shortest, longest, deviation;
  bool inverted, concave;
};

const double kH = std::sqrt(0.75), kR2 = std::sqrt(0.5), kDart = std::sqrt(0.625);
const ShapeCase kShapes[] = {
    {"unit_square", {0, 1, 1, 0}, {0, 0, 1, 1}, 1.0, 1.0, 1.0, 0.0, false, false},
    {"rectangle_2_by_half", {0, 2, 2, 0}, {0, 0, 0.5, 0.5}, 1.0, 0.5, 2.0, 0.0, false, false},
    // Sides 1 along x and 1 at 60 degrees: corners of 60 and 120 degrees.
    {"parallelogram_60", {0, 1, 1.5, 0.5}, {0, 0, kH, kH}, kH, 1.0, 1.0, 30.0, false, false},
    // The unit square walked clockwise: negative area, every corner turning clockwise.
    {"clockwise_square", {0, 0, 1, 1}, {0, 1, 1, 0}, -1.0, 1.0, 1.0, 180.0, true, true},
    // Corner 2 on the diagonal 1-3: a corner of 180 degrees.
    {"straight_corner", {0, 0.5, 1, 0}, {0, 0.5, 1, 1}, 0.5, kR2, 1.0, 90.0, false, true},
    // A dart: a reflex corner of 233.13 degrees, a positive area.
    {"dart", {0, 1, 1, 0.75}, {0, 0, 1, 0.25}, 0.25, kDart, 1.0, 143.13010235415598, false, true},
    // Corners 2 and 3 on one point: a zero-length edge.
    {"zero_length_edge", {0, 1, 1, 0}, {0, 0, 0, 1}, 0.5, 0.0, std::sqrt(2.0), 90.0, false, true},
    // Every corner on one point.
    {"collapsed", {0.5, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}, 0.0, 0.0, 0.0, 90.0, true, true},
};

class Shape : public testing::TestWithParam<ShapeCase> {};

// The corners listed from each of the four: the same shape, and a dart is
// concave wherever its reflex corner is (the old rule, the two triangles of
// the diagonal 1-3, missed it at corners 1 and 3).
TEST_P(Shape, MatchesHandValuesFromEveryFirstCorner) {
  const ShapeCase& c = GetParam();
  for (int first = 0; first < 4; ++first) {
    double x[4], y[4];
    for (int k = 0; k < 4; ++k) x[k] = c.x[(k + first) % 4], y[k] = c.y[(k + first) % 4];
    const CellShape shape = cell_shape(x, y);
    EXPECT_NEAR(shape.area, c.area, 1e-15) << "first corner " << first;
    EXPECT_NEAR(shape.shortest_edge, c.shortest, 1e-15);
    EXPECT_NEAR(shape.longest_edge, c.longest, 1e-15);
    if (c.shortest > 0.0) {
      EXPECT_NEAR(shape.angle_deviation, c.deviation, 1e-12);
    }
    EXPECT_EQ(is_inverted(shape.area), c.inverted);
    EXPECT_EQ(is_concave(shape.smallest_turn), c.concave) << "first corner " << first;
  }
}

INSTANTIATE_TEST_SUITE_P(Cells, Shape, testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

// Cells given in any order and lists joined: the five smallest areas kept,
// the lower volume first on equal areas.
TEST(CellList, KeepsTheSmallestAreasInOneOrder) {
  const double areas[] = {0.5, -1.0, 0.25, -1.0, 2.0, 0.0, -3.0, 0.25, std::nan("")};
  CellList whole, first, second;
  for (std::int64_t v = 1; v <= 9; ++v) {
    const CellRef cell{v, static_cast<std::int32_t>(v), 1};
    whole.add(cell, areas[v - 1]);
    (v % 2 == 0 ? first : second).add(cell, areas[v - 1]);
  }
  first.join(second);
  for (const CellList* list : {&whole, &first}) {
    EXPECT_EQ(list->count(), 9);
    ASSERT_EQ(list->listed(), kListedCells);
    const std::int64_t expected[] = {9, 7, 2, 4, 6};  // NaN, -3, -1, -1, 0
    for (std::size_t k = 0; k < kListedCells; ++k)
      EXPECT_EQ((*list)[k].cell.volume, expected[k]) << "place " << k;
  }
}

TEST(MeshQuality, AlgebraicMeshesHaveNoBadCellAndCoverTheRegion) {
  for (const auto& [nx, ny] : {std::pair{2, 1}, {4, 2}, {20, 10}, {7, 3}}) {
    const auto s = test::smoothing_mesh(nx, ny);
    const MeshQuality q = measure_mesh(s->xv.data(), s->yv.data(), nx, ny);
    EXPECT_EQ(q.cells, static_cast<std::int64_t>(nx) * ny);
    EXPECT_EQ(q.bad.inverted.count(), 0) << nx << "x" << ny;
    EXPECT_EQ(q.bad.concave.count(), 0) << nx << "x" << ny;
    EXPECT_GT(q.smallest_area, 0.0);
    EXPECT_LE(q.smallest_area, q.largest_area);
    // The bend of the L: corners of 45 and 135 degrees.
    EXPECT_NEAR(q.largest_angle_deviation, 45.0, 1e-9) << nx << "x" << ny;
  }
}

// The quick scan finds what the whole measure finds, and the worst inverted
// cell is the cell of the smallest area.
void expect_same_bad_cells(const MeshState& s, const MeshQuality& q) {
  const BadCells quick = find_bad_cells(s.xv.data(), s.yv.data(), s.nx, s.ny);
  for (const auto& [a, b] :
       {std::pair{&quick.inverted, &q.bad.inverted}, std::pair{&quick.concave, &q.bad.concave}}) {
    EXPECT_EQ(a->count(), b->count());
    ASSERT_EQ(a->listed(), b->listed());
    for (std::size_t k = 0; k < a->listed(); ++k) {
      EXPECT_EQ((*a)[k].cell.volume, (*b)[k].cell.volume);
      EXPECT_EQ((*a)[k].area, (*b)[k].area);
    }
  }
  if (q.bad.inverted.count() > 0) {
    EXPECT_EQ(q.bad.inverted[0].cell.volume, q.smallest_area_cell.volume);
    EXPECT_EQ(q.bad.inverted[0].area, q.smallest_area);
  }
}

TEST(MeshQuality, InvertedCellIsCountedAndNamed) {
  const auto s = test::smoothing_mesh(4, 2);
  // Push vertex (3, 2) across its neighbours: the cells around it turn over.
  const std::int32_t k = (2 - 1) * s->nxv + 3;
  s->xv(k) += 2.0;
  const MeshQuality q = measure_mesh(s->xv.data(), s->yv.data(), 4, 2);
  ASSERT_GT(q.bad.inverted.count(), 0);
  EXPECT_GE(q.bad.concave.count(), q.bad.inverted.count());
  const CellRef& w = q.bad.inverted[0].cell;
  EXPECT_EQ(w.volume, (w.j - 1) * 4 + w.i);
  EXPECT_TRUE(w.i == 2 || w.i == 3);
  expect_same_bad_cells(*s, q);
}

// A 20 x 10 mesh smoothed with deta = 0.1 (5 sweeps, 20 passes) folds along
// its inner boundary: 18 cells of negative area, 20 with a corner turned
// (the figures of a finite-volume mesh checker on the same mesh). Cell 200
// has a corner of 185 degrees at corner 1 and a positive area.
TEST(MeshQuality, FoldedSmoothedMeshAsAMeshCheckerSeesIt) {
  const auto s = test::smoothing_mesh(20, 10, 1.0, 0.1);
  s->nsweep = 5;
  for (int pass = 0; pass < 20; ++pass) smoothing_pass(*s, SmoothingOptions{.fast = false});
  const MeshQuality q = measure_mesh(s->xv.data(), s->yv.data(), 20, 10);
  EXPECT_EQ(q.bad.inverted.count(), 18);
  EXPECT_EQ(q.bad.concave.count(), 20);
  EXPECT_EQ(q.bad.inverted[0].cell.volume, 191);
  expect_same_bad_cells(*s, q);
  double x[4], y[4];
  const std::int64_t corner1 = (10 - 1) * s->nxv + 20;  // vertex (20, 10)
  const std::int64_t k[4] = {corner1, corner1 + 1, corner1 + 1 + s->nxv, corner1 + s->nxv};
  for (int c = 0; c < 4; ++c) x[c] = s->xv(k[c]), y[c] = s->yv(k[c]);
  EXPECT_GT(cell_shape(x, y).area, 0.0);
  EXPECT_LE(corner_turn(x, y, 0), 0.0);
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

// Source terms enter the figure through the coefficients: zero ones give the figure without them,
// bit for bit; others move it.
TEST(Convergence, ZeroSourcesGiveTheFigureWithout) {
  const struct {
    std::int32_t nx, ny;
    double grading;
  } meshes[] = {{6, 3, 1.0}, {20, 10, 1.0}, {21, 10, 1.0}, {20, 10, 3.0}};
  for (const auto& m : meshes) {
    const auto s = test::algebraic_mesh(m.nx, m.ny, m.grading);
    const std::vector<double> zero(static_cast<std::size_t>(s->nvert), 0.0);
    const std::vector<double> some(static_cast<std::size_t>(s->nvert), 0.25);
    const auto figure = [&](Sources sources) {
      return convergence_figure(s->xv.data(), s->yv.data(), s->nxv, s->nyv, 1.0, 0.5, sources);
    };
    const ConvergenceFigure without = figure({}), zeros = figure({zero.data(), zero.data()});
    EXPECT_EQ(std::memcmp(&zeros.largest_move, &without.largest_move, sizeof(double)), 0);
    EXPECT_EQ(zeros.vertex, without.vertex);
    EXPECT_EQ(zeros.relative, without.relative);
    EXPECT_NE(figure({some.data(), zero.data()}).largest_move, without.largest_move);
    EXPECT_NE(figure({zero.data(), some.data()}).largest_move, without.largest_move);
  }
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
  EXPECT_EQ(q.bad.inverted.count(), 8);
  EXPECT_EQ(q.bad.concave.count(), 8);
  expect_same_bad_cells(*s, q);
}

}  // namespace
}  // namespace malha

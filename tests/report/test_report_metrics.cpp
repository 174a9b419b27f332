// The measures of one cell and of one face against values worked out by
// hand from the definitions of the tools they follow (VTK's Verdict library,
// Gmsh, checkMesh).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "report/measures/faces.h"
#include "report/measures/metrics.h"
#include "report/measures/shape.h"

namespace {

using namespace malha::report;

const double kRoot3 = std::sqrt(3.0);
const double kDartSide = std::sqrt(0.625);
const double kRoot5 = std::sqrt(5.0);
constexpr std::uint8_t kBad = kInverted | kConcave;
constexpr std::uint8_t kAll = kInverted | kConcave | kDegenerate;
constexpr int kShapeMeasures = 8;  // Area to JacobianRatio, in the order of Metric

struct Quad {
  const char* name;
  double x[4], y[4];
  // area, edge and aspect ratio, min and max angle, equiangle skew, scaled
  // Jacobian, Jacobian ratio
  double value[kShapeMeasures];
  std::uint8_t flags;
};

// Corners counter-clockwise for a valid cell. Aspect ratio (Verdict):
// 0.5 * longest edge * perimeter / (|J1| + |J3|), J the corner turns.
const Quad kQuads[] = {
    {"unit_square", {0, 1, 1, 0}, {0, 0, 1, 1}, {1, 1, 1, 90, 90, 0, 1, 1}, 0},
    // 0.5 * 2 * 6 / (2 + 2).
    {"rectangle_2_by_1", {0, 2, 2, 0}, {0, 0, 1, 1}, {2, 2, 1.5, 90, 90, 0, 1, 1}, 0},
    // Sides 1, corners of 60 and 120 degrees: every turn sin 60; 0.5 * 4 / (2 sin 60).
    {"rhombus_60",
     {0, 1, 1.5, 0.5},
     {0, 0, kRoot3 / 2, kRoot3 / 2},
     {kRoot3 / 2, 1, 2 / kRoot3, 60, 120, 1.0 / 3, kRoot3 / 2, 1},
     0},
    // (0, 0), (1, 0), (1, 1), (0.75, 0.25): edges 1, 1, sqrt(0.625) twice;
    // turns 0.25, 1, 0.25, -0.5; corners atan(1/3), 90, atan(1/3) and
    // 233.13 degrees; the reflex corner's sine -0.5 / 0.625.
    {"dart",
     {0, 1, 1, 0.75},
     {0, 0, 1, 0.25},
     {0.25, 1 / kDartSide, 0.5 * (2 + 2 * kDartSide) / 1.5, 18.43494882292201, 233.13010235415598,
      1, -0.8, -0.5},
     kConcave},
    // The unit square walked clockwise: every corner of 270 degrees, seen from +z.
    {"inverted_square", {0, 0, 1, 1}, {0, 1, 1, 0}, {-1, 1, 1, 270, 270, 1, -1, -1}, kBad},
    // Edges 2, sqrt 5, 1, sqrt 2 crossing: turns 2, 2, -1, -1, area 0.5;
    // corners 45, atan(1/2), 360 - atan(1/2), 315 degrees.
    {"bow_tie",
     {0, 2, 0, 1},
     {0, 0, 1, 1},
     {0.5, kRoot5, 0.5 * (3 + kRoot5 + std::sqrt(2.0)) * kRoot5 / 3, 26.56505117707799,
      333.434948822922, 1, -std::sqrt(0.5), -0.5},
     kConcave},
    // Two lobes of one size: no area, no centroid; the worst of everything.
    {"even_bow_tie",
     {0, 1, 0, 1},
     {0, 0, 1, 1},
     {0, kUnbounded, kUnbounded, 0, 360, 1, -1, -1},
     kAll},
    // Corners 2 and 3 on one point: a triangle, degenerate as a quadrilateral.
    {"zero_length_edge",
     {0, 1, 1, 0},
     {0, 0, 0, 1},
     {0.5, kUnbounded, kUnbounded, 0, 360, 1, -1, -1},
     kConcave | kDegenerate},
    {"collapsed", {2, 2, 2, 2}, {3, 3, 3, 3}, {0, kUnbounded, kUnbounded, 0, 360, 1, -1, -1}, kAll},
};

// The quad as a mesh of one cell, measured the way the report measures it.
Mesh one_cell(const double x[4], const double y[4]) {
  Mesh m;
  m.nx = m.ny = 1;
  m.nxv = m.nyv = 2;
  m.xv = {x[0], x[1], x[3], x[2]};  // vertices (1, 1), (2, 1), (1, 2), (2, 2)
  m.yv = {y[0], y[1], y[3], y[2]};
  return m;
}

class QuadMeasures : public testing::TestWithParam<Quad> {};

// The hand values, with the corners listed from each of the four (so that a
// dart is caught with its reflex corner anywhere), and every measure of the
// cell a number.
TEST_P(QuadMeasures, MatchHandValuesFromEveryFirstCorner) {
  const Quad& q = GetParam();
  for (int first = 0; first < 4; ++first) {
    double x[4], y[4];
    for (int c = 0; c < 4; ++c) x[c] = q.x[(c + first) % 4], y[c] = q.y[(c + first) % 4];
    const Mesh m = one_cell(x, y);
    const CellTable cells = measure_cells(m);
    const CellQuality c = measure_cell(m, cells, 1, 1);
    for (int k = 0; k < kShapeMeasures; ++k) {
      const auto metric = static_cast<Metric>(k);
      // Verdict's aspect ratio takes the turns of corners 1 and 3, which
      // differ from those of 0 and 2 on a concave cell.
      if (metric == Metric::AspectRatio && first % 2 == 1) continue;
      const double got = c.value[static_cast<std::size_t>(k)], value = q.value[k];
      EXPECT_NEAR(got, value, 1e-12 * std::max(1.0, std::fabs(value)))
          << info(metric).key << ", first corner " << first;
      // One value, whichever way it is asked for.
      EXPECT_EQ(cell_value(m, cells, metric, 1, 1), got) << info(metric).key;
    }
    EXPECT_EQ(c.flags, q.flags) << "first corner " << first;
    for (const MetricInfo& e : metric_table())
      EXPECT_FALSE(std::isnan(c.value[static_cast<std::size_t>(e.metric)])) << e.key;
  }
}

INSTANTIATE_TEST_SUITE_P(Cells, QuadMeasures, testing::ValuesIn(kQuads),
                         [](const testing::TestParamInfo<Quad>& p) { return p.param.name; });

struct FaceCase {
  const char* name;
  Point c, n;  // the centres on either side
  double cosine_angle, skewness;
};

// The face x = 1 from (1, 0) to (1, 1), counter-clockwise for a cell on its left.
const FaceCase kFaces[] = {
    {"straight_through_the_middle", {0.5, 0.5}, {1.5, 0.5}, 0, 0},
    // The centre line crosses the face at its end (1, 1): |sv| 0.5 over the
    // half face 0.5 (0.2 |d| is 0.28).
    {"through_the_end", {0.5, 0.5}, {1.5, 1.5}, 45, 1},
    // Crosses at (1, 0.4): |sv| 0.1, the half face 0.5.
    {"a_little_off", {0.5, 0.5}, {1.5, 0.3}, std::atan(0.2) * 180 / std::numbers::pi, 0.2},
    // Parallel to the face, and behind it.
    {"along_the_face", {0.5, 0.5}, {0.5, 1.5}, 90, kUnbounded},
    {"behind", {0.5, 0.5}, {-0.5, 0.5}, 180, 0},
};

class Faces : public testing::TestWithParam<FaceCase> {};

TEST_P(Faces, AngleAndCheckMeshSkewness) {
  const FaceCase& f = GetParam();
  const Point a = {1, 0}, b = {1, 1};
  EXPECT_NEAR(angle_of(face_cosine(f.c, f.n, a, b)), f.cosine_angle, 1e-9);
  EXPECT_NEAR(interior_skewness(f.c, f.n, a, b), f.skewness, 1e-12 * std::max(1.0, f.skewness));
}

INSTANTIATE_TEST_SUITE_P(Centres, Faces, testing::ValuesIn(kFaces),
                         [](const testing::TestParamInfo<FaceCase>& p) { return p.param.name; });

TEST(Faces, DegenerateFaceIsTheWorst) {
  const Point c = {0.5, 0.5}, n = {1.5, 0.5}, a = {1, 0};
  EXPECT_TRUE(std::isnan(face_cosine(c, n, a, a)));
  EXPECT_EQ(angle_of(face_cosine(c, n, a, a)), 180.0);
  EXPECT_EQ(interior_skewness(c, n, a, a), kUnbounded);
  EXPECT_EQ(angle_of(face_cosine(c, c, a, {1, 1})), 180.0);  // no centre line
}

TEST(Faces, BoundarySkewnessTakesTheFootOfTheNormal) {
  // The face y = 0 from (0, 0) to (1, 0), below a cell; its centre (0.5, 0).
  const Point a = {0, 0}, b = {1, 0};
  EXPECT_EQ(boundary_skewness({0.5, 0.3}, a, b), 0.0);
  // Foot (0.2, 0): |sv| 0.3 over the half face 0.5 (0.4 |d| is 0.12).
  EXPECT_NEAR(boundary_skewness({0.2, 0.3}, a, b), 0.6, 1e-15);
  // Foot (0.2, 0) from 2 away: 0.4 |d| = 0.8 is the larger.
  EXPECT_NEAR(boundary_skewness({0.2, 2}, a, b), 0.3 / 0.8, 1e-15);
}

TEST(Faces, GhostCentresAreThoseOfTheCentroidFile) {
  // A 2 x 1 mesh: cells (0, 1), (0, 0), (0.5, 0.5), (0.5, 1) and (0, 0),
  // (1, 0), (1, 0.5), (0.5, 0.5). The ring of the centroid file holds
  // (0, 0.5) below cell (1, 1), (0.5, 0.75) above it, (0.25, 1) left of it
  // and (1, 0.25) right of cell (2, 1).
  Mesh m;
  m.nx = 2;
  m.ny = 1;
  const struct {
    std::int32_t i;
    int side;
    Point a, b, ghost;
  } ghosts[] = {
      {1, 0, {0, 1}, {0, 0}, {0, 0.5}},
      {1, 2, {0.5, 0.5}, {0.5, 1}, {0.5, 0.75}},
      {1, 3, {0.5, 1}, {0, 1}, {0.25, 1}},
      {2, 1, {1, 0}, {1, 0.5}, {1, 0.25}},
      // A re-entrant face moved along its edge, as a graded mesh has it: the
      // ghost in the middle of the face.
      {1, 2, {0.5, 0.6}, {0.5, 1}, {0.5, 0.8}},
  };
  for (const auto& g : ghosts) {
    const Point p = ghost_centre(m, g.i, 1, g.side, g.a, g.b);
    EXPECT_EQ(p.x, g.ghost.x) << "cell " << g.i << " side " << g.side;
    EXPECT_EQ(p.y, g.ghost.y) << "cell " << g.i << " side " << g.side;
  }
  // An odd nx has the ring's formulas wherever its faces are.
  m.nx = 3;
  const Point odd = ghost_centre(m, 1, 1, 2, {0.5, 0.6}, {0.5, 1});
  EXPECT_EQ(odd.x, 0.5);
  EXPECT_EQ(odd.y, 0.75);
}

}  // namespace

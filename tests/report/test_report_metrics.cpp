// The cell measures of malha-report against values worked out by hand, and
// the summary over small meshes whose answers are known.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "case_files.h"
#include "metrics.h"

namespace {

using namespace malha::report;

constexpr double kTight = 1e-12;
const double kRoot3 = std::sqrt(3.0);
// The corner angles of a cell turned inside out are the quality module's to define.
const double kNotChecked = std::nan("");

struct Quad {
  const char* name;
  double x[4], y[4];
  double area, aspect, skew, jacobian;
  std::uint8_t flags;
};

// Corners counter-clockwise for a valid cell.
const Quad kQuads[] = {
    {"unit square", {0, 1, 1, 0}, {0, 0, 1, 1}, 1.0, 1.0, 0.0, 1.0, 0},
    {"rectangle 2 x 1", {0, 2, 2, 0}, {0, 0, 1, 1}, 2.0, 2.0, 0.0, 1.0, 0},
    // Sides 1, corner angles 60 and 120 degrees: sin 60 at the sharp corners.
    {"parallelogram of 60 degrees",
     {0, 1, 1.5, 0.5},
     {0, 0, kRoot3 / 2, kRoot3 / 2},
     kRoot3 / 2,
     1.0,
     30.0,
     kRoot3 / 2,
     0},
    // The unit square with its corners listed clockwise: turned inside out.
    {"inverted square",
     {0, 0, 1, 1},
     {0, 1, 1, 0},
     -1.0,
     1.0,
     kNotChecked,
     -1.0,
     kInverted | kConcave},
    // A bow tie: two triangles of opposite sign; the third corner turns the wrong way.
    {"bow tie",
     {0, 1, 0, 1},
     {0, 0, 1, 1},
     0.0,
     std::sqrt(2.0),
     kNotChecked,
     -std::sqrt(0.5),
     kInverted | kConcave},
};

// The quad as a mesh of one cell, measured the way the report measures it.
CellQuality measured(const Quad& q) {
  Mesh m;
  m.nx = m.ny = 1;
  m.nxv = m.nyv = 2;
  m.xv = {q.x[0], q.x[1], q.x[3], q.x[2]};  // vertices (1, 1), (2, 1), (1, 2), (2, 2)
  m.yv = {q.y[0], q.y[1], q.y[3], q.y[2]};
  return measure_cell(m, measure_cells(m), 1, 1);
}

double value(const CellQuality& c, Metric m) {
  return c.value[static_cast<std::size_t>(m)];
}

class QuadMetrics : public testing::TestWithParam<Quad> {};

TEST_P(QuadMetrics, MatchHandValues) {
  const Quad& q = GetParam();
  const CellQuality c = measured(q);
  EXPECT_NEAR(value(c, Metric::Area), q.area, kTight);
  EXPECT_NEAR(value(c, Metric::Aspect), q.aspect, kTight);
  if (!std::isnan(q.skew)) {
    EXPECT_NEAR(value(c, Metric::Skew), q.skew, 1e-9);
  }
  EXPECT_NEAR(value(c, Metric::ScaledJacobian), q.jacobian, kTight);
  EXPECT_EQ(value(c, Metric::Growth), 1.0);  // no neighbour
  EXPECT_EQ(c.flags, q.flags);
}

INSTANTIATE_TEST_SUITE_P(Cells, QuadMetrics, testing::ValuesIn(kQuads),
                         [](const testing::TestParamInfo<Quad>& p) {
                           std::string n = p.param.name;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

TEST(NonOrthogonality, AngleBetweenCentreLineAndFaceNormal) {
  // The face x = 1 from (1, 0) to (1, 1), counter-clockwise for the cell on its left.
  struct Case {
    double xn, yn, degrees;
  } cases[] = {
      {1.5, 0.5, 0.0}, {1.5, 1.5, 45.0}, {1.0, 0.5 - kRoot3 / 2, 60.0}, {-0.5, 0.5, 180.0}};
  for (const Case& c : cases)
    EXPECT_NEAR(non_orthogonality(0.5, 0.5, c.xn, c.yn, 1, 0, 1, 1), c.degrees, 1e-9)
        << "neighbour centroid (" << c.xn << ", " << c.yn << ")";
}

TEST(CellGeometry, CentroidOfTrapezoid) {
  // Trapezoid with parallel sides 2 (y = 0) and 1 (y = 1): centroid y = (2 + 2*1)/(3*(2 + 1)).
  const double x[4] = {0, 2, 1.5, 0.5}, y[4] = {0, 0, 1, 1};
  const CellGeometry g = cell_geometry(x, y);
  EXPECT_NEAR(g.xc, 1.0, kTight);
  EXPECT_NEAR(g.yc, 4.0 / 9.0, kTight);
  EXPECT_NEAR(g.shape.area, 1.5, kTight);
}

// A mesh of nx by 1 cells with the vertex columns at `columns` and rows y = 0 and y = 1.
Mesh strip(const std::vector<double>& columns, std::vector<double> top = {}) {
  Mesh m;
  m.nxv = static_cast<std::int32_t>(columns.size());
  m.nx = m.nxv - 1;
  m.ny = 1;
  m.nyv = 2;
  if (top.empty()) top = columns;
  for (int row = 0; row < 2; ++row) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      m.xv.push_back(row == 0 ? columns[c] : top[c]);
      m.yv.push_back(row);
    }
  }
  return m;
}

TEST(Summary, GrowthIsTheLargestAreaRatioToANeighbour) {
  // Cells of width 1, 2 and 8: growth 2, 4, 4.
  const Mesh m = strip({0, 1, 3, 11});
  const QualitySummary s = summarise(m, measure_cells(m));
  const auto& growth = s.metrics[static_cast<std::size_t>(Metric::Growth)];
  EXPECT_DOUBLE_EQ(growth.min.value, 2.0);
  EXPECT_DOUBLE_EQ(growth.max.value, 4.0);
  EXPECT_EQ(growth.max.cell.volume, 2);  // the first of the two cells at 4
  EXPECT_DOUBLE_EQ(growth.mean, 10.0 / 3.0);
  const auto& area = s.metrics[static_cast<std::size_t>(Metric::Area)];
  EXPECT_DOUBLE_EQ(area.max.value, 8.0);
  EXPECT_EQ(area.max.cell.i, 3);
  EXPECT_DOUBLE_EQ(area.max.xc, 7.0);
  EXPECT_EQ(s.skew[0], 3);  // all three rectangles in the first bin
  EXPECT_EQ(s.inverted.count(), 0);
  EXPECT_EQ(s.concave.count(), 0);
}

TEST(Summary, InvertedCellsAreCountedAndListed) {
  // The top of the middle cell crossed over: its top corners swap sides.
  const Mesh m = strip({0, 1, 2, 3}, {0, 2, 1, 3});
  const QualitySummary s = summarise(m, measure_cells(m));
  EXPECT_EQ(s.inverted.count(), 1);
  ASSERT_EQ(s.inverted.listed(), 1u);
  EXPECT_EQ(s.inverted[0].cell.volume, 2);
  EXPECT_LE(s.metrics[static_cast<std::size_t>(Metric::ScaledJacobian)].min.value, 0.0);
}

TEST(Summary, HalvesOfTheRowsGiveTheSameExtremesAsOneThread) {
  // Six rows of a sheared strip: rows split between the two threads.
  Mesh m;
  m.nx = 3;
  m.ny = 6;
  m.nxv = 4;
  m.nyv = 7;
  for (int j = 0; j < m.nyv; ++j)
    for (int i = 0; i < m.nxv; ++i) {
      m.xv.push_back(i + 0.1 * j * j);
      m.yv.push_back(j);
    }
  const CellTable c = measure_cells(m);
  const QualitySummary s = summarise(m, c);
  double worst = 0.0;
  std::int64_t worst_volume = 0;
  for_each_cell(m, c, [&](const malha::CellRef& cell, const CellQuality& q) {
    const double skew = q.value[static_cast<std::size_t>(Metric::Skew)];
    if (skew > worst) {
      worst = skew;
      worst_volume = cell.volume;
    }
  });
  const auto& skew = s.metrics[static_cast<std::size_t>(Metric::Skew)];
  EXPECT_EQ(skew.max.value, worst);
  EXPECT_EQ(skew.max.cell.volume, worst_volume);
  EXPECT_EQ(s.cells, 18);
}

}  // namespace

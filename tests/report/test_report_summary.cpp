// The summary over whole meshes: the figures checkMesh gives for the same
// meshes, the folded mesh of a smoothing gone wrong, degenerate meshes, the
// verdict, and the two halves of the rows against one pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "report/measures/shape.h"
#include "report/measures/summary.h"
#include "smoothing/passes.h"
#include "support.h"

namespace {

using namespace malha::report;

// The mesh of a MeshState as malha-report reads it from CASE.txt.
Mesh from_state(const malha::MeshState& s) {
  Mesh m;
  m.nx = s.nx;
  m.ny = s.ny;
  m.nxv = s.nxv;
  m.nyv = s.nyv;
  m.xv.assign(s.xv.data(), s.xv.data() + s.xv.size());
  m.yv.assign(s.yv.data(), s.yv.data() + s.yv.size());
  return m;
}

Mesh algebraic(std::int32_t nx, std::int32_t ny) {
  return from_state(*malha::test::smoothing_mesh(nx, ny));
}

// 20 x 10 smoothed with deta = 0.1, 5 sweeps and 20 passes: folded along its
// inner boundary.
Mesh folded() {
  const auto s = malha::test::smoothing_mesh(20, 10, 1.0, 0.1);
  s->nsweep = 5;
  for (int pass = 0; pass < 20; ++pass)
    malha::smoothing_pass(*s, malha::SmoothingOptions{.fast = false});
  return from_state(*s);
}

const MetricSummary& of(const QualitySummary& q, Metric m) {
  return q.metrics[static_cast<std::size_t>(m)];
}

// checkMesh on the one-cell-thick copy of the 40 x 20 algebraic mesh prints
// "Mesh non-orthogonality Max: 44.27477570094085 average: 27.918229835104984"
// and "Max skewness = 0.9833333333333355"; the mean of its per-cell
// non-orthogonality field is 26.2256.
TEST(Summary, FiguresOfCheckMeshOnTheAlgebraicMesh) {
  const Mesh m = algebraic(40, 20);
  const QualitySummary q = summarise(m, measure_cells(m));
  EXPECT_EQ(q.faces.faces, 39 * 20 + 40 * 19);
  EXPECT_NEAR(q.faces.max_angle(), 44.27477570094085, 1e-9);
  EXPECT_NEAR(q.faces.mean_angle(), 27.918229835104984, 1e-9);
  EXPECT_NEAR(of(q, Metric::NonOrthogonality).mean, 26.2256, 1e-4);
  EXPECT_NEAR(of(q, Metric::FaceSkewness).max.value, 0.9833333333333355, 1e-12);
  EXPECT_EQ(q.faces.severe + q.faces.failing, 0);
  // The boundary: 116 cells, the largest angle to a ghost centre 44.27
  // degrees, at the re-entrant corner.
  const MetricSummary& boundary = of(q, Metric::BoundaryNonOrthogonality);
  EXPECT_EQ(boundary.cells, 116);
  EXPECT_NEAR(boundary.max.value, 44.27, 0.01);
  EXPECT_TRUE(quality_verdict(q).ok());
  EXPECT_EQ(quality_verdict(q).line(), "mesh OK");
}

// checkMesh on the folded mesh: 18 cells of negative volume, 20 concave
// cells, 4 faces severely non-orthogonal and 31 at 90 degrees or more, the
// largest 179.60724393722788 degrees.
TEST(Summary, FoldedMeshAsCheckMeshSeesIt) {
  const Mesh m = folded();
  const QualitySummary q = summarise(m, measure_cells(m));
  EXPECT_EQ(q.inverted.count(), 18);
  EXPECT_EQ(q.concave.count(), 20);
  EXPECT_EQ(q.degenerate.count(), 0);
  EXPECT_EQ(q.faces.severe, 4);
  EXPECT_EQ(q.faces.failing, 31);
  EXPECT_NEAR(q.faces.max_angle(), 179.60724393722788, 1e-9);
  EXPECT_NEAR(of(q, Metric::BoundaryNonOrthogonality).max.value, 161.6, 0.05);
  // The first inverted cell is the cell of the smallest area; every concave
  // cell has a scaled Jacobian of 0 or less, and no other.
  EXPECT_EQ(q.inverted[0].cell.volume, of(q, Metric::Area).min.cell.volume);
  const CellTable cells = measure_cells(m);
  std::int64_t turned = 0;
  for_each_cell(m, cells, [&](const malha::CellRef&, const CellQuality& c) {
    if (c.value[static_cast<std::size_t>(Metric::ScaledJacobian)] <= 0.0) ++turned;
  });
  EXPECT_EQ(turned, 20);
  const Verdict v = quality_verdict(q);
  EXPECT_EQ(
      v.line(),
      "3 checks failed: inverted cells (18), concave cells (20), faces at 90 deg or more (31)");
  ASSERT_EQ(v.failed.size(), 3u);
  EXPECT_EQ(v.failed[2].key, "non_orthogonal_faces");
}

// Every vertex on one point: every cell degenerate, every measure at its
// worst, the worst cell the first, where the point is.
TEST(Summary, CollapsedMeshIsTheWorstEverywhere) {
  Mesh m = algebraic(20, 10);
  std::fill(m.xv.begin(), m.xv.end(), 0.25);
  std::fill(m.yv.begin(), m.yv.end(), 0.5);
  const QualitySummary q = summarise(m, measure_cells(m));
  EXPECT_EQ(q.degenerate.count(), 200);
  EXPECT_EQ(q.inverted.count(), 200);
  for (const MetricInfo& e : metric_table()) {
    if (e.metric == Metric::Area) continue;
    const MetricSummary& s = of(q, e.metric);
    EXPECT_EQ(s.min.value, e.worst) << e.key;
    EXPECT_EQ(s.max.value, e.worst) << e.key;
    EXPECT_NEAR(s.mean, e.worst, 1e-12 * std::fabs(e.worst)) << e.key;
    EXPECT_EQ(s.min.cell.volume, 1) << e.key;
    EXPECT_EQ(s.min.xc, 0.25) << e.key;
    EXPECT_EQ(s.min.yc, 0.5) << e.key;
  }
  EXPECT_EQ(q.faces.failing, q.faces.faces);
  EXPECT_EQ(q.non_orthogonality.back(), 200);
}

// One vertex pulled onto its neighbour: the two cells that share the edge
// it closes are degenerate and take the worst values; the rest of the mesh
// is measured as before.
Mesh with_zero_length_edge() {
  Mesh m = algebraic(8, 4);
  const std::size_t k = m.at(4, 3);
  m.xv[k + 1] = m.xv[k];
  m.yv[k + 1] = m.yv[k];
  return m;
}

TEST(Summary, ZeroLengthEdgeIsCountedAndListed) {
  const Mesh m = with_zero_length_edge();
  const CellTable cells = measure_cells(m);
  const QualitySummary q = summarise(m, cells);
  ASSERT_EQ(q.degenerate.count(), 2);
  for (const malha::CellList::Entry& e : q.degenerate) {
    EXPECT_EQ(e.cell.i, 4);
    const CellQuality c = measure_cell(m, cells, e.cell.i, e.cell.j);
    EXPECT_EQ(c.value[static_cast<std::size_t>(Metric::ScaledJacobian)], -1.0);
    EXPECT_EQ(c.value[static_cast<std::size_t>(Metric::EdgeRatio)], kUnbounded);
    EXPECT_EQ(c.value[static_cast<std::size_t>(Metric::NonOrthogonality)], 180.0);
  }
  EXPECT_EQ(of(q, Metric::EdgeRatio).max.value, kUnbounded);
  EXPECT_EQ(q.faces.failing, 1);  // the face of length zero
}

// cell_value, which the exports and the maps use one measure at a time,
// gives the doubles of measure_cell on every cell.
TEST(Summary, OneMeasureAtATimeIsTheSameDouble) {
  for (const Mesh& m : {folded(), algebraic(7, 3), with_zero_length_edge()}) {
    const CellTable cells = measure_cells(m);
    for_each_cell(m, cells, [&](const malha::CellRef& cell, const CellQuality& q) {
      for (const MetricInfo& e : metric_table()) {
        const double one = cell_value(m, cells, e.metric, cell.i, cell.j);
        ASSERT_EQ(std::memcmp(&one, &q.value[static_cast<std::size_t>(e.metric)], sizeof one), 0)
            << e.key << " of volume " << cell.volume;
      }
    });
  }
}

TEST(Summary, HalvesOfTheRowsGiveWhatOnePassGives) {
  const Mesh m = folded();
  const CellTable cells = measure_cells(m);
  const QualitySummary halves = summarise(m, cells);
  QualityTally one;
  one.add_rows(m, cells, 1, m.ny);
  const QualitySummary whole = one.result(m, cells);
  for (const MetricInfo& e : metric_table()) {
    const MetricSummary &a = of(halves, e.metric), &b = of(whole, e.metric);
    EXPECT_EQ(a.min.value, b.min.value) << e.key;
    EXPECT_EQ(a.min.cell.volume, b.min.cell.volume) << e.key;
    EXPECT_EQ(a.max.value, b.max.value) << e.key;
    EXPECT_EQ(a.max.cell.volume, b.max.cell.volume) << e.key;
    EXPECT_NEAR(a.mean, b.mean, 1e-12 * std::fabs(b.mean)) << e.key;
  }
  EXPECT_EQ(halves.faces.faces, whole.faces.faces);
  EXPECT_EQ(halves.equiangle_skew, whole.equiangle_skew);
  EXPECT_EQ(halves.concave[0].cell.volume, whole.concave[0].cell.volume);
}

// A strip of cells of widths 1, 2 and 8: growth 2, 4, 4.
TEST(Summary, GrowthIsTheLargestAreaRatioToANeighbour) {
  Mesh m;
  m.nx = 3;
  m.ny = 1;
  m.nxv = 4;
  m.nyv = 2;
  m.xv = {0, 1, 3, 11, 0, 1, 3, 11};
  m.yv = {0, 0, 0, 0, 1, 1, 1, 1};
  const QualitySummary q = summarise(m, measure_cells(m));
  EXPECT_DOUBLE_EQ(of(q, Metric::Growth).min.value, 2.0);
  EXPECT_DOUBLE_EQ(of(q, Metric::Growth).max.value, 4.0);
  EXPECT_EQ(of(q, Metric::Growth).max.cell.volume, 2);  // the first of the two at 4
  EXPECT_DOUBLE_EQ(of(q, Metric::Area).max.xc, 7.0);
  EXPECT_EQ(q.equiangle_skew[0], 3);
}

}  // namespace

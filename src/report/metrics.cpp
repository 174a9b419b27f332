#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace malha::report {

namespace {

constexpr double kThird = 1.0 / 3.0;  // triangle centres, as the centroid files have them
constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr int kCorners = 4;

constexpr std::array<MetricInfo, kMetricCount> kMetrics = {{
    {Metric::Area, "area", "area", true},
    {Metric::Aspect, "aspect_ratio", "aspect ratio", false},
    {Metric::Skew, "skew", "skew (deg)", false},
    {Metric::NonOrthogonality, "non_orthogonality", "non-orthogonality (deg)", false},
    {Metric::ScaledJacobian, "scaled_jacobian", "scaled Jacobian", true},
    {Metric::Growth, "growth", "growth", false},
}};

std::size_t index(Metric m) {
  return static_cast<std::size_t>(m);
}

// The larger of the two areas over the smaller (signs dropped).
double area_ratio(double a, double b) {
  a = std::fabs(a);
  b = std::fabs(b);
  return std::max(a, b) / std::min(a, b);
}

void count(Histogram& h, double angle) {
  if (!(angle >= 0.0)) return;  // NaN of a degenerate cell
  std::size_t bin = kAngleBins.size() - 1;
  while (angle < kAngleBins[bin]) --bin;
  ++h[bin];
}

// Three consecutive rows of cell geometry, so that every cell sees the
// cells beside, below and above it.
class RowWindow {
 public:
  explicit RowWindow(const Mesh& mesh) : mesh_(mesh) {
    for (auto& row : rows_) row.resize(static_cast<std::size_t>(mesh.nx));
    fill(1);
    if (mesh.ny > 1) fill(2);
  }
  // Moves on to row j + 1 (rows j and j + 1 stay, j + 2 is computed).
  void advance(std::int32_t j) {
    if (j + 2 <= mesh_.ny) fill(j + 2);
  }
  const CellGeometry& at(std::int32_t i, std::int32_t j) const {
    return rows_[static_cast<std::size_t>(j % 3)][static_cast<std::size_t>(i - 1)];
  }

 private:
  void fill(std::int32_t j) {
    auto& row = rows_[static_cast<std::size_t>(j % 3)];
    double x[kCorners], y[kCorners];
    for (std::int32_t i = 1; i <= mesh_.nx; ++i) {
      cell_corners(mesh_, i, j, x, y);
      row[static_cast<std::size_t>(i - 1)] = cell_geometry(x, y);
    }
  }
  const Mesh& mesh_;
  std::array<std::vector<CellGeometry>, 3> rows_;
};

void keep(Extremum& e, double value, const CellRef& cell, const CellQuality& q) {
  e = {value, cell, q.xc, q.yc};
}

}  // namespace

void cell_corners(const Mesh& mesh, std::int32_t i, std::int32_t j, double x[4], double y[4]) {
  const std::size_t k1 = mesh.at(i, j), k4 = mesh.at(i, j + 1);
  const std::size_t k[kCorners] = {k1, k1 + 1, k4 + 1, k4};
  for (int c = 0; c < kCorners; ++c) {
    x[c] = mesh.xv[k[c]];
    y[c] = mesh.yv[k[c]];
  }
}

CellGeometry cell_geometry(const double x[4], const double y[4]) {
  CellGeometry g{cell_shape(x, y), 0.0, 0.0};
  const double a1 = g.shape.triangle1, a2 = g.shape.triangle2;
  const double xg1 = (x[1] + x[2] + x[0]) * kThird, yg1 = (y[1] + y[2] + y[0]) * kThird;
  const double xg2 = (x[2] + x[3] + x[0]) * kThird, yg2 = (y[2] + y[3] + y[0]) * kThird;
  const double r = 1.0 / g.shape.area;
  g.xc = (a1 * xg1 + a2 * xg2) * r;
  g.yc = (a1 * yg1 + a2 * yg2) * r;
  return g;
}

double scaled_jacobian(const double x[4], const double y[4]) {
  double smallest = 1.0;
  for (int c = 0; c < kCorners; ++c) {
    const int next = (c + 1) % kCorners, previous = (c + kCorners - 1) % kCorners;
    const double ax = x[next] - x[c], ay = y[next] - y[c];
    const double bx = x[previous] - x[c], by = y[previous] - y[c];
    const double sine = (ax * by - ay * bx) / (std::hypot(ax, ay) * std::hypot(bx, by));
    smallest = std::min(smallest, sine);
  }
  return smallest;
}

double non_orthogonality(double xc, double yc, double xn, double yn, double ax, double ay,
                         double bx, double by) {
  const double nx = by - ay, ny = ax - bx;  // outward: the face turned clockwise
  const double dx = xn - xc, dy = yn - yc;
  const double c = (dx * nx + dy * ny) / (std::hypot(dx, dy) * std::hypot(nx, ny));
  return std::acos(std::clamp(c, -1.0, 1.0)) * kDegrees;
}

const std::array<MetricInfo, kMetricCount>& metric_table() {
  return kMetrics;
}

const MetricInfo& info(Metric metric) {
  return kMetrics[index(metric)];
}

bool metric_from_key(const std::string& name, Metric& metric) {
  for (const MetricInfo& m : kMetrics) {
    if (name == m.key) {
      metric = m.metric;
      return true;
    }
  }
  return false;
}

void for_each_cell(const Mesh& mesh,
                   const std::function<void(const CellRef&, const CellQuality&)>& visit) {
  RowWindow rows(mesh);
  double x[kCorners], y[kCorners];
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const CellGeometry& g = rows.at(i, j);
      cell_corners(mesh, i, j, x, y);
      CellQuality q{};
      q.xc = g.xc;
      q.yc = g.yc;
      q.folded = is_folded(g.shape);
      q.value[index(Metric::Area)] = g.shape.area;
      q.value[index(Metric::Aspect)] = g.shape.longest_edge / g.shape.shortest_edge;
      q.value[index(Metric::Skew)] = g.shape.angle_deviation;
      q.value[index(Metric::ScaledJacobian)] = scaled_jacobian(x, y);
      // The neighbours across the sides eta-, ksi+, eta+, ksi-; side s runs
      // from corner s to corner s + 1.
      const bool present[kCorners] = {j > 1, i < mesh.nx, j < mesh.ny, i > 1};
      const std::int32_t ni[kCorners] = {i, i + 1, i, i - 1};
      const std::int32_t nj[kCorners] = {j - 1, j, j + 1, j};
      double angle = 0.0, growth = 1.0;
      for (int s = 0; s < kCorners; ++s) {
        if (!present[s]) continue;
        const CellGeometry& n = rows.at(ni[s], nj[s]);
        const int e = (s + 1) % kCorners;
        angle = std::max(angle, non_orthogonality(g.xc, g.yc, n.xc, n.yc, x[s], y[s], x[e], y[e]));
        growth = std::max(growth, area_ratio(g.shape.area, n.shape.area));
      }
      q.value[index(Metric::NonOrthogonality)] = angle;
      q.value[index(Metric::Growth)] = growth;
      visit({static_cast<std::int64_t>(j - 1) * mesh.nx + i, i, j}, q);
    }
    rows.advance(j);
  }
}

QualitySummary summarise(const Mesh& mesh) {
  QualitySummary s;
  std::array<double, kMetricCount> sums{};
  for_each_cell(mesh, [&](const CellRef& cell, const CellQuality& q) {
    const bool first = s.cells++ == 0;
    for (std::size_t m = 0; m < kMetricCount; ++m) {
      const double value = q.value[m];
      MetricSummary& t = s.metrics[m];
      if (first || value < t.min.value) keep(t.min, value, cell, q);
      if (first || value > t.max.value) keep(t.max, value, cell, q);
      sums[m] += value;
    }
    const double angle = q.value[index(Metric::NonOrthogonality)];
    count(s.skew, q.value[index(Metric::Skew)]);
    count(s.non_orthogonality, angle);
    if (angle > kNonOrthogonalityLimit) ++s.above_limit;
    if (q.folded) {
      if (s.first_folded.size() < kFoldedListed)
        s.first_folded.push_back({cell, q.xc, q.yc, q.value[index(Metric::Area)]});
      ++s.folded;
    }
  });
  for (std::size_t m = 0; m < kMetricCount; ++m)
    s.metrics[m].mean = sums[m] / static_cast<double>(s.cells);
  return s;
}

}  // namespace malha::report

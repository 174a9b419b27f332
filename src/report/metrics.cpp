#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <thread>

#include "processamento.h"

namespace malha::report {

namespace {

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

// Runs part(first_row, last_row) on two threads, each taking half of the rows.
void on_two_threads(std::int32_t rows,
                    const std::function<void(int, std::int32_t, std::int32_t)>& part) {
  const std::int32_t middle = rows / 2;
  std::thread helper(part, 1, middle + 1, rows);
  if (middle >= 1) part(0, 1, middle);
  helper.join();
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
  const VolumeCentroid centroid = volume_centroid(x, y);
  return CellGeometry{cell_shape(x, y), centroid.xc, centroid.yc};
}

double scaled_jacobian(const double x[4], const double y[4]) {
  double smallest = 1.0;
  for (int c = 0; c < kCorners; ++c) {
    const int next = (c + 1) % kCorners, previous = (c + kCorners - 1) % kCorners;
    const double ax = x[next] - x[c], ay = y[next] - y[c];
    const double bx = x[previous] - x[c], by = y[previous] - y[c];
    const double sine = (ax * by - ay * bx) / std::sqrt((ax * ax + ay * ay) * (bx * bx + by * by));
    smallest = std::min(smallest, sine);
  }
  return smallest;
}

double face_cosine(double xc, double yc, double xn, double yn, double ax, double ay, double bx,
                   double by) {
  const double nx = by - ay, ny = ax - bx;  // outward: the face turned clockwise
  const double dx = xn - xc, dy = yn - yc;
  const double c = (dx * nx + dy * ny) / std::sqrt((dx * dx + dy * dy) * (nx * nx + ny * ny));
  return std::isnan(c) ? c : std::clamp(c, -1.0, 1.0);
}

double non_orthogonality(double xc, double yc, double xn, double yn, double ax, double ay,
                         double bx, double by) {
  return std::acos(face_cosine(xc, yc, xn, yn, ax, ay, bx, by)) * kDegrees;
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

std::string metric_keys() {
  std::string keys;
  for (const MetricInfo& m : kMetrics) keys += (keys.empty() ? "" : ", ") + std::string(m.key);
  return keys;
}

double cell_size(const double x[4], const double y[4]) {
  const auto [xl, xh] = std::minmax({x[0], x[1], x[2], x[3]});
  const auto [yl, yh] = std::minmax({y[0], y[1], y[2], y[3]});
  return std::max(xh - xl, yh - yl);
}

CellTable sized_cell_table(const Mesh& mesh) {
  CellTable t;
  const auto n = static_cast<std::size_t>(mesh.volumes());
  for (auto* column : {&t.xc, &t.yc, &t.area, &t.skew, &t.shortest_edge, &t.longest_edge})
    column->resize(n);
  t.flags.resize(n);
  return t;
}

void measure_rows(const Mesh& mesh, CellTable& t, std::int32_t first_row, std::int32_t last_row) {
  double x[kCorners], y[kCorners];
  for (std::int32_t j = first_row; j <= last_row; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const auto v = static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * mesh.nx + i - 1);
      cell_corners(mesh, i, j, x, y);
      const CellGeometry g = cell_geometry(x, y);
      t.xc[v] = g.xc;
      t.yc[v] = g.yc;
      t.area[v] = g.shape.area;
      t.skew[v] = g.shape.angle_deviation;
      t.shortest_edge[v] = g.shape.shortest_edge;
      t.longest_edge[v] = g.shape.longest_edge;
      t.flags[v] = static_cast<std::uint8_t>((is_inverted(g.shape.area) ? kInverted : 0) |
                                             (is_concave(g.shape.smallest_turn) ? kConcave : 0));
    }
  }
}

CellTable measure_cells(const Mesh& mesh) {
  CellTable t = sized_cell_table(mesh);
  on_two_threads(mesh.ny, [&](int, std::int32_t first, std::int32_t last) {
    measure_rows(mesh, t, first, last);
  });
  return t;
}

namespace {

// The neighbours of cell (i, j) across the sides eta-, ksi+, eta+, ksi- (side
// s runs from corner s to corner s + 1), 0 where there is none.
std::array<std::int64_t, kCorners> neighbours(const Mesh& mesh, std::int32_t i, std::int32_t j) {
  const std::int64_t v = static_cast<std::int64_t>(j - 1) * mesh.nx + i;
  return {j > 1 ? v - mesh.nx : 0, i < mesh.nx ? v + 1 : 0, j < mesh.ny ? v + mesh.nx : 0,
          i > 1 ? v - 1 : 0};
}

// The largest face angle: the smallest cosine over the faces with a neighbour.
double largest_face_angle(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j,
                          const double x[4], const double y[4]) {
  const auto at = static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * mesh.nx + i - 1);
  const auto around = neighbours(mesh, i, j);
  double cosine = 1.0;
  for (int s = 0; s < kCorners; ++s) {
    if (around[s] == 0) continue;
    const auto n = static_cast<std::size_t>(around[s] - 1);
    const int e = (s + 1) % kCorners;
    cosine = std::min(cosine, face_cosine(cells.xc[at], cells.yc[at], cells.xc[n], cells.yc[n],
                                          x[s], y[s], x[e], y[e]));
  }
  return std::acos(cosine) * kDegrees;
}

double largest_growth(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j) {
  const auto at = static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * mesh.nx + i - 1);
  double growth = 1.0;
  for (std::int64_t n : neighbours(mesh, i, j))
    if (n != 0) growth = std::max(growth, area_ratio(cells.area[at], cells.area[n - 1]));
  return growth;
}

}  // namespace

double cell_value(const Mesh& mesh, const CellTable& cells, Metric metric, std::int32_t i,
                  std::int32_t j) {
  const auto at = static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * mesh.nx + i - 1);
  double x[kCorners], y[kCorners];
  switch (metric) {
    case Metric::Area:
      return cells.area[at];
    case Metric::Aspect:
      return cells.longest_edge[at] / cells.shortest_edge[at];
    case Metric::Skew:
      return cells.skew[at];
    case Metric::NonOrthogonality:
      cell_corners(mesh, i, j, x, y);
      return largest_face_angle(mesh, cells, i, j, x, y);
    case Metric::ScaledJacobian:
      cell_corners(mesh, i, j, x, y);
      return scaled_jacobian(x, y);
    case Metric::Growth:
      return largest_growth(mesh, cells, i, j);
  }
  return 0.0;
}

CellQuality measure_cell(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j) {
  const auto at = static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * mesh.nx + i - 1);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  CellQuality q{};
  q.xc = cells.xc[at];
  q.yc = cells.yc[at];
  q.flags = cells.flags[at];
  q.value[index(Metric::Area)] = cells.area[at];
  q.value[index(Metric::Aspect)] = cells.longest_edge[at] / cells.shortest_edge[at];
  q.value[index(Metric::Skew)] = cells.skew[at];
  q.value[index(Metric::ScaledJacobian)] = scaled_jacobian(x, y);
  q.value[index(Metric::NonOrthogonality)] = largest_face_angle(mesh, cells, i, j, x, y);
  q.value[index(Metric::Growth)] = largest_growth(mesh, cells, i, j);
  return q;
}

namespace {}  // namespace

QualityTally::QualityTally() {
  for (MetricSummary& m : s_.metrics) {
    m.min.value = std::numeric_limits<double>::infinity();
    m.max.value = -m.min.value;
  }
}

void QualityTally::add(const CellRef& cell, const CellQuality& q) {
  ++s_.cells;
  for (std::size_t m = 0; m < kMetricCount; ++m) {
    const double value = q.value[m];
    MetricSummary& t = s_.metrics[m];
    if (value < t.min.value) t.min = {value, cell};
    if (value > t.max.value) t.max = {value, cell};
    sums_[m] += value;
  }
  const double angle = q.value[index(Metric::NonOrthogonality)];
  count(s_.skew, q.value[index(Metric::Skew)]);
  count(s_.non_orthogonality, angle);
  if (angle > kNonOrthogonalityLimit) ++s_.above_limit;
  const double area = q.value[index(Metric::Area)];
  if ((q.flags & kInverted) != 0) s_.inverted.add(cell, area);
  if ((q.flags & kConcave) != 0) s_.concave.add(cell, area);
}

void QualityTally::add_rows(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                            std::int32_t last_row) {
  for_each_cell(mesh, cells, first_row, last_row,
                [this](const CellRef& cell, const CellQuality& q) { add(cell, q); });
}

// On equal values the earlier cell stays.
void QualityTally::join(const QualityTally& later) {
  const QualitySummary& b = later.s_;
  for (std::size_t m = 0; m < kMetricCount; ++m) {
    MetricSummary& t = s_.metrics[m];
    const MetricSummary& u = b.metrics[m];
    if (u.min.value < t.min.value) t.min = u.min;
    if (u.max.value > t.max.value) t.max = u.max;
    sums_[m] += later.sums_[m];
  }
  for (std::size_t k = 0; k < kAngleBins.size(); ++k) {
    s_.skew[k] += b.skew[k];
    s_.non_orthogonality[k] += b.non_orthogonality[k];
  }
  s_.cells += b.cells;
  s_.above_limit += b.above_limit;
  s_.inverted.join(b.inverted);
  s_.concave.join(b.concave);
}

QualitySummary QualityTally::result(const CellTable& cells) const {
  QualitySummary s = s_;
  for (std::size_t m = 0; m < kMetricCount; ++m) {
    MetricSummary& t = s.metrics[m];
    t.mean = sums_[m] / static_cast<double>(s.cells);
    for (Extremum* e : {&t.min, &t.max}) {
      if (e->cell.volume == 0) continue;  // every value NaN
      e->xc = cells.xc[static_cast<std::size_t>(e->cell.volume - 1)];
      e->yc = cells.yc[static_cast<std::size_t>(e->cell.volume - 1)];
    }
  }
  return s;
}

QualitySummary summarise(const Mesh& mesh, const CellTable& cells) {
  std::array<QualityTally, 2> parts;
  on_two_threads(mesh.ny, [&](int part, std::int32_t first, std::int32_t last) {
    parts[static_cast<std::size_t>(part)].add_rows(mesh, cells, first, last);
  });
  parts[0].join(parts[1]);
  return parts[0].result(cells);
}

}  // namespace malha::report

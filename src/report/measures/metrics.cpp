#include "report/measures/metrics.h"

#include <algorithm>
#include <cmath>

#include "helper_thread.h"
#include "mesh/processamento.h"
#include "report/measures/faces.h"
#include "report/measures/shape.h"

namespace malha::report {

namespace {

constexpr int kCorners = 4;
constexpr double kStraight = 180.0;  // the worst angle between a centre line and a face normal

constexpr std::array<MetricInfo, kMetricCount> kMetrics = {{
    {Metric::Area, "area", "area", true, 0.0, false},
    {Metric::EdgeRatio, "edge_ratio", "edge ratio", false, kUnbounded, false},
    {Metric::AspectRatio, "aspect_ratio", "aspect ratio", false, kUnbounded, false},
    {Metric::MinAngle, "min_angle", "min angle (deg)", true, 0.0, false},
    {Metric::MaxAngle, "max_angle", "max angle (deg)", false, 360.0, false},
    {Metric::EquiangleSkew, "equiangle_skew", "equiangle skew", false, 1.0, false},
    {Metric::ScaledJacobian, "scaled_jacobian", "scaled Jacobian", true, -1.0, false},
    {Metric::JacobianRatio, "jacobian_ratio", "Jacobian ratio", true, -1.0, false},
    {Metric::NonOrthogonality, "non_orthogonality", "non-orthogonality (deg)", false, kStraight,
     false},
    {Metric::FaceSkewness, "face_skewness", "face skewness", false, kUnbounded, false},
    {Metric::Growth, "growth", "growth", false, kUnbounded, false},
    {Metric::BoundaryNonOrthogonality, "boundary_non_orthogonality",
     "boundary non-orthogonality (deg)", false, kStraight, true},
}};

std::size_t index(Metric m) {
  return static_cast<std::size_t>(m);
}

std::uint8_t cell_flags(const double x[4], const double y[4], double area, double xc, double yc) {
  bool zero_edge = false;
  for (int c = 0; c < kCorners; ++c) {
    const int next = (c + 1) % kCorners;
    const double ex = x[next] - x[c], ey = y[next] - y[c];
    if (!(ex * ex + ey * ey > 0.0)) zero_edge = true;
  }
  const bool degenerate = zero_edge || !std::isfinite(xc) || !std::isfinite(yc);
  return static_cast<std::uint8_t>((is_inverted(area) ? kInverted : 0) |
                                   (is_concave(smallest_corner_turn(x, y)) ? kConcave : 0) |
                                   (degenerate ? kDegenerate : 0));
}

// The measures of a cell that need the cells around it, from its faces:
// side s runs from corner s to corner s + 1 (eta-, ksi+, eta+, ksi-).
struct FaceMeasures {
  double non_orthogonality, face_skewness, growth, boundary_non_orthogonality;
  bool on_boundary;
  int owned_faces;
  std::array<double, 2> owned_cosine;
};

// The smaller of two cosines, a NaN (a degenerate face) counting as -1.
double worse_cosine(double worst, double cosine) {
  return std::isnan(cosine) ? -1.0 : std::min(worst, cosine);
}

double area_ratio(double a, double b) {
  a = std::fabs(a);
  b = std::fabs(b);
  const double ratio = std::max(a, b) / std::min(a, b);
  return std::isnan(ratio) ? kUnbounded : std::min(ratio, kUnbounded);
}

// Calls face(s, a, b, n) for the four sides of cell (i, j) at `at` with
// corners x, y: side s from a to b, the cell across it at n, or -1 on the
// boundary.
template <class Face>
void for_each_side(const Mesh& mesh, std::size_t at, std::int32_t i, std::int32_t j,
                   const double x[4], const double y[4], Face&& face) {
  const auto nx = static_cast<std::ptrdiff_t>(mesh.nx);
  const auto here = static_cast<std::ptrdiff_t>(at);
  const std::ptrdiff_t across[kCorners] = {j > 1 ? here - nx : -1, i < mesh.nx ? here + 1 : -1,
                                           j < mesh.ny ? here + nx : -1, i > 1 ? here - 1 : -1};
  for (int s = 0; s < kCorners; ++s) {
    const int e = (s + 1) % kCorners;
    face(s, Point{x[s], y[s]}, Point{x[e], y[e]}, across[s]);
  }
}

bool owns(int side) {
  return side == 1 || side == 2;  // ksi+ and eta+: the cell across has the higher number
}

FaceMeasures face_measures(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j,
                           const double x[4], const double y[4], FaceCache* cache) {
  const std::size_t at = mesh.cell(i, j);
  const Point c = {cells.xc[at], cells.yc[at]};
  // The faces of sides 0 and 3 are owned by the cell across them; kept by
  // the walk where it has measured them.
  const OwnedFace* kept[kCorners] = {
      cache != nullptr && j > cache->first_row ? &cache->below[static_cast<std::size_t>(i - 1)]
                                               : nullptr,
      nullptr, nullptr, cache != nullptr && i > 1 ? &cache->before : nullptr};
  FaceMeasures f{0.0, 0.0, 1.0, 0.0, false, 0, {0.0, 0.0}};
  double interior = 1.0, boundary = 1.0;
  OwnedFace owned[kCorners]{};
  for_each_side(mesh, at, i, j, x, y, [&](int s, Point a, Point b, std::ptrdiff_t across) {
    if (across < 0) {
      f.on_boundary = true;
      boundary = worse_cosine(boundary, face_cosine(c, ghost_centre(mesh, i, j, s, a, b), a, b));
      f.face_skewness = std::max(f.face_skewness, boundary_skewness(c, a, b));
      return;
    }
    const auto n = static_cast<std::size_t>(across);
    const Point cn = {cells.xc[n], cells.yc[n]};
    const OwnedFace face = owns(s)              ? owned_face(c, cn, a, b)
                           : kept[s] != nullptr ? *kept[s]
                                                : owned_face(cn, c, b, a);  // as its owner sees it
    owned[s] = face;
    if (owns(s)) f.owned_cosine[static_cast<std::size_t>(f.owned_faces++)] = face.cosine;
    interior = worse_cosine(interior, face.cosine);
    f.face_skewness = std::max(f.face_skewness, face.skewness);
    f.growth = std::max(f.growth, area_ratio(cells.area[at], cells.area[n]));
  });
  if (cache != nullptr) {
    cache->before = owned[1];
    cache->below[static_cast<std::size_t>(i - 1)] = owned[2];
  }
  f.non_orthogonality = angle_of(interior);
  f.boundary_non_orthogonality = f.on_boundary ? angle_of(boundary) : 0.0;
  return f;
}

// One measure of the faces, with only what it needs: the same double as
// face_measures gives (a face's cosine is the same from either side).
double face_value(Metric m, const Mesh& mesh, const CellTable& cells, std::int32_t i,
                  std::int32_t j, const double x[4], const double y[4]) {
  const std::size_t at = mesh.cell(i, j);
  const Point c = {cells.xc[at], cells.yc[at]};
  bool on_boundary = false;
  double cosine = 1.0, largest = m == Metric::Growth ? 1.0 : 0.0;
  for_each_side(mesh, at, i, j, x, y, [&](int s, Point a, Point b, std::ptrdiff_t across) {
    const bool interior = across >= 0;
    on_boundary = on_boundary || !interior;
    const Point cn = interior ? Point{cells.xc[static_cast<std::size_t>(across)],
                                      cells.yc[static_cast<std::size_t>(across)]}
                              : ghost_centre(mesh, i, j, s, a, b);
    if (m == Metric::NonOrthogonality && interior)
      cosine = worse_cosine(cosine, face_cosine(c, cn, a, b));
    if (m == Metric::BoundaryNonOrthogonality && !interior)
      cosine = worse_cosine(cosine, face_cosine(c, cn, a, b));
    if (m == Metric::Growth && interior)
      largest = std::max(largest,
                         area_ratio(cells.area[at], cells.area[static_cast<std::size_t>(across)]));
    if (m == Metric::FaceSkewness)
      largest = std::max(largest, !interior ? boundary_skewness(c, a, b)
                                  : owns(s) ? interior_skewness(c, cn, a, b)
                                            : interior_skewness(cn, c, b, a));
  });
  if (m == Metric::BoundaryNonOrthogonality) return on_boundary ? angle_of(cosine) : 0.0;
  return m == Metric::NonOrthogonality ? angle_of(cosine) : largest;
}

// The parts of shape_measures one measure needs.
unsigned shape_part(Metric m) {
  switch (m) {
    case Metric::EdgeRatio:
      return kEdgeRatio;
    case Metric::AspectRatio:
      return kAspectRatio;
    case Metric::MinAngle:
    case Metric::MaxAngle:
    case Metric::EquiangleSkew:
      return kAngles;
    case Metric::ScaledJacobian:
      return kScaledJacobian;
    case Metric::JacobianRatio:
      return kJacobianRatio;
    default:
      return 0;
  }
}

// What is not a number is the worst value of the measure.
double sanitised(Metric m, double v) {
  return std::isnan(v) ? info(m).worst : v;
}

// One measure out of the parts; a degenerate cell, and anything that is not
// a number, takes the worst value of the measure.
double pick(Metric m, double area, const ShapeMeasures& shape, const FaceMeasures& faces,
            bool degenerate) {
  if (m == Metric::Area) return area;
  if (degenerate) return info(m).worst;
  double v = 0.0;
  switch (m) {
    case Metric::Area:
      break;
    case Metric::EdgeRatio:
      v = shape.edge_ratio;
      break;
    case Metric::AspectRatio:
      v = shape.aspect_ratio;
      break;
    case Metric::MinAngle:
      v = shape.min_angle;
      break;
    case Metric::MaxAngle:
      v = shape.max_angle;
      break;
    case Metric::EquiangleSkew:
      v = shape.equiangle_skew;
      break;
    case Metric::ScaledJacobian:
      v = shape.scaled_jacobian;
      break;
    case Metric::JacobianRatio:
      v = shape.jacobian_ratio;
      break;
    case Metric::NonOrthogonality:
      v = faces.non_orthogonality;
      break;
    case Metric::FaceSkewness:
      v = faces.face_skewness;
      break;
    case Metric::Growth:
      v = faces.growth;
      break;
    case Metric::BoundaryNonOrthogonality:
      v = faces.boundary_non_orthogonality;
      break;
  }
  return sanitised(m, v);
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

double cell_size(const double x[4], const double y[4]) {
  const auto [xl, xh] = std::minmax({x[0], x[1], x[2], x[3]});
  const auto [yl, yh] = std::minmax({y[0], y[1], y[2], y[3]});
  return std::max(xh - xl, yh - yl);
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

void on_two_threads(std::int32_t rows,
                    const std::function<void(int, std::int32_t, std::int32_t)>& part) {
  const std::int32_t middle = rows / 2;
  const auto second = [&] { part(1, middle + 1, rows); };
  HelperThread* helper = HelperThread::shared();
  if (helper == nullptr || !helper->try_start(second)) {
    part(0, 1, middle);
    second();
    return;
  }
  // The helper's half ends on its own: nothing to stop it with.
  try {
    part(0, 1, middle);
  } catch (...) {
    helper->finish();
    throw;
  }
  helper->finish();
}

CellTable sized_cell_table(const Mesh& mesh) {
  CellTable t;
  const auto n = static_cast<std::size_t>(mesh.volumes());
  for (auto* column : {&t.xc, &t.yc, &t.area}) column->resize(n);
  t.flags.resize(n);
  return t;
}

void measure_rows(const Mesh& mesh, CellTable& t, std::int32_t first_row, std::int32_t last_row) {
  double x[kCorners], y[kCorners];
  for (std::int32_t j = first_row; j <= last_row; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::size_t v = mesh.cell(i, j);
      cell_corners(mesh, i, j, x, y);
      // From the first corner: the cells of a graded mesh at the re-entrant
      // corner are too small for the formulas in the region's coordinates.
      const VolumeCentroid g = volume_centroid(x, y, AreaFrame::FirstCorner);
      t.xc[v] = g.xc;
      t.yc[v] = g.yc;
      t.area[v] = g.area;
      t.flags[v] = cell_flags(x, y, g.area, g.xc, g.yc);
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

CellQuality measure_cell(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j,
                         FaceCache* cache) {
  const std::size_t at = mesh.cell(i, j);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  CellQuality q{};
  q.flags = cells.flags[at];
  const bool degenerate = (q.flags & kDegenerate) != 0;
  const ShapeMeasures shape = degenerate ? ShapeMeasures{} : shape_measures(x, y);
  const FaceMeasures faces = face_measures(mesh, cells, i, j, x, y, cache);
  for (const MetricInfo& m : kMetrics)
    q.value[index(m.metric)] = pick(m.metric, cells.area[at], shape, faces, degenerate);
  q.on_boundary = faces.on_boundary;
  q.owned_faces = faces.owned_faces;
  q.owned_cosine = faces.owned_cosine;
  return q;
}

double cell_value(const Mesh& mesh, const CellTable& cells, Metric metric, std::int32_t i,
                  std::int32_t j) {
  const std::size_t at = mesh.cell(i, j);
  const bool degenerate = (cells.flags[at] & kDegenerate) != 0;
  if (metric == Metric::Area || degenerate)
    return pick(metric, cells.area[at], ShapeMeasures{}, FaceMeasures{}, degenerate);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  const unsigned part = shape_part(metric);
  if (part != 0) return pick(metric, 0.0, shape_measures(x, y, part), FaceMeasures{}, false);
  return sanitised(metric, face_value(metric, mesh, cells, i, j, x, y));
}

Location cell_location(const Mesh& mesh, const CellTable& cells, std::int64_t volume) {
  const auto at = static_cast<std::size_t>(volume - 1);
  if (std::isfinite(cells.xc[at]) && std::isfinite(cells.yc[at]))
    return {cells.xc[at], cells.yc[at]};
  const auto j = static_cast<std::int32_t>((volume - 1) / mesh.nx + 1);
  const auto i = static_cast<std::int32_t>(volume - static_cast<std::int64_t>(j - 1) * mesh.nx);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  return {(x[0] + x[1] + x[2] + x[3]) / kCorners, (y[0] + y[1] + y[2] + y[3]) / kCorners};
}

}  // namespace malha::report

#include "report/measures/summary.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace malha::report {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

std::size_t index(Metric m) {
  return static_cast<std::size_t>(m);
}

template <std::size_t N>
void count(std::array<std::int64_t, N>& counts, const std::array<double, N>& bins, double value) {
  std::size_t bin = N - 1;
  while (bin > 0 && !(value >= bins[bin])) --bin;
  ++counts[bin];
}

template <std::size_t N>
void add_counts(std::array<std::int64_t, N>& to, const std::array<std::int64_t, N>& from) {
  for (std::size_t k = 0; k < N; ++k) to[k] += from[k];
}

// The face of an owner: its cosine in the sum and the extremes (a NaN, a
// degenerate face, counts as -1), the angle's class from the cosine.
void add_face(FaceSummary& f, double cosine) {
  static const double kSevere = std::cos(kNonOrthogonalityLimit / kDegrees);
  if (std::isnan(cosine)) cosine = -1.0;
  ++f.faces;
  f.sum_cosine += cosine;
  f.smallest_cosine = std::min(f.smallest_cosine, cosine);
  if (cosine <= 0.0)
    ++f.failing;
  else if (cosine <= kSevere)
    ++f.severe;
}

}  // namespace

double FaceSummary::max_angle() const {
  return std::acos(smallest_cosine) * kDegrees;
}

double FaceSummary::mean_angle() const {
  if (faces == 0) return 0.0;
  return std::acos(std::clamp(sum_cosine / static_cast<double>(faces), -1.0, 1.0)) * kDegrees;
}

QualityTally::QualityTally() {
  for (MetricSummary& m : s_.metrics) {
    m.min.value = std::numeric_limits<double>::infinity();
    m.max.value = -m.min.value;
  }
}

void QualityTally::add(const CellRef& cell, const CellQuality& q, double area) {
  ++s_.cells;
  for (const MetricInfo& entry : metric_table()) {
    if (entry.boundary && !q.on_boundary) continue;
    const std::size_t m = index(entry.metric);
    const double value = q.value[m];
    MetricSummary& t = s_.metrics[m];
    ++t.cells;
    if (value < t.min.value) t.min = {value, cell};
    if (value > t.max.value) t.max = {value, cell};
    sums_[m] += value;
  }
  const double angle = q.value[index(Metric::NonOrthogonality)];
  count(s_.equiangle_skew, kSkewBins, q.value[index(Metric::EquiangleSkew)]);
  count(s_.non_orthogonality, kAngleBins, angle);
  if (angle > kNonOrthogonalityLimit) ++s_.above_limit;
  for (int f = 0; f < q.owned_faces; ++f)
    add_face(s_.faces, q.owned_cosine[static_cast<std::size_t>(f)]);
  if ((q.flags & kInverted) != 0) s_.inverted.add(cell, area);
  if ((q.flags & kConcave) != 0) s_.concave.add(cell, area);
  if ((q.flags & kDegenerate) != 0) s_.degenerate.add(cell, area);
}

void QualityTally::add_rows(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                            std::int32_t last_row) {
  for_each_cell(mesh, cells, first_row, last_row, [&](const CellRef& cell, const CellQuality& q) {
    add(cell, q, cells.area[static_cast<std::size_t>(cell.volume - 1)]);
  });
}

// On equal values the earlier cell stays.
void QualityTally::join(const QualityTally& later) {
  const QualitySummary& b = later.s_;
  for (std::size_t m = 0; m < kMetricCount; ++m) {
    MetricSummary& t = s_.metrics[m];
    const MetricSummary& u = b.metrics[m];
    if (u.min.value < t.min.value) t.min = u.min;
    if (u.max.value > t.max.value) t.max = u.max;
    t.cells += u.cells;
    sums_[m] += later.sums_[m];
  }
  add_counts(s_.equiangle_skew, b.equiangle_skew);
  add_counts(s_.non_orthogonality, b.non_orthogonality);
  s_.cells += b.cells;
  s_.above_limit += b.above_limit;
  FaceSummary& f = s_.faces;
  f.faces += b.faces.faces;
  f.sum_cosine += b.faces.sum_cosine;
  f.smallest_cosine = std::min(f.smallest_cosine, b.faces.smallest_cosine);
  f.severe += b.faces.severe;
  f.failing += b.faces.failing;
  s_.inverted.join(b.inverted);
  s_.concave.join(b.concave);
  s_.degenerate.join(b.degenerate);
}

QualitySummary QualityTally::result(const Mesh& mesh, const CellTable& cells) const {
  QualitySummary s = s_;
  for (std::size_t m = 0; m < kMetricCount; ++m) {
    MetricSummary& t = s.metrics[m];
    t.mean = t.cells > 0 ? sums_[m] / static_cast<double>(t.cells) : 0.0;
    for (Extremum* e : {&t.min, &t.max}) {
      if (e->cell.volume == 0) {  // no cell measured: no boundary face
        *e = Extremum{};
        continue;
      }
      const Location at = cell_location(mesh, cells, e->cell.volume);
      e->xc = at.x;
      e->yc = at.y;
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
  return parts[0].result(mesh, cells);
}

std::string Verdict::line() const {
  if (failed.empty()) return "mesh OK";
  std::string out =
      std::to_string(failed.size()) + (failed.size() == 1 ? " check failed: " : " checks failed: ");
  for (std::size_t k = 0; k < failed.size(); ++k) out += (k > 0 ? ", " : "") + failed[k].text;
  return out;
}

Verdict quality_verdict(const QualitySummary& q) {
  Verdict v;
  const auto add = [&](const char* key, const char* what, std::int64_t n) {
    if (n > 0) v.failed.push_back({key, std::string(what) + " (" + std::to_string(n) + ")"});
  };
  add("inverted", "inverted cells", q.inverted.count());
  add("concave", "concave cells", q.concave.count());
  add("non_orthogonal_faces", "faces at 90 deg or more", q.faces.failing);
  return v;
}

Verdict file_verdict() {
  return Verdict{{{"files", "file check"}}};
}

}  // namespace malha::report

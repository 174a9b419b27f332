// The quality part of the report, in its two forms: the table of the
// measures, the bad cells, the histograms, the face summary and the verdict.
#include <algorithm>
#include <span>

#include "report/json.h"
#include "report/report.h"

namespace malha::report {

namespace {

constexpr int kBarWidth = 40;       // columns of the longest histogram bar
constexpr std::size_t kLabel = 33;  // columns of a measure's name in the table
constexpr std::size_t kNumber = 12;

std::string where(const Extremum& e) {
  return std::to_string(e.cell.volume) + " (" + std::to_string(e.cell.i) + ", " +
         std::to_string(e.cell.j) + ") at (" + short_number(e.xc) + ", " + short_number(e.yc) + ")";
}

// The last bin is open above ("90 and over"), or holds its lower end alone.
std::string histogram(const std::string& title, std::span<const double> bins,
                      std::span<const std::int64_t> counts, bool open_end) {
  const std::int64_t most =
      std::max<std::int64_t>(1, *std::max_element(counts.begin(), counts.end()));
  std::string out = title + "\n";
  for (std::size_t b = 0; b < counts.size(); ++b) {
    const std::string low = short_number(bins[b]);
    const bool last = b + 1 == bins.size();
    const std::string label = !last      ? low + " - " + short_number(bins[b + 1])
                              : open_end ? low + " and over"
                                         : low;
    const auto bar = static_cast<std::size_t>((counts[b] * kBarWidth + most - 1) / most);
    out += "  " + padded(label, 12, true) + padded(std::to_string(counts[b]), 10);
    if (bar > 0) out += "  " + std::string(bar, '#');
    out += '\n';
  }
  return out;
}

// "concave cells (...): 3, smallest area first: 191 (11, 10) area -0.00994; ..."
std::string cell_list_line(const char* title, const CellList& list) {
  std::string out = std::string(title) + ": " + std::to_string(list.count());
  for (std::size_t k = 0; k < list.listed(); ++k) {
    const CellList::Entry& e = list[k];
    out += k > 0 ? "; " : ", smallest area first: ";
    out += std::to_string(e.cell.volume) + " (" + std::to_string(e.cell.i) + ", " +
           std::to_string(e.cell.j) + ") area " + short_number(e.area);
  }
  if (list.count() > static_cast<std::int64_t>(list.listed())) out += "; ...";
  return out + "\n";
}

void cell_object(Json& j, const std::string& key, const Extremum& e) {
  j.open(key, '{');
  j.integer("volume", e.cell.volume);
  j.integer("i", e.cell.i);
  j.integer("j", e.cell.j);
  j.number("x", e.xc);
  j.number("y", e.yc);
  j.close('}');
}

void cell_list_object(Json& j, const std::string& key, const CellList& list, const Report& r) {
  j.open(key, '{');
  j.integer("count", list.count());
  j.open("worst", '[');
  for (const CellList::Entry& e : list) {
    const Location at = cell_location(*r.mesh, *r.cells, e.cell.volume);
    j.open("", '{');
    j.integer("volume", e.cell.volume);
    j.integer("i", e.cell.i);
    j.integer("j", e.cell.j);
    j.number("x", at.x);
    j.number("y", at.y);
    j.number("area", e.area);
    j.close('}');
  }
  j.close(']');
  j.close('}');
}

void histogram_object(Json& j, const std::string& key, std::span<const double> bins,
                      std::span<const std::int64_t> counts) {
  j.open(key, '{');
  j.open("bins", '[');
  for (double edge : bins) j.number("", edge);
  j.close(']');
  j.open("cells", '[');
  for (std::int64_t n : counts) j.integer("", n);
  j.close(']');
  j.close('}');
}

}  // namespace

std::string quality_table(const Report& r) {
  const QualitySummary& q = r.quality;
  std::string out = padded("", kLabel) + padded("min", kNumber) + padded("mean", kNumber) +
                    padded("max", kNumber) + "   worst cell: volume (i, j) at (x, y)\n";
  for (const MetricInfo& entry : metric_table()) {
    const MetricSummary& s = q.metrics[static_cast<std::size_t>(entry.metric)];
    out += padded(entry.label, kLabel, true) + padded(short_number(s.min.value), kNumber) +
           padded(short_number(s.mean), kNumber) + padded(short_number(s.max.value), kNumber);
    if (s.cells > 0) out += "   " + where(entry.low_is_worst ? s.min : s.max);
    if (entry.boundary) out += "; over the " + std::to_string(s.cells) + " boundary cells";
    out += "\n";
  }
  out += "non-orthogonality above " + short_number(kNonOrthogonalityLimit) +
         " deg: " + std::to_string(q.above_limit) + " cells\n";
  out += cell_list_line("inverted cells (area 0 or less)", q.inverted);
  out += cell_list_line("concave cells (a corner of 180 deg or more)", q.concave);
  out += cell_list_line("degenerate cells (an edge of length 0, or no area)", q.degenerate);
  return out;
}

std::string quality_histograms(const Report& r) {
  const QualitySummary& q = r.quality;
  const FaceSummary& f = q.faces;
  return histogram("equiangle skew, cells per bin:", kSkewBins, q.equiangle_skew, false) +
         histogram("non-orthogonality (deg), cells per bin:", kAngleBins, q.non_orthogonality,
                   true) +
         "non-orthogonality of the " + std::to_string(f.faces) +
         " interior faces, as checkMesh gives it: max " + short_number(f.max_angle()) +
         ", average " + short_number(f.mean_angle()) + " deg; " + std::to_string(f.severe) +
         " faces from 70 to 90 deg, " + std::to_string(f.failing) + " at 90 deg or more\n";
}

void quality_json(Json& j, const Report& r) {
  const QualitySummary& q = r.quality;
  j.open("metrics", '{');
  for (const MetricInfo& entry : metric_table()) {
    const MetricSummary& s = q.metrics[static_cast<std::size_t>(entry.metric)];
    j.open(entry.key, '{');
    j.number("min", s.min.value);
    j.number("mean", s.mean);
    j.number("max", s.max.value);
    j.string("worst", entry.low_is_worst ? "min" : "max");
    j.integer("cells", s.cells);
    cell_object(j, "min_cell", s.min);
    cell_object(j, "max_cell", s.max);
    j.close('}');
  }
  j.close('}');
  j.open("histograms", '{');
  histogram_object(j, "equiangle_skew", kSkewBins, q.equiangle_skew);
  histogram_object(j, "non_orthogonality", kAngleBins, q.non_orthogonality);
  j.close('}');
  j.number("non_orthogonality_limit_deg", kNonOrthogonalityLimit);
  j.integer("non_orthogonality_above_limit", q.above_limit);
  const FaceSummary& f = q.faces;
  j.open("interior_faces", '{');
  j.integer("count", f.faces);
  j.number("non_orthogonality_max", f.max_angle());
  j.number("non_orthogonality_average", f.mean_angle());
  j.integer("severe_70_to_90", f.severe);
  j.integer("failing_90_or_more", f.failing);
  j.close('}');
  cell_list_object(j, "inverted", q.inverted, r);
  cell_list_object(j, "concave", q.concave, r);
  cell_list_object(j, "degenerate", q.degenerate, r);
}

void verdict_json(Json& j, const Verdict& v) {
  j.open("verdict", '{');
  j.boolean("ok", v.ok());
  j.open("failed", '[');
  for (const Verdict::Failed& f : v.failed) j.string("", f.key);
  j.close(']');
  j.string("line", v.line());
  j.close('}');
}

}  // namespace malha::report

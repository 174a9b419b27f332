// The quality of a mesh summed up over its cells and its interior faces:
// min, mean and max of every measure with the worst cell, two histograms,
// the face-based non-orthogonality summary of finite-volume mesh checkers,
// the inverted, concave and degenerate cells, and the verdict.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "report/measures/metrics.h"

namespace malha::report {

struct Extremum {
  double value = 0.0;
  CellRef cell;
  double xc = 0.0, yc = 0.0;  // where the cell is (cell_location)
};
struct MetricSummary {
  Extremum min, max;
  double mean = 0.0;
  std::int64_t cells = 0;  // the cells measured: all, or those on the boundary
};

// Bins of the histograms, the lower end of each; the last is open above.
// Equiangle skew: the ranges the field calls excellent, good, fair, poor,
// very poor, and 1 (a corner of 0 or 180 degrees or more: every concave cell).
inline constexpr std::array<double, 6> kSkewBins = {0, 0.25, 0.5, 0.75, 0.9, 1};
// Non-orthogonality, degrees.
inline constexpr std::array<double, 8> kAngleBins = {0, 10, 20, 30, 45, 60, 70, 90};

// Non-orthogonality of a face at or above this many degrees is severe, as
// finite-volume mesh checkers flag it; at or above 90 the centre across the
// face lies behind it, and the check fails.
inline constexpr double kNonOrthogonalityLimit = 70.0;
inline constexpr double kRightAngle = 90.0;

// The interior faces as checkMesh sums them up: each face once, seen from
// its owner (the cell with the lower volume number); the cosine of a
// degenerate face counted as -1.
struct FaceSummary {
  std::int64_t faces = 0;
  double sum_cosine = 0.0;
  double smallest_cosine = 1.0;
  std::int64_t severe = 0;   // in [70, 90) degrees
  std::int64_t failing = 0;  // 90 degrees or more
  double max_angle() const;
  // checkMesh's average: the angle whose cosine is the mean cosine.
  double mean_angle() const;
};

struct QualitySummary {
  std::int64_t cells = 0;
  std::array<MetricSummary, kMetricCount> metrics{};
  std::array<std::int64_t, kSkewBins.size()> equiangle_skew{};
  std::array<std::int64_t, kAngleBins.size()> non_orthogonality{};
  std::int64_t above_limit = 0;  // cells with a face beyond kNonOrthogonalityLimit
  FaceSummary faces;
  CellList inverted, concave, degenerate;  // the quality module's order
};

// The summary gathered in parts, rows first_row to last_row each, the parts
// joined in the order of their rows.
class QualityTally {
 public:
  QualityTally();
  void add_rows(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                std::int32_t last_row);
  void join(const QualityTally& later);
  QualitySummary result(const Mesh& mesh, const CellTable& cells) const;

 private:
  void add(const CellRef& cell, const CellQuality& q, double area);
  QualitySummary s_;
  std::array<double, kMetricCount> sums_{};
};

// Over all cells; two threads take half of the rows each.
QualitySummary summarise(const Mesh& mesh, const CellTable& cells);

// The verdict: the checks that failed, in the order of the report.
struct Verdict {
  struct Failed {
    std::string key;   // in the JSON: "inverted", "concave", "non_orthogonal_faces", "files"
    std::string text;  // in the report: "inverted cells (18)"
  };
  std::vector<Failed> failed;
  bool ok() const { return failed.empty(); }
  // "mesh OK", or "2 checks failed: inverted cells (18), concave cells (20)".
  std::string line() const;
};
// The quality checks: inverted cells, concave cells, interior faces at 90
// degrees or more.
Verdict quality_verdict(const QualitySummary& q);
// A file check that failed: the report stops there.
Verdict file_verdict();

}  // namespace malha::report

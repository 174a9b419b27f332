// Quality of every cell of a mesh read from its files: the shape of a cell
// (area, edges, corner angles) comes from the library's quality module; the
// measures that need the neighbours (non-orthogonality, growth) and the
// scaled Jacobian are here, and so is the summary over the mesh.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "case_files.h"
#include "quality.h"

namespace malha::report {

// Cell shape and the area-weighted centroid of its two triangles (1, 2, 3)
// and (1, 3, 4), computed as the centroid files are.
struct CellGeometry {
  CellShape shape;
  double xc, yc;
};
CellGeometry cell_geometry(const double x[4], const double y[4]);
// The corners of cell (i, j): (i, j), (i+1, j), (i+1, j+1), (i, j+1).
void cell_corners(const Mesh& mesh, std::int32_t i, std::int32_t j, double x[4], double y[4]);

// The smallest over the four corners of the cross product of the two edges
// leaving the corner (next corner, then previous), over their lengths: the
// sine of the corner angle, 1 for a rectangle, 0 or less for a corner turned
// inside out.
double scaled_jacobian(const double x[4], const double y[4]);

// The angle in degrees between d, from a cell's centroid (xc, yc) to its
// neighbour's (xn, yn), and the outward normal of their shared face, the face
// running from (ax, ay) to (bx, by) counter-clockwise around the cell.
double non_orthogonality(double xc, double yc, double xn, double yn, double ax, double ay,
                         double bx, double by);
// Its cosine, clamped to [-1, 1] (NaN for a degenerate face or centre line).
double face_cosine(double xc, double yc, double xn, double yn, double ax, double ay, double bx,
                   double by);

enum class Metric { Area, Aspect, Skew, NonOrthogonality, ScaledJacobian, Growth };
inline constexpr int kMetricCount = 6;

struct MetricInfo {
  Metric metric;
  const char* key;    // in --json, in the .vts and for --map
  const char* label;  // in the report
  bool low_is_worst;  // the worst cell has the smallest value
};
const std::array<MetricInfo, kMetricCount>& metric_table();
const MetricInfo& info(Metric metric);
// The metric whose key is `name`; false when there is none.
bool metric_from_key(const std::string& name, Metric& metric);
// The keys of the metric table, in its order: "area, aspect_ratio, ...".
std::string metric_keys();

// The flags of a cell (CellTable::flags) as cell arrays of the exports: 1 on
// the cells that have the flag, 0 elsewhere.
struct FlagInfo {
  std::uint8_t bit;
  const char* key;
};
inline constexpr std::array<FlagInfo, 2> kFlags = {
    {{kInverted, "inverted"}, {kConcave, "concave"}}};
inline const std::array<FlagInfo, 2>& flag_table() {
  return kFlags;
}

// Non-orthogonality above this many degrees is flagged, as in the mesh
// checks of finite-volume codes.
inline constexpr double kNonOrthogonalityLimit = 70.0;

struct CellQuality {
  std::array<double, kMetricCount> value;  // indexed by Metric
  double xc, yc;
  std::uint8_t flags;  // kInverted, kConcave
};

// The table of all cells, by two threads; or its storage, filled row by row.
CellTable measure_cells(const Mesh& mesh);
CellTable sized_cell_table(const Mesh& mesh);
void measure_rows(const Mesh& mesh, CellTable& table, std::int32_t first_row,
                  std::int32_t last_row);

// The size a cell's centroid and area are compared on: the larger side of the
// box around its corners.
double cell_size(const double x[4], const double y[4]);

// The measures of cell (i, j), all of them or one.
CellQuality measure_cell(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j);
double cell_value(const Mesh& mesh, const CellTable& cells, Metric metric, std::int32_t i,
                  std::int32_t j);

// Calls visit(CellRef, CellQuality) for every cell of rows first_row to
// last_row in volume order (ksi fastest).
template <class Visit>
void for_each_cell(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                   std::int32_t last_row, Visit&& visit) {
  for (std::int32_t j = first_row; j <= last_row; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i)
      visit(CellRef{static_cast<std::int64_t>(j - 1) * mesh.nx + i, i, j},
            measure_cell(mesh, cells, i, j));
}
template <class Visit>
void for_each_cell(const Mesh& mesh, const CellTable& cells, Visit&& visit) {
  for_each_cell(mesh, cells, 1, mesh.ny, visit);
}
// Calls visit(CellRef, value) for every cell in volume order with one measure.
template <class Visit>
void for_each_value(const Mesh& mesh, const CellTable& cells, Metric metric, Visit&& visit) {
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i)
      visit(CellRef{static_cast<std::int64_t>(j - 1) * mesh.nx + i, i, j},
            cell_value(mesh, cells, metric, i, j));
}

struct Extremum {
  double value = 0.0;
  CellRef cell;
  double xc = 0.0, yc = 0.0;
};
struct MetricSummary {
  Extremum min, max;
  double mean = 0.0;
};

// Bins of the angle histograms, in degrees: [0, 10), [10, 20), ..., [90, 180].
inline constexpr std::array<double, 8> kAngleBins = {0, 10, 20, 30, 45, 60, 70, 90};
using Histogram = std::array<std::int64_t, kAngleBins.size()>;

struct QualitySummary {
  std::int64_t cells = 0;
  std::array<MetricSummary, kMetricCount> metrics{};
  Histogram skew{}, non_orthogonality{};
  std::int64_t above_limit = 0;  // cells with a face beyond kNonOrthogonalityLimit
  CellList inverted, concave;    // the quality module's rules and order
};
// The summary gathered in parts, rows first_row to last_row each, the parts
// joined in the order of their rows.
class QualityTally {
 public:
  QualityTally();
  void add_rows(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                std::int32_t last_row);
  void join(const QualityTally& later);
  QualitySummary result(const CellTable& cells) const;

 private:
  void add(const CellRef& cell, const CellQuality& q);
  QualitySummary s_;
  std::array<double, kMetricCount> sums_{};
};

// Over all cells; two threads take half of the rows each.
QualitySummary summarise(const Mesh& mesh, const CellTable& cells);

}  // namespace malha::report

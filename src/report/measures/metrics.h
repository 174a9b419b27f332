// Quality of every cell of a mesh read from its files: the table of the
// measures (one source of their keys for the report, the JSON, the maps and
// every export), the cell table computed once from the vertices, and the
// measures of one cell: its shape (report/measures/shape.h) and its faces
// (report/measures/faces.h). The summary over the mesh is in report/measures/summary.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mesh/quality.h"
#include "report/case_data.h"
#include "report/measures/faces.h"

namespace malha::report {

// The corners of cell (i, j): (i, j), (i+1, j), (i+1, j+1), (i, j+1).
void cell_corners(const Mesh& mesh, std::int32_t i, std::int32_t j, double x[4], double y[4]);

// The size a cell's centroid and area are compared on: the larger side of the
// box around its corners.
double cell_size(const double x[4], const double y[4]);

enum class Metric {
  Area,
  EdgeRatio,
  AspectRatio,
  MinAngle,
  MaxAngle,
  EquiangleSkew,
  ScaledJacobian,
  JacobianRatio,
  NonOrthogonality,
  FaceSkewness,
  Growth,
  BoundaryNonOrthogonality,
};
inline constexpr int kMetricCount = 12;

struct MetricInfo {
  Metric metric;
  const char* key;    // in --json, in the cell arrays of the exports and for --map
  const char* label;  // in the report
  bool low_is_worst;  // the worst cell has the smallest value
  double worst;       // the value of a degenerate cell (not for the area)
  bool boundary;      // only cells with a boundary face have it (0 on the others)
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
inline constexpr std::array<FlagInfo, 3> kFlags = {
    {{kInverted, "inverted"}, {kConcave, "concave"}, {kDegenerate, "degenerate"}}};
inline const std::array<FlagInfo, 3>& flag_table() {
  return kFlags;
}

// The measures of one cell, all of them, and the cosines of the interior
// faces it owns (its ksi+ and eta+ faces, whose neighbour has the higher
// volume number: the owner in checkMesh's sense), for the face summary.
struct CellQuality {
  std::array<double, kMetricCount> value;  // indexed by Metric
  std::uint8_t flags;                      // kInverted, kConcave, kDegenerate
  bool on_boundary;                        // a face of the cell is on the boundary
  int owned_faces;                         // 0 to 2, their cosines first in owned_cosine
  std::array<double, 2> owned_cosine;      // NaN for a degenerate face
};

// The table of all cells, by two threads; or its storage, filled row by row.
CellTable measure_cells(const Mesh& mesh);
CellTable sized_cell_table(const Mesh& mesh);
void measure_rows(const Mesh& mesh, CellTable& table, std::int32_t first_row,
                  std::int32_t last_row);

// What a walk over rows keeps of the interior faces it has measured: the
// face a cell shares with the cell before it in its row and those it shares
// with the row below, measured from that cell, their owner, so that every
// interior face is measured once.
struct FaceCache {
  std::int32_t first_row = 1;    // of the walk: the row below it is not kept
  std::vector<OwnedFace> below;  // the eta+ faces of the row before, by i
  OwnedFace before{};            // the ksi+ face of the cell before
};

// The measures of cell (i, j), all of them, or one; one value is the same
// double either way, and with a cache or without.
CellQuality measure_cell(const Mesh& mesh, const CellTable& cells, std::int32_t i, std::int32_t j,
                         FaceCache* cache = nullptr);
double cell_value(const Mesh& mesh, const CellTable& cells, Metric metric, std::int32_t i,
                  std::int32_t j);

// Calls visit(CellRef, CellQuality) for every cell of rows first_row to
// last_row in volume order (ksi fastest).
template <class Visit>
void for_each_cell(const Mesh& mesh, const CellTable& cells, std::int32_t first_row,
                   std::int32_t last_row, Visit&& visit) {
  FaceCache cache{first_row, std::vector<OwnedFace>(static_cast<std::size_t>(mesh.nx)), {}};
  for (std::int32_t j = first_row; j <= last_row; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i)
      visit(CellRef{mesh.volume(i, j), i, j}, measure_cell(mesh, cells, i, j, &cache));
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
      visit(CellRef{mesh.volume(i, j), i, j}, cell_value(mesh, cells, metric, i, j));
}

// Where a cell is shown: its centroid, or the mean of its corners where it
// has none (a degenerate cell).
struct Location {
  double x, y;
};
Location cell_location(const Mesh& mesh, const CellTable& cells, std::int64_t volume);

// Runs part(half, first_row, last_row) for the two halves of rows 1 to rows,
// the second on the program's helper thread when there is one.
void on_two_threads(std::int32_t rows,
                    const std::function<void(int, std::int32_t, std::int32_t)>& part);

}  // namespace malha::report

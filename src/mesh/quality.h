// Mesh quality and the distance of a mesh from its smoothing equations: what
// the run summary, the warnings and the report program tell a user about a
// mesh. Nothing here changes the mesh or the files written from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "mesh/processamento.h"

namespace malha {

// Shape of one quadrilateral volume, corners 1 to 4 in the order of the
// connectivity table (counter-clockwise for a valid volume):
// (i, j), (i+1, j), (i+1, j+1), (i, j+1).
struct CellShape {
  double area;  // triangles (1, 2, 3) + (1, 3, 4), as the area file has it (frame)
  double shortest_edge;
  double longest_edge;
  double angle_deviation;  // largest |corner angle - 90| in degrees
  double smallest_turn;    // smallest corner_turn over the four corners
};
CellShape cell_shape(const double x[4], const double y[4], AreaFrame frame = AreaFrame::Region);

// The cross product at corner c of the edge coming in and the edge going
// out, (p[c] - p[c-1]) x (p[c+1] - p[c]): positive where the boundary turns
// counter-clockwise, as at every corner of a convex counter-clockwise cell;
// twice the signed area of the triangle of the corner and its two neighbours.
inline double corner_turn(const double x[4], const double y[4], int c) {
  const int previous = (c + 3) % 4, next = (c + 1) % 4;
  const double ix = x[c] - x[previous], iy = y[c] - y[previous];
  const double ox = x[next] - x[c], oy = y[next] - y[c];
  return ix * oy - iy * ox;
}
double smallest_corner_turn(const double x[4], const double y[4]);

// Inverted: the area is 0 or less (the corners run clockwise, or the cell
// has collapsed). Concave: a corner turns clockwise or not at all (a corner
// of 180 degrees or more, a zero-length edge); every inverted cell is also
// concave, since the four turns add up to four times the area. Both rules
// hold for whatever is not a number, so that nothing slips through.
inline bool is_inverted(double area) {
  return !(area > 0.0);
}
inline bool is_concave(double smallest_turn) {
  return !(smallest_turn > 0.0);
}

// Where a volume is: v = (j-1)*nx + i.
struct CellRef {
  std::int64_t volume = 0;
  std::int32_t i = 0;
  std::int32_t j = 0;
};

// How many cells are listed by name, in the warnings and in the report.
inline constexpr std::size_t kListedCells = 5;

// The cells of one kind: how many, and the worst kListedCells of them in the
// one order of both programs, the smallest area first and, on equal areas,
// the lower volume number first. No storage is allocated.
class CellList {
 public:
  struct Entry {
    CellRef cell;
    double area = 0.0;
  };
  // Cells may come in any order, and lists of parts may be joined.
  void add(const CellRef& cell, double area);
  void join(const CellList& other);

  std::int64_t count() const { return count_; }
  std::size_t listed() const { return listed_; }
  const Entry& operator[](std::size_t k) const { return worst_[k]; }
  const Entry* begin() const { return worst_.data(); }
  const Entry* end() const { return worst_.data() + listed_; }

 private:
  void keep(const Entry& e);
  std::int64_t count_ = 0;
  std::size_t listed_ = 0;
  std::array<Entry, kListedCells> worst_{};
};

// The inverted and the concave cells of a mesh.
struct BadCells {
  CellList inverted, concave;
  void add(const CellRef& cell, double area, double smallest_turn) {
    if (is_inverted(area)) inverted.add(cell, area);
    if (is_concave(smallest_turn)) concave.add(cell, area);
  }
};

struct MeshQuality {
  std::int64_t cells = 0;
  double smallest_area = 0.0;
  CellRef smallest_area_cell;
  double largest_area = 0.0;
  CellRef largest_area_cell;
  double largest_angle_deviation = 0.0;
  CellRef worst_angle_cell;
  double shortest_edge = 0.0;
  BadCells bad;
};

// Over the nx by ny volumes of a mesh whose vertex (i, j) is xv[k-1], yv[k-1]
// with k = (j-1)*(nx+1) + i. Degenerate volumes give infinities or NaNs here,
// never a floating-point trap. The areas are those of the area file: a
// graded mesh's from the first corner (area_frame).
MeshQuality measure_mesh(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny,
                         AreaFrame frame = AreaFrame::Region);

// Only the inverted and concave volumes: a small fraction of the cost of
// measure_mesh, for a check made on every run.
BadCells find_bad_cells(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny,
                        AreaFrame frame = AreaFrame::Region);

}  // namespace malha

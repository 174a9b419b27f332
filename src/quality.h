// Mesh quality and the distance of a mesh from its smoothing equations: what
// the run summary, the warnings and the report program tell a user about a
// mesh. Nothing here changes the mesh or the files written from it.
#pragma once

#include <cstdint>

namespace malha {

// Shape of one quadrilateral volume, corners 1 to 4 in the order of the
// connectivity table (counter-clockwise for a valid volume):
// (i, j), (i+1, j), (i+1, j+1), (i, j+1).
struct CellShape {
  double area;       // triangle1 + triangle2, as the area file has it
  double triangle1;  // signed area of corners (1, 2, 3)
  double triangle2;  // signed area of corners (1, 3, 4)
  double shortest_edge;
  double longest_edge;
  double angle_deviation;  // largest |corner angle - 90| in degrees
};
CellShape cell_shape(const double x[4], const double y[4]);

// A volume whose area is negative, or one of whose two triangles has an area
// that is not positive: folded over its diagonal, inverted or collapsed.
bool is_folded(const CellShape& c);

// Where a volume is: v = (j-1)*nx + i.
struct CellRef {
  std::int64_t volume = 0;
  std::int32_t i = 0;
  std::int32_t j = 0;
};

// The folded volumes of a mesh (is_folded): how many, and the worst one.
struct FoldedCells {
  std::int64_t count = 0;
  CellRef worst;            // the folded volume with the smallest triangle
  double worst_area = 0.0;  // its area
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
  FoldedCells folded;
};

// Over the nx by ny volumes of a mesh whose vertex (i, j) is xv[k-1], yv[k-1]
// with k = (j-1)*(nx+1) + i. Degenerate volumes give infinities or NaNs here,
// never a floating-point trap.
MeshQuality measure_mesh(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny);

// Only the folded volumes, from the two triangle areas of each: a small
// fraction of the cost of measure_mesh, for a check made on every run.
FoldedCells find_folded(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny);

// How far a mesh is from solving its smoothing equations: the largest move
// one point update would make, over the interior vertices and over u = x and
// u = y, |sum of a_nb*u_nb - ap*u| / |ap|, with the metric terms and the
// coefficients computed from this mesh as an outer smoothing pass computes
// them (source terms zero). A converged mesh gives a move near rounding.
struct ConvergenceFigure {
  bool defined = false;        // false when the mesh has no interior vertex
  double largest_move = 0.0;   // infinite or NaN on a degenerate mesh
  std::int64_t vertex = 0;     // the vertex k where it is
  double smallest_edge = 0.0;  // the shortest edge of the mesh
  double relative = 0.0;       // largest_move / smallest_edge
};

// Row by row, without storage of its own; never a floating-point trap.
ConvergenceFigure convergence_figure(const double* xv, const double* yv, std::int32_t nxv,
                                     std::int32_t nyv, double dksi, double deta);

}  // namespace malha

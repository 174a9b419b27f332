// The six sides of the region's boundary, named by their place in the (i, j)
// structure of the mesh, not by coordinates, so that an odd nx (whose right
// end leans past x = 1) has them all the same:
//
//   left, bottom           face 1 of the cells of row j = 1, on the left arm
//                          (i < m) and on the bottom arm (i >= m);
//   reentrant_vertical,    face 3 of the cells of row j = ny, on the left arm
//   reentrant_horizontal   and on the bottom arm;
//   top                    face 4 of the cells of column i = 1;
//   right                  face 2 of the cells of column i = nx;
//
// with m = (nx + 2) / 2 the vertex line from the corner (0, 0) to the
// re-entrant corner (0.5, 0.5), and face f of a cell running from its corner
// f to corner f + 1 (corners (i, j), (i+1, j), (i+1, j+1), (i, j+1)). Every
// export names them so, and so does the report.
#pragma once

#include <array>
#include <cstdint>

#include "report/case_data.h"

namespace malha::report {

enum class Side : std::uint8_t { Left, Bottom, ReentrantVertical, ReentrantHorizontal, Top, Right };
inline constexpr int kSideCount = 6;

// The sides in the order above; key is the name every file uses.
struct SideInfo {
  Side side;
  const char* key;
};
const std::array<SideInfo, kSideCount>& side_table();
const char* side_key(Side side);
inline std::size_t side_index(Side side) {
  return static_cast<std::size_t>(side);
}

// The first cell column of the bottom arm: m above.
inline std::int32_t first_bottom_arm_column(std::int32_t nx) {
  return (nx + 2) / 2;
}

// The cells that have a face on a side: columns first_i..last_i of rows
// first_j..last_j (one row or one column), and the face number they share.
struct SideCells {
  std::int32_t first_i, last_i, first_j, last_j;
  int face;  // 1 to 4

  std::int64_t faces() const {
    return static_cast<std::int64_t>(last_i - first_i + 1) * (last_j - first_j + 1);
  }
  bool holds(std::int32_t i, std::int32_t j) const {
    return i >= first_i && i <= last_i && j >= first_j && j <= last_j;
  }
};
SideCells side_cells(const Mesh& mesh, Side side);

// A face on the boundary: cell (i, j), and the vertices (i, j) of its two
// ends in the cell's counter-clockwise order, so that the region lies to the
// left of a -> b and the outward normal is (yb - ya, -(xb - xa)).
struct BoundaryFace {
  std::int32_t i, j;
  std::int32_t ai, aj, bi, bj;
};
BoundaryFace boundary_face(std::int32_t i, std::int32_t j, int face);

// Calls visit(BoundaryFace) for every face of the side, in the order of the
// cells along it (i, or j, increasing).
template <class Visit>
void for_each_side_face(const Mesh& mesh, Side side, Visit&& visit) {
  const SideCells c = side_cells(mesh, side);
  for (std::int32_t j = c.first_j; j <= c.last_j; ++j)
    for (std::int32_t i = c.first_i; i <= c.last_i; ++i) visit(boundary_face(i, j, c.face));
}

// The faces of all six sides.
std::int64_t boundary_face_count(const Mesh& mesh);

// The length of a side: the sum of its faces' lengths.
double side_length(const Mesh& mesh, Side side);

}  // namespace malha::report

#include "report/measures/sides.h"

#include <cmath>

namespace malha::report {

namespace {

// Corner k (1 to 4) of cell (i, j) as a vertex (i, j).
constexpr std::array<std::array<std::int32_t, 2>, 4> kCornerOffset = {
    {{0, 0}, {1, 0}, {1, 1}, {0, 1}}};

}  // namespace

const std::array<SideInfo, kSideCount>& side_table() {
  static const std::array<SideInfo, kSideCount> table = {{
      {Side::Left, "left"},
      {Side::Bottom, "bottom"},
      {Side::ReentrantVertical, "reentrant_vertical"},
      {Side::ReentrantHorizontal, "reentrant_horizontal"},
      {Side::Top, "top"},
      {Side::Right, "right"},
  }};
  return table;
}

const char* side_key(Side side) {
  return side_table()[side_index(side)].key;
}

SideCells side_cells(const Mesh& mesh, Side side) {
  const std::int32_t m = first_bottom_arm_column(mesh.nx);
  switch (side) {
    case Side::Left:
      return {1, m - 1, 1, 1, 1};
    case Side::Bottom:
      return {m, mesh.nx, 1, 1, 1};
    case Side::ReentrantVertical:
      return {1, m - 1, mesh.ny, mesh.ny, 3};
    case Side::ReentrantHorizontal:
      return {m, mesh.nx, mesh.ny, mesh.ny, 3};
    case Side::Top:
      return {1, 1, 1, mesh.ny, 4};
    case Side::Right:
      break;
  }
  return {mesh.nx, mesh.nx, 1, mesh.ny, 2};
}

BoundaryFace boundary_face(std::int32_t i, std::int32_t j, int face) {
  const auto& a = kCornerOffset[static_cast<std::size_t>(face - 1)];
  const auto& b = kCornerOffset[static_cast<std::size_t>(face % 4)];
  return {i, j, i + a[0], j + a[1], i + b[0], j + b[1]};
}

std::int64_t boundary_face_count(const Mesh& mesh) {
  std::int64_t n = 0;
  for (const SideInfo& s : side_table()) n += side_cells(mesh, s.side).faces();
  return n;
}

double side_length(const Mesh& mesh, Side side) {
  double length = 0.0;
  for_each_side_face(mesh, side, [&](const BoundaryFace& f) {
    const std::size_t a = mesh.at(f.ai, f.aj), b = mesh.at(f.bi, f.bj);
    length += std::hypot(mesh.xv[b] - mesh.xv[a], mesh.yv[b] - mesh.yv[a]);
  });
  return length;
}

}  // namespace malha::report

// Whether the mesh of the files is one of the L-shaped region malha meshes:
// the region is [0, 1] x [0, 1] less (0.5, 1] x (0.5, 1], of area 0.75. Files
// that agree with each other can still hold another shape (a mesh wound
// round an annulus, one an odd nx leans out of the region by); this says so
// in the verdict.
#pragma once

#include <string>

#include "report/case_data.h"

namespace malha::report {

// The region's area, and how far a sum of the cells' areas may be from it:
// rounding of the written vertices and of the sum, far below any shape that
// is not the region.
inline constexpr double kRegionArea = 0.75;
inline constexpr double kRegionAreaAgreement = 1e-9;
// How far a vertex of a side may be off its line (the sides' vertices are
// written from the same closed formulas every run: their lines exactly).
inline constexpr double kSideAgreement = 1e-12;

// What keeps the mesh from being the region's, "" when nothing does: the
// first vertex of a side off its place ("the right side: vertex (42, 21) at
// (1.025, 0.5), not on x = 1 with y from 0 to 0.5"), and a total area that
// is not 0.75; with the reason an odd nx gives.
std::string region_fault(const Mesh& mesh, const CellTable& cells);

}  // namespace malha::report

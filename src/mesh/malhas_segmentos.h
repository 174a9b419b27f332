// The algebraic mesh of the L-shaped region, its connectivity tables, and its
// grading toward the re-entrant corner.
#pragma once

#include <cstdint>
#include <string>

#include "variaveis.h"

namespace malha {

// Places every vertex by the closed formulas of the L-shaped region and fills
// conn and the real-volume rows of connf. Needs nx >= 2 and ny >= 1.
void build_algebraic_mesh(MeshState& s);

// The grading exponent of "--grade" without a value, and the range it may
// take: 1 leaves the mesh as built; beyond 4 the cells at the corner shrink
// far faster than the error of a corner singularity needs.
inline constexpr double kGradingDefault = 2.0;
inline constexpr double kGradingLeast = 1.0;
inline constexpr double kGradingMost = 4.0;

// Why a mesh of nx by ny volumes cannot be graded with exponent `gamma`, ""
// when it can: an odd nx (its mesh leans beyond the region, whose corner
// rays the grading follows), or sizes that would bring the vertices nearest
// the corner closer to it than the coordinates can tell apart.
std::string grading_refusal(std::int32_t nx, std::int32_t ny, double gamma);

// Grades the algebraic mesh toward the re-entrant corner C = (0.5, 0.5)
// with exponent s.grading (nothing when it is 1): every vertex moves along its
// ray from C, the cells at C shrinking like h^gamma; the outer boundary stays
// to the bit, the vertices of the re-entrant edges slide along them towards
// C (grading.cpp tells the map). Needs a grading that grading_refusal
// accepts.
void grade_toward_corner(MeshState& s);

// The cells of an nx by ny mesh (vertex (i, j) at index (j-1)(nx+1) + i - 1)
// that have a corner angle of less than 2.87 degrees, or more than 177.13,
// or turned inside out: folded, collapsed, concave or nearly so.
std::int64_t count_bent_cells(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny);

// After grade_toward_corner: why the graded mesh cannot be used, "" when it
// can. A strong grading of a mesh whose cells at the corner are long and thin
// (ny far above nx/2) can fold some of them; the text then names the largest
// exponent that does not. Rebuilds the mesh to find it, so the mesh is
// spoilt when the answer is not "".
std::string graded_cells_refusal(MeshState& s);

// After the smoothing of a graded mesh: why the smoothed mesh cannot be
// used, "" when it can (or when nothing was graded or smoothed). The first
// smoothing pass, with the metric terms of the graded mesh frozen, can leave
// a cell at the corner bent, which later passes mend: the text asks for more
// passes, or (`converged`) for a smaller exponent.
std::string graded_smoothing_refusal(const MeshState& s, bool converged);

}  // namespace malha

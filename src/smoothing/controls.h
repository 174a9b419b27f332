// Control functions of the smoothing (malha --control): the source terms P
// and Q of the grid equations (coef.h), computed once from the starting mesh
// and kept in psrc and qsrc for every pass.
//
// Why they are needed. The computational line j = 1 is straight while the
// region's outer boundary turns by 90 degrees at (0, 0). Without sources the
// equations make x and y harmonic functions of ksi and eta, and near a
// boundary point where the region has a convex right angle a harmonic map
// from the straight line opens like a square root: the first row of cells
// sits about sqrt(h) from the corner instead of h, and the cells there are
// the largest of the mesh (the solvers' error gathers in them).
//
// What they do. Near (0, 0) the sources are those that make a designed
// corner mesh an exact solution of the discrete equations; that mesh is
// self-similar about the corner:
//   its rows are the level lines of eta*(x, y) = x y / sqrt(x^2 + y^2), which
//   run parallel to the two sides at the row's distance e from them and cut
//   the corner line at distance 2 e from (0, 0) (sqrt(2) times the
//   algebraic mesh's);
//   its columns are the level lines of ksi*(x, y) = (x^5 - y^5)/(x^4 + y^4),
//   which leave both sides at right angles and reach the corner line at
//   45 degrees: the ksi and eta lines cross at 64 degrees or more.
// The labels are the starting mesh's: a vertex's ksi* is the signed distance
// along the outer boundary of its column's boundary vertex from (0, 0)
// (negative on the left side), its eta* the distance of its row's vertex on
// the corner line from (0, 0) over sqrt(2). Graded and odd-nx meshes keep
// their own distributions so.
//
// Away from the corner the sources fade out, so that the mesh keeps the
// smoothing's orthogonality inside: P (which bends the columns to meet the
// outer boundary at right angles) over the first 60 % of the rows, Q (which
// holds the rows near the corner) within 0.3 of (0, 0) and, on every mesh,
// on the first rows. Near the re-entrant corner the equations are those
// without sources.
#pragma once

#include "variaveis.h"

namespace malha {

// Fills psrc and qsrc at the interior vertices (0 on the boundary) from the
// current coordinates, which must be those of the starting mesh, and the
// spacings dksi and deta. Group B must be allocated.
void fill_controls(MeshState& s);

// The point of the corner mesh whose labels are ksi* = xi and eta* = eta
// (eta > 0): found by halving the angle's half-tangent 64 times, with + - * /
// only, so that every platform gives the same bits.
struct ControlPoint {
  double x, y;
};
ControlPoint corner_mesh_point(double xi, double eta);

}  // namespace malha

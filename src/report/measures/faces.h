// The measures of one face of a cell, between the cell's centroid c and the
// centre across the face (the neighbour's centroid, or on the boundary the
// ghost centre malha writes in the ring of CASE_cent_fict.txt). A face runs
// from a to b counter-clockwise around the cell, so its outward normal is
// S = (b_y - a_y, -(b_x - a_x)). These are the definitions of the
// finite-volume mesh checker of OpenFOAM (checkMesh) on the one-cell-thick
// copy of the mesh.
#pragma once

#include <cstdint>

#include "report/case_data.h"

namespace malha::report {

struct Point {
  double x, y;
};

// An interior face as its owner sees it (the cell with the lower volume
// number, as checkMesh takes it): the cosine below, the same from either
// side to the bit, and the skewness, which is not.
struct OwnedFace {
  double cosine, skewness;
};
OwnedFace owned_face(Point owner, Point other, Point a, Point b);

// The cosine of the angle between d = n - c and S, clamped to [-1, 1]; NaN
// for a face of zero length or a centre line of zero length.
double face_cosine(Point c, Point n, Point a, Point b);

// The angle in degrees of a cosine; a NaN counts as the worst, 180.
double angle_of(double cosine);

// checkMesh's skewness of an interior face: the distance from the face
// centre m = (a + b) / 2 to the point where the centre line c-n crosses the
// face, sv = (m - c) - ((S . (m - c)) / (S . d)) d, over the larger of
// 0.2 |d| and the extent of the face along sv, |sv . (b - a)| / (2 |sv|).
// 0 when the centre line runs through the face centre; kUnbounded for a
// face of length zero or a centre line along the face.
double interior_skewness(Point c, Point n, Point a, Point b);

// checkMesh's skewness of a boundary face: the same with d the component of
// m - c along the face normal, so that sv is the offset of the face centre
// from the foot of the normal through c, and 0.4 |d| for 0.2 |d| (the share
// of the line to the centre mirrored across the face).
double boundary_skewness(Point c, Point a, Point b);

// The ghost centre across side `side` (0 eta-, 1 ksi+, 2 eta+, 3 ksi-) of
// cell (i, j), a boundary side from a to b: the centre of the fictitious
// volume of the ring there, as malha writes it in CASE_cent_fict.txt: the
// ring's formulas (ring_centre), except across the re-entrant edges of an
// even nx, where it is the middle of the face, as malha puts it on a graded
// mesh (on a mesh that is not graded the two are the same point).
Point ghost_centre(const Mesh& mesh, std::int32_t i, std::int32_t j, int side, Point a, Point b);

}  // namespace malha::report

// Post-processing: areas, centroids, the fictitious ring and the neighbour table.
#pragma once

#include "variaveis.h"

namespace malha {

// A volume is split along the diagonal from corner 1 to corner 3 into the
// triangles T1 = (1, 2, 3) and T2 = (1, 3, 4); its area is a2 + a1. These are
// the signed areas (positive counter-clockwise) of the two triangles, in the
// operations the area file is computed with.
inline double triangle_area_123(double x1, double y1, double x2, double y2, double x3, double y3) {
  return 0.5 * ((x1 - x3) * y2 + (y3 - y1) * x2 - y3 * x1 + x3 * y1);
}
inline double triangle_area_134(double x1, double y1, double x3, double y3, double x4, double y4) {
  return 0.5 * ((x1 - x4) * y3 + (x4 - x3) * y1 + (x3 - x1) * y4);
}

// Signed area and centroid of every real volume, and the centre of every
// volume of the extended numbering, fictitious ring included.
void compute_centroids(MeshState& s);

// Fills nbr: the eta-minus, ksi-plus, eta-plus and ksi-minus neighbours of
// every real volume, 0 on the boundary.
void number_neighbours(MeshState& s);

}  // namespace malha

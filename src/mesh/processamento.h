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

// Signed area and centroid of the volume with corners (x[c], y[c]), c = 0..3:
// the area-weighted mean of the centres of T1 and T2, the sums multiplied by
// the double nearest one third. The area and centroid files hold these.
struct VolumeCentroid {
  double area, xc, yc;
};
inline VolumeCentroid volume_centroid(const double x[4], const double y[4]) {
  constexpr double kThird = 1.0 / 3.0;
  const double xg1 = (x[1] + x[2] + x[0]) * kThird;
  const double yg1 = (y[1] + y[2] + y[0]) * kThird;
  const double a1 = triangle_area_123(x[0], y[0], x[1], y[1], x[2], y[2]);
  const double xg2 = (x[2] + x[3] + x[0]) * kThird;
  const double yg2 = (y[2] + y[3] + y[0]) * kThird;
  const double a2 = triangle_area_134(x[0], y[0], x[2], y[2], x[3], y[3]);
  const double area = a2 + a1;
  const double r = 1.0 / area;
  return {area, (a1 * xg1 + a2 * xg2) * r, (a1 * yg1 + a2 * yg2) * r};
}

// Where the formulas above take their coordinates from. They multiply
// coordinates, so that their rounding is that of the coordinates' squares,
// about 1e-17 in this region, whatever the cell's size: nothing beside the
// area of a cell of an ungraded mesh, which keeps them (and its files their
// bytes). A graded mesh's cells at the re-entrant corner are far smaller
// (down to 1e-25 in area) and would get areas of the wrong sign: its areas
// and centroids are computed from the corners' offsets from corner 1, whose
// rounding is that of the cell.
enum class AreaFrame { Region, FirstCorner };

inline AreaFrame area_frame(const MeshState& s) {
  return s.grading == 1.0 ? AreaFrame::Region : AreaFrame::FirstCorner;
}

inline VolumeCentroid volume_centroid(const double x[4], const double y[4], AreaFrame frame) {
  if (frame == AreaFrame::Region) return volume_centroid(x, y);
  const double dx[4] = {0.0, x[1] - x[0], x[2] - x[0], x[3] - x[0]};
  const double dy[4] = {0.0, y[1] - y[0], y[2] - y[0], y[3] - y[0]};
  const VolumeCentroid g = volume_centroid(dx, dy);
  return {g.area, x[0] + g.xc, y[0] + g.yc};
}

// The area alone, a2 + a1 as above.
inline double volume_area(const double x[4], const double y[4], AreaFrame frame) {
  if (frame == AreaFrame::Region)
    return triangle_area_134(x[0], y[0], x[2], y[2], x[3], y[3]) +
           triangle_area_123(x[0], y[0], x[1], y[1], x[2], y[2]);
  const double x1 = x[1] - x[0], y1 = y[1] - y[0], x2 = x[2] - x[0], y2 = y[2] - y[0];
  const double x3 = x[3] - x[0], y3 = y[3] - y[0];
  return triangle_area_134(0.0, 0.0, x2, y2, x3, y3) + triangle_area_123(0.0, 0.0, x1, y1, x2, y2);
}

// Signed area and centroid of every real volume, and the centre of every
// volume of the extended numbering, fictitious ring included: ring_centre,
// but on a graded mesh the ghosts across the re-entrant edges at the
// midpoints of the graded faces.
void compute_centroids(MeshState& s);

// The centre of the fictitious volume (I, J) of the ring around an nx by ny
// mesh, I = 1 or nx + 2, or J = 1 or ny + 2, in the extended numbering: the
// midpoint of the boundary face it lies across, on an even nx, from closed
// formulas of the region that do not look at the vertices (on an odd nx the
// mesh leans past them); (0, 1), (1, 0), (0.5, 1), (1, 0.5) at the corners.
// The ghost centre a boundary flux of a solver uses.
struct RingCentre {
  double x, y;
};
RingCentre ring_centre(std::int32_t I, std::int32_t J, std::int32_t nx, std::int32_t ny);

// Fills nbr: the eta-minus, ksi-plus, eta-plus and ksi-minus neighbours of
// every real volume, 0 on the boundary.
void number_neighbours(MeshState& s);

}  // namespace malha

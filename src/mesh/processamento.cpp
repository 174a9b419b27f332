#include "mesh/processamento.h"

namespace malha {

namespace {

void set_ring(MeshState& s, std::int32_t I, std::int32_t J, const RingCentre& c) {
  const std::int64_t w = static_cast<std::int64_t>(J - 1) * s.nxf + I;
  s.xcf(w) = c.x;
  s.ycf(w) = c.y;
}

// The ghosts across the re-entrant edges of a graded mesh at the midpoints
// of its graded faces: the closed formulas of the ring (ring_centre) place
// them at the midpoints of the ungraded mesh's faces, which grading moves.
// The one place where the ring looks at the vertices.
void place_graded_reentrant_ghosts(MeshState& s) {
  // The ghost (I, nyf) is across the face of volume (I - 1, ny) that runs
  // between vertices (I - 1, nyv) and (I, nyv) of the re-entrant boundary.
  const std::int64_t row = static_cast<std::int64_t>(s.nyv - 1) * s.nxv;
  const std::int64_t ring_row = static_cast<std::int64_t>(s.nyf - 1) * s.nxf;
  for (std::int32_t I = 2; I <= s.nxf - 1; ++I) {
    const std::int64_t a = row + I - 1;
    const std::int64_t b = row + I;
    s.xcf(ring_row + I) = 0.5 * (s.xv(a) + s.xv(b));
    s.ycf(ring_row + I) = 0.5 * (s.yv(a) + s.yv(b));
  }
}

}  // namespace

void compute_centroids(MeshState& s) {
  const std::int32_t nx = s.nx;
  const std::int32_t ny = s.ny;
  const std::int32_t nxf = s.nxf;
  const std::int32_t nyf = s.nyf;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();
  const AreaFrame frame = area_frame(s);

  // Real volumes: split along the diagonal from corner 1 to corner 3 into
  // T1 = (1, 2, 3) and T2 = (1, 3, 4); the centroid is the area-weighted mean
  // of the two triangle centres. Areas are signed (positive counter-clockwise).
  for (std::int32_t j = 1; j <= ny; ++j) {
    for (std::int32_t i = 1; i <= nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * nx + i;
      double x[4], y[4];
      for (int c = 0; c < 4; ++c) {
        x[c] = xv[s.conn(v, c + 1) - 1];
        y[c] = yv[s.conn(v, c + 1) - 1];
      }
      const VolumeCentroid g = volume_centroid(x, y, frame);
      s.area(v) = g.area;
      s.xc(v) = g.xc;
      s.yc(v) = g.yc;
      const std::int64_t w = static_cast<std::int64_t>(j) * nxf + i + 1;
      s.xcf(w) = s.xc(v);
      s.ycf(w) = s.yc(v);
    }
  }

  // Fictitious ring, every volume of it.
  for (std::int32_t I = 1; I <= nxf; ++I)
    for (std::int32_t J : {1, nyf}) set_ring(s, I, J, ring_centre(I, J, nx, ny));
  for (std::int32_t J = 2; J <= nyf - 1; ++J)
    for (std::int32_t I : {1, nxf}) set_ring(s, I, J, ring_centre(I, J, nx, ny));
  if (s.grading != 1.0) place_graded_reentrant_ghosts(s);
}

RingCentre ring_centre(std::int32_t I, std::int32_t J, std::int32_t nx, std::int32_t ny) {
  // Closed formulas of the region, independent of the vertices. Rows a-d
  // are the midpoints of the outer and inner boundary faces, e and f those of
  // the top and right sides, g the four corners.
  const std::int32_t nxf = nx + 2, nyf = ny + 2;
  const std::int32_t m = nxf / 2;
  const double h = 1.0 / static_cast<double>(m - 1);
  const double h2 = 0.5 / static_cast<double>(m - 1);
  const double hy = 0.5 / static_cast<double>(ny);
  const bool first_column = I == 1, last_column = I == nxf;
  if (J == 1) {
    if (first_column) return {0.0, 1.0};  // g: corners
    if (last_column) return {1.0, 0.0};
    if (I <= m) return {0.0, 1.0 - (static_cast<double>(I) - 1.5) * h};  // a: outer, vertical leg
    return {(static_cast<double>(I - m) - 0.5) * h, 0.0};  // b: outer boundary, horizontal leg
  }
  if (J == nyf) {
    if (first_column) return {0.5, 1.0};
    if (last_column) return {1.0, 0.5};
    if (I <= m) return {0.5, 1.0 - (static_cast<double>(I) - 1.5) * h2};  // c: inner, vertical leg
    return {0.5 + (static_cast<double>(I - m) - 0.5) * h2, 0.5};  // d: inner, horizontal leg
  }
  if (first_column) return {(static_cast<double>(J) - 1.5) * hy, 1.0};  // e: top side
  return {1.0, (static_cast<double>(J) - 1.5) * hy};                    // f: right side
}

void number_neighbours(MeshState& s) {
  const std::int32_t nx = s.nx;
  const std::int32_t ny = s.ny;
  for (std::int32_t j = 1; j <= ny; ++j) {
    for (std::int32_t i = 1; i <= nx; ++i) {
      const std::int32_t v = (j - 1) * nx + i;
      s.nbr(1, v) = j > 1 ? v - nx : 0;
      s.nbr(2, v) = i < nx ? v + 1 : 0;
      s.nbr(3, v) = j < ny ? v + nx : 0;
      s.nbr(4, v) = i > 1 ? v - 1 : 0;
    }
  }
}

}  // namespace malha

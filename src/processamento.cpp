#include "processamento.h"

namespace malha {

namespace {

void set_ring(MeshState& s, std::int32_t I, std::int32_t J, double x, double y) {
  const std::int64_t w = static_cast<std::int64_t>(J - 1) * s.nxf + I;
  s.xcf(w) = x;
  s.ycf(w) = y;
}

}  // namespace

void compute_centroids(MeshState& s) {
  const std::int32_t nx = s.nx;
  const std::int32_t ny = s.ny;
  const std::int32_t nxf = s.nxf;
  const std::int32_t nyf = s.nyf;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();

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
      const VolumeCentroid g = volume_centroid(x, y);
      s.area(v) = g.area;
      s.xc(v) = g.xc;
      s.yc(v) = g.yc;
      const std::int64_t w = static_cast<std::int64_t>(j) * nxf + i + 1;
      s.xcf(w) = s.xc(v);
      s.ycf(w) = s.yc(v);
    }
  }

  // Fictitious ring: closed formulas of the region, independent of the
  // vertices. Rows a-d are the midpoints of the outer and inner boundary
  // faces, e and f those of the top and right sides, g the four corners.
  const std::int32_t m = nxf / 2;
  const double h = 1.0 / static_cast<double>(m - 1);
  const double h2 = 0.5 / static_cast<double>(m - 1);
  const double hy = 0.5 / static_cast<double>(ny);

  for (std::int32_t I = 2; I <= m; ++I)  // a: outer boundary, vertical leg
    set_ring(s, I, 1, 0.0, 1.0 - (static_cast<double>(I) - 1.5) * h);
  for (std::int32_t I = m + 1; I <= nxf - 1; ++I)  // b: outer boundary, horizontal leg
    set_ring(s, I, 1, (static_cast<double>(I - m) - 0.5) * h, 0.0);
  for (std::int32_t I = 2; I <= m; ++I)  // c: inner boundary, vertical leg
    set_ring(s, I, nyf, 0.5, 1.0 - (static_cast<double>(I) - 1.5) * h2);
  for (std::int32_t I = m + 1; I <= nxf - 1; ++I)  // d: inner boundary, horizontal leg
    set_ring(s, I, nyf, 0.5 + (static_cast<double>(I - m) - 0.5) * h2, 0.5);
  for (std::int32_t J = 2; J <= nyf - 1; ++J)  // e: top side
    set_ring(s, 1, J, (static_cast<double>(J) - 1.5) * hy, 1.0);
  for (std::int32_t J = 2; J <= nyf - 1; ++J)  // f: right side
    set_ring(s, nxf, J, 1.0, (static_cast<double>(J) - 1.5) * hy);
  set_ring(s, 1, 1, 0.0, 1.0);  // g: corners
  set_ring(s, nxf, 1, 1.0, 0.0);
  set_ring(s, 1, nyf, 0.5, 1.0);
  set_ring(s, nxf, nyf, 1.0, 0.5);
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

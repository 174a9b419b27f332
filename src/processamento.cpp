#include "processamento.h"

namespace malha {

namespace {

// The double nearest one third: triangle centres are sums multiplied by it.
constexpr double kThird = 1.0 / 3.0;

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
      const double x1 = xv[s.conn(v, 1) - 1], y1 = yv[s.conn(v, 1) - 1];
      const double x2 = xv[s.conn(v, 2) - 1], y2 = yv[s.conn(v, 2) - 1];
      const double x3 = xv[s.conn(v, 3) - 1], y3 = yv[s.conn(v, 3) - 1];
      const double x4 = xv[s.conn(v, 4) - 1], y4 = yv[s.conn(v, 4) - 1];

      const double xg1 = (x2 + x3 + x1) * kThird;
      const double yg1 = (y2 + y3 + y1) * kThird;
      const double a1 = triangle_area_123(x1, y1, x2, y2, x3, y3);
      const double xg2 = (x3 + x4 + x1) * kThird;
      const double yg2 = (y3 + y4 + y1) * kThird;
      const double a2 = triangle_area_134(x1, y1, x3, y3, x4, y4);

      const double area = a2 + a1;
      const double r = 1.0 / area;
      s.area(v) = area;
      s.xc(v) = (a1 * xg1 + a2 * xg2) * r;
      s.yc(v) = (a1 * yg1 + a2 * yg2) * r;
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

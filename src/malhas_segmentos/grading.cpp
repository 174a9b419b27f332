// The grading toward the re-entrant corner C = (0.5, 0.5).
//
// Every vertex moves along its ray from C, its offset from C scaled by
// w(u): u is how far the vertex lies from C, measured so that u = 1 on a
// rounded square about C (a superellipse, |dx|^16 + |dy|^16 = 0.5^16) that
// fits in the region and touches its outer boundary at four points. Inside it
// w(u) = u^(gamma - 1) (1 + (gamma - 1) u^16 (1 - u)): the power u^(gamma-1)
// makes the cells at C shrink like h^gamma, the second factor brings w to 1
// with a zero slope at u = 1, where the vertices stop moving. So the map is
// smooth everywhere but at C: the mesh lines keep a continuous direction.
//
// Why not the plain ray map (R (r/R)^gamma, R where the ray leaves the
// region): R has corners where the rays meet the region's corners (0, 1),
// (0, 0) and (1, 0), the map's slope jumps there by a factor gamma, and the
// mesh lines that cross those rays at a slant bend by that much: from
// gamma = 2.5 on, cells fold. Here the rounded square has no corner; the
// cost is that the region's far corners are not graded (w = 1 there).
//
// Outer boundary: line j = 1 and the vertices i = 1 and i = nxv of every
// line lie on it, where u >= 1: they stay, to the bit. The re-entrant edges
// are rays from C: their vertices slide along them, towards C.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "malhas_segmentos.h"
#include "malhas_segmentos/power.h"

namespace malha {

namespace {

constexpr double kCorner = 0.5;

// The vertices nearest C end up about 0.5 rho^gamma from it (rho = 1/ny or
// 1/(m - 1), see grading_refusal). Near 0.5 a coordinate is resolved to
// 2^-53; 0.5 rho^gamma >= 2^-41 keeps them 4096 of those steps away at
// least, so that rounding leaves the cells at C their shape to within 1/4096
// of their size.
constexpr double kNearestShare = 0x1p-40;  // the least rho^gamma

// The least sine of a corner angle of a graded cell (about 2.9 degrees). A
// cell near that is useless to a solver, and well above it the rounding of
// the coordinates cannot turn a triangle of the cell inside out.
constexpr double kLeastCornerSine = 0.05;

// 1 + t^16 rounds to 1 for t <= 2^-4 (t^16 <= 2^-64, below half a unit in
// the last place of 1): the shortcut below gives the same bits.
constexpr double kNoRounding = 0x1p-4;

// t^16 by four squarings.
double sixteenth_power(double t) {
  t *= t;
  t *= t;
  t *= t;
  return t * t;
}

// u = 2 (|dx|^16 + |dy|^16)^(1/16), as 2a (1 + t^16)^(1/16) with a the
// larger and t the ratio of the smaller to the larger of |dx| and |dy|: no
// power of a tiny offset underflows. Four square roots, each rounded
// correctly by IEEE arithmetic.
double distance_from_corner(double dx, double dy) {
  const double ax = std::fabs(dx), ay = std::fabs(dy);
  const double a = std::max(ax, ay);
  const double t = std::min(ax, ay) / a;
  if (t <= kNoRounding) return 2.0 * a;
  double root = 1.0 + sixteenth_power(t);
  root = std::sqrt(std::sqrt(std::sqrt(std::sqrt(root))));
  return 2.0 * a * root;
}

// w(u) for u < 1 (see the top of the file); power(u) = u^(gamma - 1).
double scale_factor(double u, double exponent, const MeshPower& power) {
  const double blend = u <= kNoRounding ? 1.0 : 1.0 + exponent * sixteenth_power(u) * (1.0 - u);
  return power(u) * blend;
}

std::string number_text(const char* pattern, double value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, pattern, value);
  return n < 0 ? std::string() : std::string(text);
}

// "nx = 40 and ny = 20 (records 2 and 3) with --grade=2", for the refusals.
std::string sizes_text(std::int32_t nx, std::int32_t ny, double gamma) {
  return "nx = " + std::to_string(nx) + " and ny = " + std::to_string(ny) +
         " (records 2 and 3) with --grade=" + number_text("%g", gamma);
}

// The largest grading exponent, to a hundredth, that bends no cell of the
// mesh (count_bent_cells); it rebuilds the mesh for each exponent it tries.
double largest_sound_grading(MeshState& s) {
  constexpr double kStep = 0.01;
  double good = 1.0, bad = s.grading;
  while (bad - good > kStep) {
    s.grading = 0.5 * (good + bad);
    build_algebraic_mesh(s);
    grade_toward_corner(s);
    (count_bent_cells(s.xv.data(), s.yv.data(), s.nx, s.ny) == 0 ? good : bad) = s.grading;
  }
  return std::floor(good / kStep) * kStep;
}

}  // namespace

std::string grading_refusal(std::int32_t nx, std::int32_t ny, double gamma) {
  if (gamma == 1.0) return "";
  if (nx % 2 != 0) {
    return "nx = " + std::to_string(nx) +
           " (record 2) is odd: --grade needs an even nx, whose mesh fits the region; an odd "
           "nx leans beyond x = 1, out of the region whose corner the grading is made for";
  }
  // The vertices nearest C: (m, nyv - 1) at rho = 1/ny, and (m - 1, nyv)
  // and (m + 1, nyv) at rho = 1/(m - 1), m = (nx + 2)/2 being C's line.
  const double nearest = std::min(1.0 / ny, 1.0 / ((nx + 2) / 2 - 1));
  if (mesh_power(nearest, gamma) >= kNearestShare) return "";
  // The largest gamma with nearest^gamma >= 2^-40, rounded down.
  const double largest = std::floor(100.0 * (mesh_log(kNearestShare) / mesh_log(nearest))) / 100.0;
  return sizes_text(nx, ny, gamma) + " would bring the vertices nearest the re-entrant corner " +
         number_text("%.2g", 0.5 * mesh_power(nearest, gamma)) +
         " from it, closer than the coordinates can tell apart: use --grade=" +
         number_text("%.2f", largest) + " at most, or fewer volumes";
}

void grade_toward_corner(MeshState& s) {
  if (s.grading == 1.0) return;
  const double exponent = s.grading - 1.0;
  const MeshPower power(exponent);
  double* xv = s.xv.data();
  double* yv = s.yv.data();
  for (std::int32_t j = 2; j <= s.nyv; ++j) {
    const std::int64_t row = static_cast<std::int64_t>(j - 1) * s.nxv;
    for (std::int32_t i = 2; i <= s.nxv - 1; ++i) {
      const std::int64_t k = row + i - 1;
      const double dx = xv[k] - kCorner;
      const double dy = yv[k] - kCorner;
      if (dx == 0.0 && dy == 0.0) continue;  // C itself
      const double u = distance_from_corner(dx, dy);
      if (u >= 1.0) continue;  // beyond the rounded square: w = 1
      // On a re-entrant edge dx or dy is 0, and stays 0.
      const double w = scale_factor(u, exponent, power);
      xv[k] = kCorner + dx * w;
      yv[k] = kCorner + dy * w;
    }
  }
}

std::int64_t count_bent_cells(const double* xv, const double* yv, std::int32_t nx,
                              std::int32_t ny) {
  const std::int64_t nxv = nx + 1;
  std::int64_t bent = 0;
  for (std::int32_t j = 1; j <= ny; ++j) {
    const std::int64_t k = (j - 1) * nxv;  // vertex (1, j), 0-based
    for (std::int32_t i = 0; i < nx; ++i) {
      const std::int64_t c[4] = {k + i, k + i + 1, k + nxv + i + 1, k + nxv + i};
      bool sound = true;
      for (int n = 0; n < 4; ++n) {
        const std::int64_t at = c[n], next = c[(n + 1) % 4], prev = c[(n + 3) % 4];
        const double ax = xv[next] - xv[at], ay = yv[next] - yv[at];
        const double bx = xv[prev] - xv[at], by = yv[prev] - yv[at];
        // sin(angle) >= kLeastCornerSine, squared to need no square root.
        const double cross = ax * by - ay * bx;
        sound = sound && cross > 0.0 &&
                cross * cross >=
                    kLeastCornerSine * kLeastCornerSine * (ax * ax + ay * ay) * (bx * bx + by * by);
      }
      bent += sound ? 0 : 1;
    }
  }
  return bent;
}

std::string graded_cells_refusal(MeshState& s) {
  if (s.grading == 1.0) return "";
  const std::int64_t bent = count_bent_cells(s.xv.data(), s.yv.data(), s.nx, s.ny);
  if (bent == 0) return "";
  const std::string sizes = sizes_text(s.nx, s.ny, s.grading);
  // Near C the cells are 0.5/ny across the re-entrant edges and 0.5/(m - 1)
  // along them, m - 1 = nx/2.
  const double half_nx = s.nx / 2;
  const double ratio = std::max(s.ny / half_nx, half_nx / s.ny);
  const double largest = largest_sound_grading(s);
  return sizes + " would leave " + std::to_string(bent) + (bent == 1 ? " cell" : " cells") +
         " with a corner angle below 3 degrees (or above 177) near the re-entrant corner, "
         "where the cells are " +
         number_text("%.3g", ratio) +
         " times as long one way as the other (ny = " + std::to_string(s.ny) +
         " against nx/2 = " + std::to_string(s.nx / 2) +
         "): use --grade=" + number_text("%.2f", largest) +
         " at most, or an ny nearer nx/2, which makes them square";
}

void place_graded_ring(MeshState& s) {
  if (s.grading == 1.0) return;
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

}  // namespace malha

// The grading toward the re-entrant corner C = (0.5, 0.5).
//
// Every vertex moves along its ray from C, its offset from C scaled by
// w(u): u is how far the vertex lies from C, measured so that u = 1 on a
// rounded square about C that fits in the region and touches its outer
// boundary at four points:
//
//   u = 2a (1 + t^12/23),  a = max(|dx|, |dy|),  t = min(|dx|, |dy|)/a.
//
// Near the axes u is 2a, the distance of the square sides x = 0, y = 0,
// x = 1, y = 1; towards the diagonals |dx| = |dy| it grows by up to 1/23, so
// that the square's corners are rounded. 1/23 = 1/(2*12 - 1) is what makes
// u's slope the same on both sides of a diagonal, where a and t swap roles:
// u has no crease. Inside the rounded square
//
//   w(u) = u^(gamma - 1) (1 + (gamma - 1) u^16 (1 - u)):
//
// the power makes the cells at C shrink like h^gamma; the second factor
// brings w to 1 with a zero slope at u = 1, where the vertices stop moving.
// So the map is smooth but at C, and the mesh lines keep their direction.
//
// Why not the plain ray map (R (r/R)^gamma, R where the ray leaves the
// region): R has corners where the rays meet the region's corners (0, 1),
// (0, 0) and (1, 0), the map's slope jumps there by a factor gamma, and the
// mesh lines that cross those rays at a slant bend by that much: from
// gamma = 2.5 on, cells fold. The rounded square has no corner; the cost is
// that the region's far corners are not graded (w = 1 there). The exponents
// 12 and 16 are those that measured best, with the worked solver, among
// rounded squares and blends that fold no cell.
//
// Outer boundary: line j = 1 and the vertices i = 1 and i = nxv of every
// line lie on it, where u >= 1: they stay, to the bit. The re-entrant edges
// are rays from C: their vertices slide along them, towards C.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "mesh/malhas_segmentos.h"
#include "mesh/power.h"
#include "smoothing/converge.h"
#include "smoothing/figure.h"

namespace malha {

namespace {

constexpr double kCorner = 0.5;

// The vertices nearest C end up about 0.5 rho^gamma from it (rho = 1/ny or
// 1/(m - 1), see grading_refusal). Near 0.5 a coordinate is resolved to
// 2^-53; 0.5 rho^gamma >= 2^-41 keeps them 4096 of those steps away at
// least, so that rounding leaves the cells at C their shape to within 1/4096
// of their size.
constexpr double kNearestShare = 0x1p-40;  // the least rho^gamma

// The least sine of a corner angle of a graded cell (2.87 degrees, so a
// corner of 177.13 degrees is the largest: messages name the angle as
// kBentAngleText, the check uses the sine). A
// cell near that is useless to a solver, and well above it the rounding of
// the coordinates cannot turn a triangle of the cell inside out.
constexpr double kLeastCornerSine = 0.05;
// The convergence figure (quality.h) below which smoothing passes are taken
// as settled: one more would move no vertex by a millionth of the shortest
// edge.
constexpr double kSettledPasses = 1e-6;

constexpr const char* kBentAngleText = "a corner angle below 2.87 degrees or above 177.13";

// The rounding of the square's corners: u = 2a (1 + kBulge t^12).
constexpr double kBulge = 1.0 / 23.0;

// t^12 and t^16 by squarings.
double twelfth_power(double t) {
  const double t4 = (t * t) * (t * t);
  return (t4 * t4) * t4;
}
double sixteenth_power(double t) {
  t *= t;
  t *= t;
  t *= t;
  return t * t;
}

// u (see the top of the file); C itself has u = 0.
double distance_from_corner(double dx, double dy) {
  const double ax = std::fabs(dx), ay = std::fabs(dy);
  const double a = std::max(ax, ay);
  if (a == 0.0) return 0.0;
  const double t = std::min(ax, ay) / a;
  return 2.0 * a * (1.0 + kBulge * twelfth_power(t));
}

// w(u) for u < 1 (see the top of the file); power(u) = u^(gamma - 1).
double scale_factor(double u, double exponent, const MeshPower& power) {
  return power(u) * (1.0 + exponent * sixteenth_power(u) * (1.0 - u));
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
  const int corner_line = (nx + 2) / 2;
  const double nearest = std::min(1.0 / ny, 1.0 / (corner_line - 1));
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
  constexpr double kLeast = kLeastCornerSine * kLeastCornerSine;
  // The corner between edges a (in) and b (out) is sound when its sine,
  // cross(a, b)/(|a||b|), is at least kLeastCornerSine: squared, without a
  // square root. Added up without a branch: a branch per cell would cost
  // more than the test.
  const auto sound = [](double ax, double ay, double la, double bx, double by, double lb) {
    const double cross = ax * by - ay * bx;
    return (cross > 0.0) & (cross * cross >= kLeast * la * lb);
  };
  std::int64_t bent = 0;
  for (std::int32_t j = 1; j <= ny; ++j) {
    const double* x0 = xv + (j - 1) * nxv;  // line j, then line j + 1
    const double* y0 = yv + (j - 1) * nxv;
    const double* x1 = x0 + nxv;
    const double* y1 = y0 + nxv;
    for (std::int32_t i = 0; i < nx; ++i) {
      // Corners (i, j), (i+1, j), (i+1, j+1), (i, j+1) and the edges leaving
      // them, counter-clockwise.
      const double e1x = x0[i + 1] - x0[i], e1y = y0[i + 1] - y0[i];
      const double e2x = x1[i + 1] - x0[i + 1], e2y = y1[i + 1] - y0[i + 1];
      const double e3x = x1[i] - x1[i + 1], e3y = y1[i] - y1[i + 1];
      const double e4x = x0[i] - x1[i], e4y = y0[i] - y1[i];
      const double l1 = e1x * e1x + e1y * e1y, l2 = e2x * e2x + e2y * e2y;
      const double l3 = e3x * e3x + e3y * e3y, l4 = e4x * e4x + e4y * e4y;
      const bool cell = sound(e4x, e4y, l4, e1x, e1y, l1) & sound(e1x, e1y, l1, e2x, e2y, l2) &
                        sound(e2x, e2y, l2, e3x, e3y, l3) & sound(e3x, e3y, l3, e4x, e4y, l4);
      bent += cell ? 0 : 1;
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
  const int half_nx_count = s.nx / 2;  // nx is even here
  const double half_nx = half_nx_count;
  const double ratio = std::max(s.ny / half_nx, half_nx / s.ny);
  const double largest = largest_sound_grading(s);
  return sizes + " would leave " + std::to_string(bent) + (bent == 1 ? " cell" : " cells") +
         " with " + kBentAngleText + " near the re-entrant corner, where the cells are " +
         number_text("%.3g", ratio) +
         " times as long one way as the other (ny = " + std::to_string(s.ny) +
         " against nx/2 = " + std::to_string(s.nx / 2) +
         "): use --grade=" + number_text("%.2f", largest) +
         " at most, or an ny nearer nx/2, which makes them square";
}

// "dksi = 1 and deta = 0.3 (records 4 and 5)", when either is not 1: the
// spacings shape the equations' solution, which the passes approach.
std::string spacings_text(const MeshState& s) {
  if (s.dksi == 1.0 && s.deta == 1.0) return "";
  return "dksi = " + number_text("%g", s.dksi) + " and deta = " + number_text("%g", s.deta) +
         " (records 4 and 5)";
}

std::string graded_smoothing_refusal(const MeshState& s, bool converged) {
  if (s.grading == 1.0 || s.opt_elliptic != 2) return "";
  const std::int64_t bent = count_bent_cells(s.xv.data(), s.yv.data(), s.nx, s.ny);
  if (bent == 0) return "";
  const std::string cells = std::to_string(bent) + (bent == 1 ? " cell" : " cells") +
                            " bent near the re-entrant corner (" + kBentAngleText + ")";
  const std::string grade = "--grade=" + number_text("%g", s.grading);
  const std::string spacings = spacings_text(s);
  // Passes that no longer move the mesh have reached what the equations
  // give: more of them, or --converge, leave the same bent cells, and the
  // cause is the equations (their spacings) on this grading.
  const bool settled = converged || convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv,
                                                       s.dksi, s.deta, sources_of(s))
                                            .relative <= kSettledPasses;
  if (settled && !spacings.empty())
    return spacings + " bend the mesh graded with " + grade + ": its smoothing " +
           (converged
                ? "to convergence"
                : "by niter = " + std::to_string(s.niter) + " passes, which no longer move it,") +
           " leaves " + cells +
           ": use spacings nearer 1 (1 and 1 keep the cells sound) or a "
           "smaller GAMMA; no file was written";
  if (settled)
    return "the smoothing " +
           std::string(converged ? "to convergence" : "by passes that no longer move it") +
           " of the mesh graded with " + grade + " leaves " + cells +
           ": use a smaller GAMMA; no file was written";
  return "niter = " + std::to_string(s.niter) + " (record 2) smooths the mesh graded with " +
         grade + " too little: the passes left " + cells +
         "; the first pass, on the metric terms of the graded mesh, can do that and the next "
         "ones mend it: smooth by more passes, or to convergence (--converge)" +
         (spacings.empty() ? "" : "; should they stay bent, " + spacings + " are the cause") +
         "; no file was written";
}

}  // namespace malha

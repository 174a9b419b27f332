// Checks the meshes graded toward the re-entrant corner over many sizes:
// every cell convex and counter-clockwise (the cross product of the two
// edges at each of its four corners positive: neither inverted nor with a
// concave corner), the cells' total area 0.75 to rounding, the outer
// boundary where the ungraded mesh has it to the bit and the re-entrant
// edges' vertices on their edges, in order.
//
//   check_grading [largest-nx]            algebraic meshes, every even nx
//                                         from 2 (default 2000), ny = nx/2,
//                                         and ny = 1, nx, 4 nx for some nx
//   check_grading --smoothed NX NY PASSES SWEEPS
//                                         the graded mesh smoothed, checked
//                                         after every pass
//   check_grading --converged NX NY TOLERANCE
//                                         the graded mesh smoothed to
//                                         convergence (as --converge=TOLERANCE)
//
// Grading exponents 1.5, 2, 2.5, 3 and 4; sizes the program refuses to grade
// are counted, not checked. Prints one line per exponent and ends with
// status 1 when anything failed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mesh/malhas_segmentos.h"
#include "run/options.h"
#include "smoothing/converge.h"
#include "smoothing/passes.h"
#include "variaveis.h"

namespace {

using malha::MeshState;

constexpr double kGammas[] = {1.5, 2.0, 2.5, 3.0, 4.0};
constexpr double kRegionArea = 0.75;

struct Tally {
  std::int64_t meshes = 0, refused = 0, failed = 0;
  double least_sine = 1.0;             // the smallest corner sine seen (scaled cross product)
  double largest_area_error = 0.0;     // |total - 0.75|
  double least_refused_ratio = 1e300;  // ny/nx of the meshes refused for folding
};

std::unique_ptr<MeshState> mesh(std::int32_t nx, std::int32_t ny, double gamma) {
  auto s = std::make_unique<MeshState>();
  s->nx = nx;
  s->ny = ny;
  s->grading = gamma;
  malha::derive_counters(*s);
  malha::allocate_group_a(*s);
  malha::build_algebraic_mesh(*s);
  malha::grade_toward_corner(*s);
  return s;
}

double x_of(const MeshState& s, std::int32_t i, std::int32_t j) {
  return s.xv(static_cast<std::int64_t>(j - 1) * s.nxv + i);
}
double y_of(const MeshState& s, std::int32_t i, std::int32_t j) {
  return s.yv(static_cast<std::int64_t>(j - 1) * s.nxv + i);
}

// The cells: the smallest corner sine (cross product of the edges over
// their lengths); false at the first cell with one not positive. Adds the
// areas (triangles (1, 2, 3) and (1, 3, 4), as the area file has them).
bool cells_convex(const MeshState& s, Tally& t, double& total, std::string& what) {
  total = 0.0;
  double carry = 0.0;
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const double x[4] = {x_of(s, i, j), x_of(s, i + 1, j), x_of(s, i + 1, j + 1),
                           x_of(s, i, j + 1)};
      const double y[4] = {y_of(s, i, j), y_of(s, i + 1, j), y_of(s, i + 1, j + 1),
                           y_of(s, i, j + 1)};
      for (int c = 0; c < 4; ++c) {
        const int n = (c + 1) % 4, p = (c + 3) % 4;
        const double ax = x[n] - x[c], ay = y[n] - y[c], bx = x[p] - x[c], by = y[p] - y[c];
        const double sine =
            (ax * by - ay * bx) / std::sqrt((ax * ax + ay * ay) * (bx * bx + by * by));
        t.least_sine = std::min(t.least_sine, sine);
        if (!(sine > 0.0)) {
          total += carry;
          what = "cell (" + std::to_string(i) + ", " + std::to_string(j) + ") corner " +
                 std::to_string(c + 1) + " sine " + std::to_string(sine);
          return false;
        }
      }
      const double area = 0.5 * ((x[1] - x[0]) * (y[2] - y[0]) - (x[2] - x[0]) * (y[1] - y[0])) +
                          0.5 * ((x[2] - x[0]) * (y[3] - y[0]) - (x[3] - x[0]) * (y[2] - y[0]));
      // Compensated sum (Neumaier): the total's error is then that of the
      // areas, not of adding millions of them.
      const double sum = total + area;
      carry += std::fabs(total) >= std::fabs(area) ? (total - sum) + area : (area - sum) + total;
      total = sum;
    }
  }
  total += carry;
  return true;
}

// The outer boundary as the ungraded mesh has it, to the bit; the re-entrant
// edges' vertices on x = 0.5 (left of C) or y = 0.5 (right), moving
// monotonically towards C.
bool boundary_kept(const MeshState& s, const MeshState& plain, std::string& what) {
  const auto same = [&](std::int32_t i, std::int32_t j) {
    return x_of(s, i, j) == x_of(plain, i, j) && y_of(s, i, j) == y_of(plain, i, j);
  };
  for (std::int32_t i = 1; i <= s.nxv; ++i)
    if (!same(i, 1)) return what = "outer vertex (" + std::to_string(i) + ", 1) moved", false;
  for (std::int32_t j = 1; j <= s.nyv; ++j)
    if (!same(1, j) || !same(s.nxv, j))
      return what = "side vertex on line " + std::to_string(j) + " moved", false;
  const std::int32_t m = (s.nxv + 1) / 2;
  for (std::int32_t i = 1; i <= s.nxv; ++i) {
    const double x = x_of(s, i, s.nyv), y = y_of(s, i, s.nyv);
    const bool on_edge = i <= m ? x == 0.5 : y == 0.5;
    const bool ordered = i == 1 || (i <= m ? y < y_of(s, i - 1, s.nyv) : x > x_of(s, i - 1, s.nyv));
    if (!on_edge || !ordered) return what = "re-entrant vertex " + std::to_string(i), false;
  }
  return true;
}

bool check(const MeshState& s, const MeshState& plain, Tally& t) {
  std::string what;
  double total = 0.0;
  bool good = boundary_kept(s, plain, what) && cells_convex(s, t, total, what);
  const double error = std::fabs(total - kRegionArea);
  t.largest_area_error = std::max(t.largest_area_error, error);
  if (good && error > 1e-12) good = false, what = "total area " + std::to_string(total);
  if (!good) {
    ++t.failed;
    std::printf("FAIL nx = %d, ny = %d, gamma = %g: %s\n", s.nx, s.ny, s.grading, what.c_str());
  }
  ++t.meshes;
  return good;
}

// Sizes the program refuses to grade are counted, with the smallest ny/nx
// among those refused for folding.
void check_size(std::int32_t nx, std::int32_t ny, double gamma, Tally& t) {
  if (!malha::grading_refusal(nx, ny, gamma).empty()) {
    ++t.refused;
    return;
  }
  auto s = mesh(nx, ny, gamma);
  if (malha::count_bent_cells(s->xv.data(), s->yv.data(), nx, ny) > 0) {
    ++t.refused;
    t.least_refused_ratio = std::min(t.least_refused_ratio, static_cast<double>(ny) / nx);
    return;
  }
  check(*s, *mesh(nx, ny, 1.0), t);
}

void print(double gamma, const Tally& t) {
  std::printf(
      "gamma %-4g %6lld meshes made, %lld failed; least corner sine %.3f, largest "
      "|area - 0.75| %.2g; %lld refused",
      gamma, static_cast<long long>(t.meshes), static_cast<long long>(t.failed), t.least_sine,
      t.largest_area_error, static_cast<long long>(t.refused));
  if (t.refused > 0) std::printf(" (from ny/nx = %g on)", t.least_refused_ratio);
  std::printf("\n");
}

int algebraic(std::int32_t largest) {
  std::int64_t failed = 0;
  for (double gamma : kGammas) {
    Tally t;
    for (std::int32_t nx = 2; nx <= largest; nx += 2) {
      check_size(nx, std::max(1, nx / 2), gamma, t);
      // Thin and tall meshes, on a sparser set of nx.
      if (nx <= 64 || nx % 250 == 0 || nx == largest)
        for (std::int32_t ny : {1, nx, 4 * nx}) check_size(nx, ny, gamma, t);
    }
    print(gamma, t);
    failed += t.failed;
  }
  return failed == 0 ? 0 : 1;
}

// The graded mesh smoothed by `passes` passes of `sweeps` sweeps, checked
// after every pass, or (passes = 0) smoothed to convergence at `tolerance`
// and checked once; each time with its boundary, which the smoothing never
// moves.
int smoothed(std::int32_t nx, std::int32_t ny, std::int32_t passes, std::int32_t sweeps,
             double tolerance) {
  std::int64_t failed = 0;
  for (double gamma : kGammas) {
    Tally t;
    auto s = mesh(nx, ny, gamma);
    if (!malha::grading_refusal(nx, ny, gamma).empty() ||
        malha::count_bent_cells(s->xv.data(), s->yv.data(), nx, ny) > 0) {
      std::printf("gamma %-4g refused for %d x %d\n", gamma, nx, ny);
      continue;
    }
    const auto plain = mesh(nx, ny, 1.0);
    const auto graded = mesh(nx, ny, gamma);
    s->nsweep = sweeps;
    s->niter = passes;
    s->dksi = s->deta = 1.0;
    malha::allocate_group_b(*s);
    if (passes == 0) {
      const malha::ConvergedSmoothing done = malha::converge_smoothing(*s, tolerance, false);
      std::printf("gamma %-4g converged in %d cycles: ", gamma, done.cycles);
      check(*s, *plain, t);
    }
    // Every pass is checked; a pass that leaves bad cells is named, and the
    // passes after it go on (a later pass may mend them).
    std::string bad_passes;
    for (std::int32_t pass = 1; pass <= passes; ++pass) {
      malha::smoothing_pass(*s, malha::SmoothingOptions{});
      if (!check(*s, *plain, t)) bad_passes.append(" ").append(std::to_string(pass));
    }
    if (!bad_passes.empty())
      std::printf("gamma %-4g bad after passes%s\n", gamma, bad_passes.c_str());
    std::string what;
    if (!boundary_kept(*s, *graded, what)) {
      std::printf("FAIL: %s\n", what.c_str());
      ++t.failed;
    }
    print(gamma, t);
    failed += t.failed;
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line: a smoothing to convergence that fails ends the process.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc == 6 && std::strcmp(argv[1], "--smoothed") == 0)
    return smoothed(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                    0.0);
  if (argc == 5 && std::strcmp(argv[1], "--converged") == 0)
    return smoothed(std::atoi(argv[2]), std::atoi(argv[3]), 0, 1, std::atof(argv[4]));
  if (argc > 2) {
    std::fprintf(stderr,
                 "usage: check_grading [largest-nx] | --smoothed NX NY PASSES SWEEPS | "
                 "--converged NX NY TOLERANCE\n");
    return 2;
  }
  return algebraic(argc == 2 ? std::atoi(argv[1]) : 2000);
}

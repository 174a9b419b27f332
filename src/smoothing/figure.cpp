#include "smoothing/figure.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/metricas.h"

namespace malha {

namespace {

// The move one point update of u would make at 0-based position p, with the
// eight products added in the order of the sweeps.
double point_move(const double* u, std::int64_t p, std::int32_t nxv, const VertexCoefficients& c) {
  const std::int64_t n = p + nxv, so = p - nxv;
  const double sum = c.asw * u[so - 1] + c.as * u[so] + c.an * u[n] + c.anw * u[n - 1] +
                     c.aw * u[p - 1] + c.ae * u[p + 1] + c.ase * u[so + 1] + c.ane * u[n + 1];
  return std::fabs(sum - c.ap * u[p]) / std::fabs(c.ap);
}

// Whether `a` is a worse move than `b`: larger, or not a number.
bool worse_move(double a, double b) {
  return a > b || (std::isnan(a) && !std::isnan(b));
}

}  // namespace

double shortest_mesh_edge(const double* xv, const double* yv, std::int32_t nxv, std::int32_t nyv) {
  double shortest = std::numeric_limits<double>::infinity();
  for (std::int32_t j = 1; j <= nyv; ++j) {
    for (std::int32_t i = 1; i <= nxv; ++i) {
      const std::int64_t p = static_cast<std::int64_t>(j - 1) * nxv + (i - 1);
      if (i < nxv) shortest = std::min(shortest, std::hypot(xv[p + 1] - xv[p], yv[p + 1] - yv[p]));
      if (j < nyv)
        shortest = std::min(shortest, std::hypot(xv[p + nxv] - xv[p], yv[p + nxv] - yv[p]));
    }
  }
  return shortest;
}

ConvergenceFigure convergence_figure(const double* xv, const double* yv, std::int32_t nxv,
                                     std::int32_t nyv, double dksi, double deta, Sources sources) {
  const bool sourced = sources.p != nullptr && sources.q != nullptr;
  const platform::FpTrapsHeld held;
  ConvergenceFigure f;
  if (nxv < 3 || nyv < 3) return f;
  f.defined = true;
  const double cksi = 0.5 / dksi;
  const double ceta = 0.5 / deta;
  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t p = static_cast<std::int64_t>(j - 1) * nxv + (i - 1);
      const VertexMetrics m = metric_terms_at(xv, yv, p, nxv, cksi, ceta);
      const VertexCoefficients c =
          coefficients_at(m.alpha, m.beta, m.gamma, m.jac, sourced ? sources.p[p] : 0.0,
                          sourced ? sources.q[p] : 0.0);
      const double move_x = point_move(xv, p, nxv, c), move_y = point_move(yv, p, nxv, c);
      const double move = worse_move(move_y, move_x) ? move_y : move_x;
      if (worse_move(move, f.largest_move) || f.vertex == 0) {
        f.largest_move = move;
        f.vertex = p + 1;
      }
    }
  }
  f.smallest_edge = shortest_mesh_edge(xv, yv, nxv, nyv);
  f.relative = f.largest_move / f.smallest_edge;
  return f;
}

}  // namespace malha

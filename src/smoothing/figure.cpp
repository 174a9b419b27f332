#include "smoothing/figure.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform.h"
#include "smoothing/coef.h"
#include "smoothing/metricas.h"
#include "textio.h"

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

// The nine coefficients at 0-based position p, from the vertex's neighbours.
VertexCoefficients equation_at(const double* xv, const double* yv, std::int64_t p, std::int32_t nxv,
                               double cksi, double ceta, double psrc, double qsrc) {
  const VertexMetrics m = metric_terms_at(xv, yv, p, nxv, cksi, ceta);
  return coefficients_at(m.alpha, m.beta, m.gamma, m.jac, psrc, qsrc);
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
                                     std::int32_t nyv, double dksi, double deta, Sources sources,
                                     double shortest_edge) {
  const platform::FpTrapsHeld held;
  ConvergenceFigure f;
  if (nxv < 3 || nyv < 3) return f;
  f.defined = true;
  const double cksi = 0.5 / dksi;
  const double ceta = 0.5 / deta;
  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t p = static_cast<std::int64_t>(j - 1) * nxv + (i - 1);
      const VertexCoefficients c =
          equation_at(xv, yv, p, nxv, cksi, ceta, sources.p_at(p), sources.q_at(p));
      const double move_x = point_move(xv, p, nxv, c), move_y = point_move(yv, p, nxv, c);
      const double move = worse_move(move_y, move_x) ? move_y : move_x;
      if (worse_move(move, f.largest_move) || f.vertex == 0) {
        f.largest_move = move;
        f.vertex = p + 1;
      }
    }
  }
  f.smallest_edge = shortest_edge >= 0.0 ? shortest_edge : shortest_mesh_edge(xv, yv, nxv, nyv);
  f.relative = f.largest_move / f.smallest_edge;
  return f;
}

namespace {

// A value's 16th significant digit holds it to within half a unit: 5e-16 of
// its size. The move computed in memory carries rounding of the same order:
// nine products and their sum, each within 2^-53 of their size.
constexpr double kWrittenStep = 5e-16;
constexpr double kSumRounding = 10.0 * 0x1p-53;

// The move at 0-based position p of the mesh as the files hold it: the nine
// vertices, the sources and the spacings through their written values.
double written_move(const double* xv, const double* yv, std::int64_t p, std::int32_t nxv,
                    double cksi, double ceta, Sources sources) {
  double x[9], y[9];
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const std::int64_t from = p + (row - 1) * static_cast<std::int64_t>(nxv) + (col - 1);
      x[row * 3 + col] = textio::as_written_e25_15(xv[from]);
      y[row * 3 + col] = textio::as_written_e25_15(yv[from]);
    }
  }
  const VertexCoefficients c =
      equation_at(x, y, 4, 3, cksi, ceta, textio::as_written_e25_15(sources.p_at(p)),
                  textio::as_written_e25_15(sources.q_at(p)));
  return std::max(point_move(x, 4, 3, c), point_move(y, 4, 3, c));
}

}  // namespace

bool written_figure_within(const double* xv, const double* yv, std::int32_t nxv, std::int32_t nyv,
                           double dksi, double deta, Sources sources, double tolerance,
                           double shortest_edge) {
  const platform::FpTrapsHeld held;
  if (nxv < 3 || nyv < 3) return true;
  const std::int64_t n = static_cast<std::int64_t>(nxv) * nyv;
  double largest = 0.0;
  for (std::int64_t k = 0; k < n; ++k)
    largest = std::max({largest, std::fabs(xv[k]), std::fabs(yv[k])});
  // The shortest edge of the written mesh is shorter by at most the two ends'
  // written steps.
  const double edge = shortest_edge - 4.0 * kWrittenStep * largest;
  const double limit = tolerance * edge;
  if (!(limit > 0.0)) return false;
  const double cksi = 0.5 / dksi, ceta = 0.5 / deta;
  const double written_cksi = 0.5 / textio::as_written_e25_15(dksi);
  const double written_ceta = 0.5 / textio::as_written_e25_15(deta);
  for (std::int32_t j = 2; j <= nyv - 1; ++j) {
    for (std::int32_t i = 2; i <= nxv - 1; ++i) {
      const std::int64_t p = static_cast<std::int64_t>(j - 1) * nxv + (i - 1);
      const VertexCoefficients c =
          equation_at(xv, yv, p, nxv, cksi, ceta, sources.p_at(p), sources.q_at(p));
      const double move = std::max(point_move(xv, p, nxv, c), point_move(yv, p, nxv, c));
      // Written, each value moves by up to kWrittenStep of its size; the move
      // by (sum |a_nb| + |ap|) / |ap| times that, twice over (the values and
      // the coefficients made from them), and the sums round anew.
      const double weight = (std::fabs(c.ae) + std::fabs(c.aw) + std::fabs(c.an) + std::fabs(c.as) +
                             std::fabs(c.ane) + std::fabs(c.anw) + std::fabs(c.ase) +
                             std::fabs(c.asw) + std::fabs(c.ap)) /
                            std::fabs(c.ap);
      const double slack = weight * largest * (2.0 * kWrittenStep + kSumRounding);
      if (move + slack <= limit) continue;
      if (!(written_move(xv, yv, p, nxv, written_cksi, written_ceta, sources) <= limit))
        return false;
    }
  }
  return true;
}

}  // namespace malha

// The grid equation of a vertex as the multigrid's loops compute it, on one
// vertex (double) or on two at once (the lanes of a Pair, smoothing/lanes.h),
// each lane rounded on its own exactly as the scalar operation. Shared by
// the relaxations and the residuals (smoothing/multigrid/relax.cpp,
// smoothing/multigrid/residual.cpp).
//
// The grid equation at an interior vertex, for u = x and u = y, with the
// factors of the level's axes (smoothing/multigrid/levels.h):
//
//   N(u) = alpha*(next_i*u(E) + previous_i*u(W))
//        + gamma*(next_j*u(N) + previous_j*u(S))
//        - hb*cross_i*cross_j*((u(NE) - u(NW)) - (u(SE) - u(SW)))
//        - (alpha*(next_i + previous_i) + gamma*(next_j + previous_j))*u
//
// alpha = x_eta^2 + y_eta^2, gamma = x_ksi^2 + y_ksi^2 and hb = beta/2 come
// from the level's own coordinates by central differences (the grid
// equation's terms, smoothing/equation.h, with the level's first-derivative
// factors for cksi and ceta), computed where they are needed and never
// stored. On level 0 every factor is 1.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "smoothing/equation.h"
#include "smoothing/lanes.h"
#include "smoothing/multigrid/levels.h"

namespace malha::multigrid::stencil {

using lanes::Pair;

// The same operations on one double and on a Pair.
// (A template, for the four-lane vectors of smoothing/multigrid/wide.cpp
// too: their negation flips the sign bits as a double's does.)
template <class V>
MALHA_ALWAYS_INLINE V negate(V d) {
  return -d;
}
MALHA_ALWAYS_INLINE Pair negate(Pair p) {
  return lanes::bits_differing(p, lanes::splat(-0.0));  // the sign bit flipped, as -d does
}

MALHA_ALWAYS_INLINE double lanes_magnitude(double d) {
  return std::fabs(d);
}
MALHA_ALWAYS_INLINE Pair lanes_magnitude(Pair p) {
  return lanes::magnitude(p);
}
MALHA_ALWAYS_INLINE double lanes_lower(double a, double b) {
  return b < a ? b : a;
}
MALHA_ALWAYS_INLINE Pair lanes_lower(Pair a, Pair b) {
  return lanes::lower(a, b);
}
MALHA_ALWAYS_INLINE double lanes_higher(double a, double b) {
  return b > a ? b : a;
}
MALHA_ALWAYS_INLINE Pair lanes_higher(Pair a, Pair b) {
  return lanes::higher(a, b);
}

// The nine values of one coordinate around a vertex (or two, as lanes):
// row j-1 (south), j and j+1 (north), each west, centre and east.
template <class V>
struct Stencil {
  V sw, s, se, w, c, e, nw, n, ne;
};

MALHA_ALWAYS_INLINE Stencil<double> stencil_of_one(const double* u, std::int64_t p,
                                                   std::int64_t nx) {
  return {u[p - nx - 1], u[p - nx],     u[p - nx + 1], u[p - 1],     u[p],
          u[p + 1],      u[p + nx - 1], u[p + nx],     u[p + nx + 1]};
}

// Vertices p and p + 1.
MALHA_ALWAYS_INLINE Stencil<Pair> stencil_of_two(const double* u, std::int64_t p, std::int64_t nx) {
  using lanes::load;
  return {load(u + p - nx - 1), load(u + p - nx), load(u + p - nx + 1),
          load(u + p - 1),      load(u + p),      load(u + p + 1),
          load(u + p + nx - 1), load(u + p + nx), load(u + p + nx + 1)};
}

// Vertices p and p + 2, the lanes gathered from four loads per row (none
// beyond p + 3, the east neighbour of the second).
MALHA_ALWAYS_INLINE Stencil<Pair> stencil_of_two_apart(const double* u, std::int64_t p,
                                                       std::int64_t nx) {
  using lanes::first_lanes, lanes::second_lanes, lanes::load;
  Stencil<Pair> v;
  const auto row = [&](const double* r, Pair& w, Pair& c, Pair& e) {
    const Pair at = load(r), after = load(r + 2);
    w = first_lanes(load(r - 1), load(r + 1));
    c = first_lanes(at, after);
    e = second_lanes(at, after);
  };
  row(u + p - nx, v.sw, v.s, v.se);
  row(u + p, v.w, v.c, v.e);
  row(u + p + nx, v.nw, v.n, v.ne);
  return v;
}

// The factors of the differences at a vertex (smoothing/multigrid/levels.h); on
// level 0 (kUnit) only the first-derivative ones, the others being 1.
// With source terms, source_i and source_j scale the half sources'
// differences (u(E) - u(W), u(N) - u(S)) to the level's steps: the cross
// factors of each axis, 1 on level 0.
template <class V>
struct Factors {
  V first_i, first_j, next_i, previous_i, next_j, previous_j, cross;
  V source_i{}, source_j{};
};

// One equation of a line being relaxed: the weights of the previous vertex
// on the line, of the vertex itself and of the next one, and the
// right-hand sides for x and y with every value off the line held.
template <class V>
struct Equation {
  V lower, diag, upper, bx, by;
};

// The weights of the next and previous vertex along an axis with the half
// source term h of that axis (a coarse level's, its first difference scaled
// to the level's steps), by Patankar's hybrid differences: central (next + h,
// previous - h) while neither falls below the one-sided difference's
// (2h, 0 or 0, -2h), one-sided beyond. Each coarser level doubles the source
// terms' weight against the second differences (its first differences span
// twice the steps), and near the outer corner, where h reaches twice the
// weight at the finest level, central differences would give the coarse
// levels negative weights: their corrections then go astray (400 x 200 does
// not converge). Level 0 keeps central differences, the passes' equations.
template <class V>
MALHA_ALWAYS_INLINE void hybrid(V& next, V& previous, V h) {
  const V zero = equation::constant<V>(0.0), two = equation::constant<V>(2.0);
  next = lanes_higher(lanes_higher(next + h, two * h), zero);
  previous = lanes_higher(lanes_higher(previous - h, negate(two * h)), zero);
}

// The equation at a vertex along its row (kAlongRow: the unknowns are u(W),
// u, u(E)) or its column (u(S), u, u(N)); f is the level's right-hand side.
// kSources: with the source terms P and Q at the vertex (--control), which
// add D^2 (P u_ksi + Q u_eta): on level 0 the half sources
// (smoothing/equation.h) go to the east and north weights and come off the
// west and south ones, as in a pass; on the coarser levels by hybrid().
// (The values by reference: a vector of four doubles passed by value from
// the AVX2 loops to this function, compiled without AVX, would change the
// calling convention, which clang refuses.)
template <bool kAlongRow, bool kUnit, bool kSources = false, class V>
MALHA_ALWAYS_INLINE Equation<V> equation(const Stencil<V>& x, const Stencil<V>& y,
                                         const Factors<V>& f, const V& fx, const V& fy,
                                         const V& psrc = V{}, const V& qsrc = V{}) {
  const equation::Derivatives<V> d =
      equation::derivatives(x.e, x.w, x.n, x.s, y.e, y.w, y.n, y.s, f.first_i, f.first_j);
  const V alpha = equation::alpha(d), gamma = equation::gamma(d);
  const V hb = equation::constant<V>(0.5) * equation::beta(d);
  V ni = alpha, pi = alpha, nj = gamma, pj = gamma, cross = hb;
  if constexpr (!kUnit) {
    ni = alpha * f.next_i, pi = alpha * f.previous_i;
    nj = gamma * f.next_j, pj = gamma * f.previous_j;
    cross = hb * f.cross;
  }
  if constexpr (kSources) {
    const equation::HalfSources<V> h = equation::half_sources(d, psrc, qsrc);
    if constexpr (kUnit) {
      ni = ni + h.p, pi = pi - h.p, nj = nj + h.q, pj = pj - h.q;
    } else {
      hybrid(ni, pi, h.p * f.source_i);
      hybrid(nj, pj, h.q * f.source_j);
    }
  }
  const V cx = cross * ((x.ne - x.nw) - (x.se - x.sw));
  const V cy = cross * ((y.ne - y.nw) - (y.se - y.sw));
  const V diag = negate((ni + pi) + (nj + pj));
  if constexpr (kAlongRow)
    return {pi, diag, ni, fx - (nj * x.n + pj * x.s) + cx, fy - (nj * y.n + pj * y.s) + cy};
  else
    return {pj, diag, nj, fx - (ni * x.e + pi * x.w) + cx, fy - (ni * y.e + pi * y.w) + cy};
}

// The equations of the vertices of lines, one array per quantity, which
// Thomas's algorithm turns into its own quantities in place (upper, bx, by).
struct Equations {
  double* lower;
  double* diag;
  double* upper;
  double* bx;
  double* by;

  // `count` equations in `work`, from `offset` on.
  static Equations in(std::vector<double>& work, std::size_t offset, std::int64_t count) {
    double* w = work.data() + offset;
    const auto n = static_cast<std::size_t>(count);
    return {w, w + n, w + 2 * n, w + 3 * n, w + 4 * n};
  }

  void put(std::int64_t c, const Equation<double>& e) const {
    lower[c] = e.lower, diag[c] = e.diag, upper[c] = e.upper, bx[c] = e.bx, by[c] = e.by;
  }
  void put(std::int64_t c, const Equation<Pair>& e) const {
    using lanes::store;
    store(lower + c, e.lower), store(diag + c, e.diag), store(upper + c, e.upper);
    store(bx + c, e.bx), store(by + c, e.by);
  }
};

// The equations of a line with the source terms (level.p, level.q), one
// vertex at a time: level 0's as a pass's (central differences, the
// factors 1), the coarser levels' by hybrid differences.
template <bool kAlongRow, std::int64_t kStride>
void build_with_sources(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t count,
                        const Equations& out, bool with_rhs) {
  const std::int64_t nx = level.ax.n;
  const Axis &ax = level.ax, &ay = level.ay;
  const bool has_rhs = with_rhs && !level.fx.empty();
  for (std::int64_t c = 0; c < count; ++c) {
    const std::int64_t i = i0 + kStride * c, p = j * nx + i;
    const Stencil<double> sx = stencil_of_one(level.x, p, nx), sy = stencil_of_one(level.y, p, nx);
    if (level.unit_steps) {
      const Factors<double> f{ax.first[i], ay.first[j], 1.0, 1.0, 1.0, 1.0, 1.0};
      out.put(c, equation<kAlongRow, true, true>(sx, sy, f, 0.0, 0.0, level.p[p], level.q[p]));
      continue;
    }
    const Factors<double> f{ax.first[i],
                            ay.first[j],
                            ax.next[i],
                            ax.previous[i],
                            ay.next[j],
                            ay.previous[j],
                            ax.cross[i] * ay.cross[j],
                            ax.cross[i],
                            ay.cross[j]};
    const double fx = has_rhs ? level.fx[p] : 0.0, fy = has_rhs ? level.fy[p] : 0.0;
    out.put(c, equation<kAlongRow, false, true>(sx, sy, f, fx, fy, level.p[p], level.q[p]));
  }
}

// smoothing/multigrid/wide.h's build_unit: the equations of level 0 from
// vertex c on, four at a time; returns where it stopped.
template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_unit(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t c,
                             std::int64_t count, const Equations& out);
// The same on a coarser level (its own factors, the right-hand side).
template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_coarse(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t c,
                               std::int64_t count, const Equations& out, bool with_rhs);

// The equations of `count` interior vertices of row j from column i0, in
// steps of kStride (1 along a row, 2 across the columns of one parity).
template <bool kAlongRow, std::int64_t kStride>
void build(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t count,
           const Equations& out, bool with_rhs = true) {
  if (level.p != nullptr) {
    build_with_sources<kAlongRow, kStride>(level, j, i0, count, out, with_rhs);
    return;
  }
  const std::int64_t nx = level.ax.n;
  const double* x = level.x;
  const double* y = level.y;
  std::int64_t c = 0;
  if (level.unit_steps) {
    // Level 0: unit steps, no right-hand side; the odd vertex left over by
    // the same operations on one lane.
    const double ck = level.ax.first[1], ce = level.ay.first[1];
    const Pair zero = lanes::splat(0.0), one = lanes::splat(1.0);
    const Factors<Pair> f2{lanes::splat(ck), lanes::splat(ce), one, one, one, one, one};
    if (level.wide) c = wide_build_unit<kAlongRow, kStride>(level, j, i0, c, count, out);
    for (; c + 1 < count; c += 2) {
      const std::int64_t p = j * nx + i0 + kStride * c;
      const Stencil<Pair> sx =
          kStride == 1 ? stencil_of_two(x, p, nx) : stencil_of_two_apart(x, p, nx);
      const Stencil<Pair> sy =
          kStride == 1 ? stencil_of_two(y, p, nx) : stencil_of_two_apart(y, p, nx);
      out.put(c, equation<kAlongRow, true>(sx, sy, f2, zero, zero));
    }
    const Factors<double> f1{ck, ce, 1.0, 1.0, 1.0, 1.0, 1.0};
    for (; c < count; ++c) {
      const std::int64_t p = j * nx + i0 + kStride * c;
      out.put(c, equation<kAlongRow, true>(stencil_of_one(x, p, nx), stencil_of_one(y, p, nx), f1,
                                           0.0, 0.0));
    }
    return;
  }
  const Axis &ax = level.ax, &ay = level.ay;
  const bool has_rhs = with_rhs && !level.fx.empty();
  if (level.wide) c = wide_build_coarse<kAlongRow, kStride>(level, j, i0, c, count, out, with_rhs);
  for (; c < count; ++c) {
    const std::int64_t i = i0 + kStride * c, p = j * nx + i;
    const Factors<double> f{ax.first[i],
                            ay.first[j],
                            ax.next[i],
                            ax.previous[i],
                            ay.next[j],
                            ay.previous[j],
                            ax.cross[i] * ay.cross[j]};
    const double fx = has_rhs ? level.fx[p] : 0.0, fy = has_rhs ? level.fy[p] : 0.0;
    out.put(c, equation<kAlongRow, false>(stencil_of_one(x, p, nx), stencil_of_one(y, p, nx), f, fx,
                                          fy));
  }
}

}  // namespace malha::multigrid::stencil

// The smoothing's grid equation at one interior vertex, written once for
// every way the program evaluates it: the plain pass and the convergence
// figure on one double, the fast pass on two or four neighbouring vertices at
// once, the multigrid's residuals and relaxations on one or two.
//
// For each coordinate u (x, then y):
//
//   alpha u_ksiksi - 2 beta u_ksieta + gamma u_etaeta + D^2 (P u_ksi + Q u_eta) = 0
//
// with central differences on the nine-point stencil, written as
// ap u_k = ae u_E + aw u_W + an u_N + as u_S + ane u_NE + anw u_NW + ase u_SE + asw u_SW.
// alpha, beta and gamma come from the derivatives of x and y along ksi and
// eta, D = 1/jac is the determinant of those derivatives, and P and Q are the
// source terms (psrc, qsrc) along ksi and eta.
//
// V is the value type: double, a Pair of lanes (smoothing/lanes.h) or a
// vector of the compiler's (four doubles). Every operation is one IEEE
// operation per lane, in the order written here, with no fused multiply-add
// (the build forbids contraction), so each lane rounds exactly as the scalar
// code: the fast paths give the plain pass's bits because they run these
// very lines.
#pragma once

#include <type_traits>

#include "smoothing/lanes.h"

namespace malha::equation {

// A constant in every lane.
template <class V>
MALHA_ALWAYS_INLINE V constant(double d) {
  if constexpr (std::is_same_v<V, double>) {
    return d;
  } else if constexpr (std::is_same_v<V, lanes::Pair>) {
    return lanes::splat(d);
  } else {
    return V{} + d;  // a vector of the compiler's: d in every lane
  }
}

// The derivatives of x and y along ksi and eta at a vertex.
template <class V>
struct Derivatives {
  V xksi, yksi, xeta, yeta;
};

// Central differences over the vertex's four neighbours; cksi = 0.5/dksi and
// ceta = 0.5/deta (a coarse multigrid level passes its own factors).
template <class V>
MALHA_ALWAYS_INLINE Derivatives<V> derivatives(const V& x_e, const V& x_w, const V& x_n,
                                               const V& x_s, const V& y_e, const V& y_w,
                                               const V& y_n, const V& y_s, const V& cksi,
                                               const V& ceta) {
  Derivatives<V> d;
  d.xeta = (x_n - x_s) * ceta;
  d.yeta = (y_n - y_s) * ceta;
  d.xksi = (x_e - x_w) * cksi;
  d.yksi = (y_e - y_w) * cksi;
  return d;
}

// The metric terms.
template <class V>
MALHA_ALWAYS_INLINE V alpha(const Derivatives<V>& d) {
  return d.yeta * d.yeta + d.xeta * d.xeta;
}
template <class V>
MALHA_ALWAYS_INLINE V beta(const Derivatives<V>& d) {
  return d.xeta * d.xksi + d.yeta * d.yksi;
}
template <class V>
MALHA_ALWAYS_INLINE V gamma(const Derivatives<V>& d) {
  return d.xksi * d.xksi + d.yksi * d.yksi;
}
// D, the determinant of the derivatives; jac = 1/D.
template <class V>
MALHA_ALWAYS_INLINE V determinant(const Derivatives<V>& d) {
  return d.yeta * d.xksi - d.xeta * d.yksi;
}

// The central coefficient, the divisor of a point update: the four others
// of the cross added in this order.
template <class V>
MALHA_ALWAYS_INLINE V central(const V& aw, const V& an, const V& ae, const V& as) {
  return ((aw + an) + ae) + as;
}

template <class V>
struct Coefficients {
  V ae, aw, an, as, ane, anw, ase, asw, ap;
};

// The nine coefficients from the metric terms and the source terms; the
// sources enter the east/west (P) and north/south (Q) coefficients only,
// weighted by D^2 = 1/(jac*jac), and cancel in ap up to rounding. The
// diagonal coefficients carry -2 beta u_ksieta: -beta/2 on NE and SW,
// +beta/2 on NW and SE.
template <class V>
MALHA_ALWAYS_INLINE Coefficients<V> coefficients(const V& alpha, const V& beta, const V& gamma,
                                                 const V& jac, const V& psrc, const V& qsrc) {
  const V half = constant<V>(0.5), minus_half = constant<V>(-0.5);
  const V g = constant<V>(1.0) / (jac * jac);
  Coefficients<V> c;
  c.ae = alpha + half * psrc * g;
  c.aw = alpha - half * psrc * g;
  c.an = gamma + half * qsrc * g;
  c.as = gamma - half * qsrc * g;
  c.ane = minus_half * beta;
  c.anw = half * beta;
  c.ase = half * beta;
  c.asw = minus_half * beta;
  c.ap = central(c.aw, c.an, c.ae, c.as);
  return c;
}

// The coefficients with both sources zero, as the fast pass and the
// multigrid take them: ae = aw = alpha, an = as = gamma,
// anw = ase = beta/2 = -ane = -asw. These are the bits coefficients() gives
// with psrc = qsrc = 0 wherever it raises no trap (alpha + 0 is alpha,
// (-0.5)*beta is -(0.5*beta)); jac, and the trap its reciprocal could raise,
// are left to the caller's range check (smoothing/fast/bounds.h).
// With them the determinant D, whose range the caller checks. (A structure
// is returned, never a bare vector: a vector of four doubles returned from a
// function compiled without AVX would change the calling convention, which
// clang refuses where the caller is the AVX2 loop.)
template <class V>
struct Unsourced {
  V alpha, gamma, half_beta, ap, determinant;
};

template <class V>
MALHA_ALWAYS_INLINE Unsourced<V> without_sources(const Derivatives<V>& d) {
  Unsourced<V> u;
  u.determinant = determinant(d);
  u.alpha = alpha(d);
  u.gamma = gamma(d);
  u.half_beta = constant<V>(0.5) * beta(d);
  u.ap = central(u.alpha, u.gamma, u.alpha, u.gamma);
  return u;
}

// The half source terms 0.5*P*D^2 and 0.5*Q*D^2 that the east/west and
// north/south coefficients add and take away, by the operations of
// coefficients() (jac = 1/D first, as a pass stores it): the multigrid's
// equations with sources (--control) are the pass's, term for term.
template <class V>
struct HalfSources {
  V p, q;
};

template <class V>
MALHA_ALWAYS_INLINE HalfSources<V> half_sources(const Derivatives<V>& d, V psrc, V qsrc) {
  const V half = constant<V>(0.5);
  const V jac = constant<V>(1.0) / determinant(d);
  const V g = constant<V>(1.0) / (jac * jac);
  return {half * psrc * g, half * qsrc * g};
}

// The nine coefficients with the sources, from the derivatives, as a pass
// computes them from its stored metric terms. (The vectors are passed by
// reference, as everywhere in this file where a vector of four doubles may
// be the value type: see Unsourced.)
template <class V>
MALHA_ALWAYS_INLINE Coefficients<V> with_sources(const Derivatives<V>& d, const V& psrc,
                                                 const V& qsrc) {
  return coefficients(alpha(d), beta(d), gamma(d), constant<V>(1.0) / determinant(d), psrc, qsrc);
}

}  // namespace malha::equation

// Level 0's loops on four vertices at once (smoothing/multigrid/wide.h).
// The four-lane code is compiled for functions of their own (AVX2) and run
// only after a run-time check of the processor; the grid equation's
// templates (smoothing/equation.h, smoothing/multigrid/stencil.h) are always
// inlined into them, so each lane runs exactly the operations of the
// two-lane loops, one IEEE operation per lane, no fused multiply-add
// (smoothing/avx2.h).
#include "smoothing/avx2.h"

#include "smoothing/multigrid/wide.h"

#include <cstdint>

#include "smoothing/equation.h"

namespace malha::multigrid::wide {

#ifdef MALHA_AVX2

namespace {

using stencil::Equations;
using stencil::Stencil;

// Four doubles as a vector of the compiler's: its operators are one AVX
// instruction per operation.
typedef double Quad __attribute__((vector_size(32)));

// One row of a stencil_of_four: the west, centre and east values.
template <std::int64_t kStride>
__attribute__((target("avx2"), always_inline)) inline void row_of_four(const double* r, Quad& w,
                                                                       Quad& c, Quad& e) {
  if constexpr (kStride == 1) {
    w = _mm256_loadu_pd(r - 1), c = _mm256_loadu_pd(r), e = _mm256_loadu_pd(r + 1);
  } else {
    // unpack gives lanes 0, 2, 1, 3 of the wanted order; 0xD8 puts them right.
    const __m256d at = _mm256_loadu_pd(r), after = _mm256_loadu_pd(r + 4);
    const __m256d before = _mm256_loadu_pd(r - 1), later = _mm256_loadu_pd(r + 3);
    c = _mm256_permute4x64_pd(_mm256_unpacklo_pd(at, after), 0xD8);
    e = _mm256_permute4x64_pd(_mm256_unpackhi_pd(at, after), 0xD8);
    w = _mm256_permute4x64_pd(_mm256_unpacklo_pd(before, later), 0xD8);
  }
}

// Values u[0], u[1], u[2], u[3] (kStride 1) or u[0], u[2], u[4], u[6]
// (kStride 2: eight read, the even ones kept).
template <std::int64_t kStride>
__attribute__((target("avx2"), always_inline)) inline Quad load_four(const double* u) {
  if constexpr (kStride == 1) {
    return _mm256_loadu_pd(u);
  } else {
    const __m256d at = _mm256_loadu_pd(u), after = _mm256_loadu_pd(u + 4);
    return _mm256_permute4x64_pd(_mm256_unpacklo_pd(at, after), 0xD8);
  }
}

// The values of vertices p .. p + 3 (kStride 1) or p, p + 2, p + 4, p + 6
// (kStride 2) and their eight neighbours. With kStride 2 each row is read as
// eight values from p - 1 and p, split into the even and odd ones (nothing
// beyond p + 7, the east neighbour of the last).
template <std::int64_t kStride>
__attribute__((target("avx2"), always_inline)) inline Stencil<Quad> stencil_of_four(
    const double* u, std::int64_t p, std::int64_t nx) {
  Stencil<Quad> v;
  row_of_four<kStride>(u + p - nx, v.sw, v.s, v.se);
  row_of_four<kStride>(u + p, v.w, v.c, v.e);
  row_of_four<kStride>(u + p + nx, v.nw, v.n, v.ne);
  return v;
}

__attribute__((target("avx2"), always_inline)) inline void put(const Equations& out, std::int64_t c,
                                                               const stencil::Equation<Quad>& e) {
  _mm256_storeu_pd(out.lower + c, e.lower), _mm256_storeu_pd(out.diag + c, e.diag);
  _mm256_storeu_pd(out.upper + c, e.upper);
  _mm256_storeu_pd(out.bx + c, e.bx), _mm256_storeu_pd(out.by + c, e.by);
}

template <bool kAlongRow, std::int64_t kStride>
__attribute__((target("avx2"))) std::int64_t build_unit_avx2(const Level& level, std::int64_t j,
                                                             std::int64_t i0, std::int64_t c,
                                                             std::int64_t count,
                                                             const Equations& out) {
  const std::int64_t nx = level.ax.n;
  const Quad one = _mm256_set1_pd(1.0), zero = _mm256_set1_pd(0.0);
  const stencil::Factors<Quad> f{_mm256_set1_pd(level.ax.first[1]),
                                 _mm256_set1_pd(level.ay.first[1]),
                                 one,
                                 one,
                                 one,
                                 one,
                                 one};
  for (; c + 3 < count; c += 4) {
    const std::int64_t p = j * nx + i0 + kStride * c;
    const Stencil<Quad> sx = stencil_of_four<kStride>(level.x, p, nx);
    const Stencil<Quad> sy = stencil_of_four<kStride>(level.y, p, nx);
    put(out, c, stencil::equation<kAlongRow, true>(sx, sy, f, zero, zero));
  }
  return c;
}

// The equations of a coarser level's line without sources, from vertex c
// on: the operations of stencil::build's one-vertex loop, each factor of
// the axes taken at the lane's vertex.
template <bool kAlongRow, std::int64_t kStride>
__attribute__((target("avx2"))) std::int64_t build_coarse_avx2(const Level& level, std::int64_t j,
                                                               std::int64_t i0, std::int64_t c,
                                                               std::int64_t count,
                                                               const Equations& out,
                                                               bool with_rhs) {
  const std::int64_t nx = level.ax.n;
  const Axis &ax = level.ax, &ay = level.ay;
  const bool has_rhs = with_rhs && !level.fx.empty();
  const Quad zero = _mm256_set1_pd(0.0), cross_j = _mm256_set1_pd(ay.cross[j]);
  const Quad first_j = _mm256_set1_pd(ay.first[j]), next_j = _mm256_set1_pd(ay.next[j]);
  const Quad previous_j = _mm256_set1_pd(ay.previous[j]);
  for (; c + 3 < count; c += 4) {
    const std::int64_t i = i0 + kStride * c, p = j * nx + i;
    const stencil::Factors<Quad> f{load_four<kStride>(ax.first.data() + i),
                                   first_j,
                                   load_four<kStride>(ax.next.data() + i),
                                   load_four<kStride>(ax.previous.data() + i),
                                   next_j,
                                   previous_j,
                                   load_four<kStride>(ax.cross.data() + i) * cross_j};
    const Quad fx = has_rhs ? load_four<kStride>(level.fx.data() + p) : zero;
    const Quad fy = has_rhs ? load_four<kStride>(level.fy.data() + p) : zero;
    const Stencil<Quad> sx = stencil_of_four<kStride>(level.x, p, nx);
    const Stencil<Quad> sy = stencil_of_four<kStride>(level.y, p, nx);
    put(out, c, stencil::equation<kAlongRow, false>(sx, sy, f, fx, fy));
  }
  return c;
}

__attribute__((target("avx2"))) std::int64_t next_steps_avx2(const Equations& e, const Equations& b,
                                                             std::int64_t c, std::int64_t count) {
  const __m256d one = _mm256_set1_pd(1.0);
  for (; c + 3 < count; c += 4) {
    const __m256d lower = _mm256_loadu_pd(e.lower + c);
    const __m256d inverse =
        _mm256_div_pd(one, _mm256_sub_pd(_mm256_loadu_pd(e.diag + c),
                                         _mm256_mul_pd(lower, _mm256_loadu_pd(b.upper + c))));
    _mm256_storeu_pd(e.upper + c, _mm256_mul_pd(_mm256_loadu_pd(e.upper + c), inverse));
    _mm256_storeu_pd(e.bx + c,
                     _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(e.bx + c),
                                                 _mm256_mul_pd(lower, _mm256_loadu_pd(b.bx + c))),
                                   inverse));
    _mm256_storeu_pd(e.by + c,
                     _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(e.by + c),
                                                 _mm256_mul_pd(lower, _mm256_loadu_pd(b.by + c))),
                                   inverse));
  }
  return c;
}

__attribute__((target("avx2"))) std::int64_t level0_residuals_avx2(
    Level& level, std::int64_t p, std::int64_t row, std::int64_t end, double cksi, double ceta,
    lanes::Pair& det_low, lanes::Pair& det_high, Move& move) {
  const std::int64_t nx = level.ax.n;
  const Quad ck = _mm256_set1_pd(cksi), ce = _mm256_set1_pd(ceta);
  const __m256d sign = _mm256_set1_pd(-0.0);
  __m128d low = det_low.v, high = det_high.v;
  for (; p + 3 < end; p += 4) {
    const Stencil<Quad> x = stencil_of_four<1>(level.x, p, nx);
    const Stencil<Quad> y = stencil_of_four<1>(level.y, p, nx);
    // The operations of the two-lane loop (smoothing/multigrid/residual.cpp).
    const equation::Derivatives<Quad> d =
        equation::derivatives(x.e, x.w, x.n, x.s, y.e, y.w, y.n, y.s, ck, ce);
    const equation::Unsourced<Quad> c = equation::without_sources(d);
    // The bounds take vertices p, p + 1 and then p + 2, p + 3, as the
    // two-lane loop's do (its minimum keeps the later of two NaNs' order).
    const __m256d det = _mm256_andnot_pd(sign, c.determinant);
    low = _mm_min_pd(low, _mm256_castpd256_pd128(det));
    low = _mm_min_pd(low, _mm256_extractf128_pd(det, 1));
    high = _mm_max_pd(high, _mm256_castpd256_pd128(det));
    high = _mm_max_pd(high, _mm256_extractf128_pd(det, 1));
    const Quad a = c.alpha, g = c.gamma, hb = c.half_beta, ap = c.ap;
    const Quad nhb = -hb;
    const Quad sx =
        nhb * x.sw + g * x.s + g * x.n + hb * x.nw + a * x.w + a * x.e + hb * x.se + nhb * x.ne;
    const Quad sy =
        nhb * y.sw + g * y.s + g * y.n + hb * y.nw + a * y.w + a * y.e + hb * y.se + nhb * y.ne;
    const Quad rx = ap * x.c - sx, ry = ap * y.c - sy;
    _mm256_storeu_pd(level.rx.data() + (p - row), rx);
    _mm256_storeu_pd(level.ry.data() + (p - row), ry);
    const __m256d larger = _mm256_max_pd(_mm256_andnot_pd(sign, rx), _mm256_andnot_pd(sign, ry));
    const __m256d magnitude = _mm256_andnot_pd(sign, ap);
    if (move.vertex == 0 ||
        _mm256_movemask_pd(_mm256_cmp_pd(
            larger, _mm256_mul_pd(_mm256_set1_pd(move.largest * kBelowOne), magnitude),
            _CMP_GT_OQ)) != 0) {
      double l[4], m[4];
      _mm256_storeu_pd(l, larger), _mm256_storeu_pd(m, magnitude);
      for (int k = 0; k < 4; ++k) keep_larger(move, l[k], m[k], p + k);
    }
  }
  det_low.v = low, det_high.v = high;
  return p;
}

}  // namespace

bool available() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

std::int64_t next_steps(const Equations& e, const Equations& b, std::int64_t c,
                        std::int64_t count) {
  return next_steps_avx2(e, b, c, count);
}

std::int64_t level0_residuals(Level& level, std::int64_t p, std::int64_t row, std::int64_t end,
                              double cksi, double ceta, lanes::Pair& det_low, lanes::Pair& det_high,
                              Move& move) {
  return level0_residuals_avx2(level, p, row, end, cksi, ceta, det_low, det_high, move);
}

}  // namespace malha::multigrid::wide

namespace malha::multigrid::stencil {

template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_unit(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t c,
                             std::int64_t count, const Equations& out) {
  return wide::build_unit_avx2<kAlongRow, kStride>(level, j, i0, c, count, out);
}

template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_coarse(const Level& level, std::int64_t j, std::int64_t i0, std::int64_t c,
                               std::int64_t count, const Equations& out, bool with_rhs) {
  return wide::build_coarse_avx2<kAlongRow, kStride>(level, j, i0, c, count, out, with_rhs);
}

}  // namespace malha::multigrid::stencil

namespace malha::multigrid::wide {

#else

bool available() {
  return false;
}

}  // namespace malha::multigrid::wide

namespace malha::multigrid::stencil {

template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_unit(const Level&, std::int64_t, std::int64_t, std::int64_t c, std::int64_t,
                             const Equations&) {
  return c;
}

template <bool kAlongRow, std::int64_t kStride>
std::int64_t wide_build_coarse(const Level&, std::int64_t, std::int64_t, std::int64_t c,
                               std::int64_t, const Equations&, bool) {
  return c;
}

}  // namespace malha::multigrid::stencil

namespace malha::multigrid::wide {

std::int64_t next_steps(const stencil::Equations&, const stencil::Equations&, std::int64_t c,
                        std::int64_t) {
  return c;
}

std::int64_t level0_residuals(Level&, std::int64_t p, std::int64_t, std::int64_t, double, double,
                              lanes::Pair&, lanes::Pair&, Move&) {
  return p;
}

#endif

}  // namespace malha::multigrid::wide

// The line equations' builders of both kinds of build, for the two sweeps.
namespace malha::multigrid::stencil {

template std::int64_t wide_build_unit<true, 1>(const Level&, std::int64_t, std::int64_t,
                                               std::int64_t, std::int64_t, const Equations&);
template std::int64_t wide_build_unit<false, 2>(const Level&, std::int64_t, std::int64_t,
                                                std::int64_t, std::int64_t, const Equations&);
template std::int64_t wide_build_coarse<true, 1>(const Level&, std::int64_t, std::int64_t,
                                                 std::int64_t, std::int64_t, const Equations&,
                                                 bool);
template std::int64_t wide_build_coarse<false, 2>(const Level&, std::int64_t, std::int64_t,
                                                  std::int64_t, std::int64_t, const Equations&,
                                                  bool);

}  // namespace malha::multigrid::stencil

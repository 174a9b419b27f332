// Steps 3 to 5 of the fast smoothing pass (the argument is in
// smoothing/fast/pass.cpp): the metric terms and the coefficient arrays (four
// without sources, six with them) in one loop with the traps held, the check
// of what it left out, and the packing of x and y into the interleaved array
// of step 8.
// The four-lane loop and its warning: smoothing/avx2.h.
#include "smoothing/avx2.h"

#include <algorithm>
#include <cfenv>
#include <cstdint>
#include <limits>

#include "helper_thread.h"
#include "platform.h"
#include "smoothing/equation.h"
#include "smoothing/fast/bounds.h"
#include "smoothing/fast/parts.h"
#include "smoothing/lanes.h"
#include "variaveis.h"

namespace malha {

namespace {

using namespace lanes;

// Step 8: x and y of 0-based vertex p into u, interleaved: u[2p], u[2p + 1].
inline void pack(double* u, const double* xv, const double* yv, std::int64_t p) {
  u[2 * p] = xv[p];
  u[2 * p + 1] = yv[p];
}

// The arrays the fused loop fills (step 1), and the source terms it reads
// when there are any.
struct FusedArrays : CoefficientArrays {
  // cppcheck-suppress unusedStructMember ; read by the loops' templates
  const double* psrc;
  // cppcheck-suppress unusedStructMember ; read by the loops' templates
  const double* qsrc;
};

// Step 5's bounds: the smallest and the largest |det|, and with sources the
// smallest |ap|, of the vertices seen so far.
struct Bounds {
  double det_low = std::numeric_limits<double>::max();
  double det_high = 0.0;
  double ap_low = std::numeric_limits<double>::max();
};

#ifdef MALHA_AVX2
// Four doubles as a vector of the compiler's, for the grid equation's
// templates (smoothing/equation.h): its operators are one AVX instruction
// per operation in the function below. The templates are always inlined into
// it, so no call passes such a vector (see the top of this file).
typedef double Quad __attribute__((vector_size(32)));

bool avx2_available() {
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
}

// Steps 3 and 4 on four vertices per vector: the loop of
// fused_coefficient_rows from p while four are left up to `last`; returns
// where it stopped. The operations per lane are those of the two-lane loop.
template <bool Sourced>
__attribute__((target("avx2"))) std::int64_t coefficients_avx2(const double* xv, const double* yv,
                                                               const FusedArrays& a, double* u,
                                                               std::int64_t nxv, double cksi,
                                                               double ceta, std::int64_t p,
                                                               std::int64_t last, Bounds& bounds) {
  if (p + 3 > last) return p;
  const __m256d ck = _mm256_set1_pd(cksi), ce = _mm256_set1_pd(ceta);
  const __m256d sign = _mm256_set1_pd(-0.0);
  __m256d low = _mm256_set1_pd(bounds.det_low), high = _mm256_set1_pd(bounds.det_high);
  __m256d ap_low = _mm256_set1_pd(bounds.ap_low);
  for (; p + 3 <= last; p += 4) {
    const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
    const equation::Derivatives<Quad> d = equation::derivatives<Quad>(
        _mm256_loadu_pd(xv + e), _mm256_loadu_pd(xv + w), _mm256_loadu_pd(xv + n),
        _mm256_loadu_pd(xv + so), _mm256_loadu_pd(yv + e), _mm256_loadu_pd(yv + w),
        _mm256_loadu_pd(yv + n), _mm256_loadu_pd(yv + so), ck, ce);
    if constexpr (Sourced) {
      const equation::Coefficients<Quad> c =
          equation::with_sources<Quad>(d, _mm256_loadu_pd(a.psrc + p), _mm256_loadu_pd(a.qsrc + p));
      // The determinant through the structure of without_sources (its other
      // members unused): no function returns a bare vector here (top of file).
      const __m256d det = _mm256_andnot_pd(sign, equation::without_sources(d).determinant);
      low = _mm256_min_pd(low, det);
      high = _mm256_max_pd(high, det);
      ap_low = _mm256_min_pd(ap_low, _mm256_andnot_pd(sign, c.ap));
      _mm256_storeu_pd(a.west + p, c.aw);
      _mm256_storeu_pd(a.east + p, c.ae);
      _mm256_storeu_pd(a.south + p, c.as);
      _mm256_storeu_pd(a.north + p, c.an);
      _mm256_storeu_pd(a.half_beta + p, c.anw);
      _mm256_storeu_pd(a.ap + p, c.ap);
    } else {
      const equation::Unsourced<Quad> c = equation::without_sources(d);
      const __m256d det = _mm256_andnot_pd(sign, c.determinant);
      low = _mm256_min_pd(low, det);
      high = _mm256_max_pd(high, det);
      _mm256_storeu_pd(a.west + p, c.alpha);
      _mm256_storeu_pd(a.south + p, c.gamma);
      _mm256_storeu_pd(a.half_beta + p, c.half_beta);
      _mm256_storeu_pd(a.ap + p, c.ap);
    }
    const __m256d x = _mm256_loadu_pd(xv + p), y = _mm256_loadu_pd(yv + p);
    const __m256d even = _mm256_unpacklo_pd(x, y), odd = _mm256_unpackhi_pd(x, y);
    _mm256_storeu_pd(u + 2 * p, _mm256_permute2f128_pd(even, odd, 0x20));
    _mm256_storeu_pd(u + 2 * p + 4, _mm256_permute2f128_pd(even, odd, 0x31));
  }
  double lows[4], highs[4], ap_lows[4];
  _mm256_storeu_pd(lows, low);
  _mm256_storeu_pd(highs, high);
  _mm256_storeu_pd(ap_lows, ap_low);
  for (int k = 0; k < 4; ++k) {
    bounds.det_low = lows[k] < bounds.det_low ? lows[k] : bounds.det_low;
    bounds.det_high = highs[k] > bounds.det_high ? highs[k] : bounds.det_high;
    bounds.ap_low = ap_lows[k] < bounds.ap_low ? ap_lows[k] : bounds.ap_low;
  }
  return p;
}
#endif

// Steps 4 and 5: the metric terms and the coefficients of the interior
// vertices of rows first_row .. last_row in one loop, kept in the arrays of
// step 1, two neighbouring vertices per vector (step 3); the same loop fills
// u (step 8). Runs with the traps held; true when no trapped exception was
// raised, every det lies in the safe range and, with sources, no ap is zero.
template <bool Sourced>
bool fused_coefficient_rows(const MeshState& s, const FusedArrays& a, double* u,
                            std::int64_t first_row, std::int64_t last_row, bool avx2) {
  const platform::FpTrapsHeld held;
  std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  const std::int64_t nxv = s.nxv;
  const double cksi = 0.5 / s.dksi;
  const double ceta = 0.5 / s.deta;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();

  const Pair ck = splat(cksi), ce = splat(ceta);
  Pair det_low = splat(std::numeric_limits<double>::max());
  Pair det_high = splat(0.0);
  Pair ap_low = splat(std::numeric_limits<double>::max());
  const auto vertices = [&](std::int64_t p, auto ld, auto st) {
    const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
    const equation::Derivatives<Pair> d =
        equation::derivatives(ld(xv + e), ld(xv + w), ld(xv + n), ld(xv + so), ld(yv + e),
                              ld(yv + w), ld(yv + n), ld(yv + so), ck, ce);
    if constexpr (Sourced) {
      const equation::Coefficients<Pair> c =
          equation::with_sources(d, ld(a.psrc + p), ld(a.qsrc + p));
      const Pair det = magnitude(equation::determinant(d));
      det_low = lower(det_low, det);
      det_high = higher(det_high, det);
      ap_low = lower(ap_low, magnitude(c.ap));
      st(a.west + p, c.aw);
      st(a.east + p, c.ae);
      st(a.south + p, c.as);
      st(a.north + p, c.an);
      st(a.half_beta + p, c.anw);
      st(a.ap + p, c.ap);
    } else {
      const equation::Unsourced<Pair> c = equation::without_sources(d);
      const Pair det = magnitude(c.determinant);
      det_low = lower(det_low, det);
      det_high = higher(det_high, det);
      st(a.west + p, c.alpha);
      st(a.south + p, c.gamma);
      st(a.half_beta + p, c.half_beta);
      st(a.ap + p, c.ap);
    }
  };
  const auto load_two = [](const double* q) { return load(q); };
  const auto store_two = [](double* q, Pair v) { store(q, v); };
  // One vertex in both lanes (the last of an odd count).
  const auto load_one = [](const double* q) { return splat(*q); };
  const auto store_one = [](double* q, Pair v) { *q = lane(v, 0); };
#ifdef MALHA_AVX2
  const bool wide = avx2 && avx2_available();
  Bounds wide_bounds;
#else
  (void)avx2;
#endif
  for (std::int64_t j = first_row; j <= last_row; ++j) {
    const std::int64_t first = (j - 1) * nxv + 1, last = (j - 1) * nxv + nxv - 2;
    std::int64_t p = first;
#ifdef MALHA_AVX2
    if (wide) p = coefficients_avx2<Sourced>(xv, yv, a, u, nxv, cksi, ceta, p, last, wide_bounds);
#endif
    for (; p + 1 <= last; p += 2) {
      vertices(p, load_two, store_two);
      const Pair x = load(xv + p), y = load(yv + p);
      store(u + 2 * p, first_lanes(x, y));
      store(u + 2 * p + 2, second_lanes(x, y));
    }
    if (p == last) {
      vertices(p, load_one, store_one);
      pack(u, xv, yv, p);
    }
  }
#ifdef MALHA_AVX2
  det_low = lower(det_low, splat(wide_bounds.det_low));
  det_high = higher(det_high, splat(wide_bounds.det_high));
  ap_low = lower(ap_low, splat(wide_bounds.ap_low));
#endif
  // With no vertex at all the bounds keep their starting values, which lie in
  // the range. (A NaN ap fails the last test; the invalid-operation flag has
  // caught it before.)
  const bool in_range = std::min(lane(det_low, 0), lane(det_low, 1)) >= kSafeDetLow &&
                        std::max(lane(det_high, 0), lane(det_high, 1)) <= kSafeDetHigh &&
                        (!Sourced || std::min(lane(ap_low, 0), lane(ap_low, 1)) > 0.0);
  return in_range && std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) == 0;
}

// Step 8: the boundary vertices into u.
void pack_boundary(const MeshState& s, double* u) {
  const std::int64_t nxv = s.nxv, nyv = s.nyv;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();
  for (std::int64_t p = 0; p < nxv; ++p) {
    pack(u, xv, yv, p);
    pack(u, xv, yv, (nyv - 1) * nxv + p);
  }
  for (std::int64_t j = 2; j <= nyv - 1; ++j) {
    pack(u, xv, yv, (j - 1) * nxv);
    pack(u, xv, yv, (j - 1) * nxv + nxv - 1);
  }
}

}  // namespace

CoefficientArrays coefficient_arrays(MeshState& s, bool sourced) {
  if (sourced)
    return {s.aw.data(), s.ae.data(), s.as.data(), s.an.data(), s.anw.data(), s.ap.data()};
  return {s.alpha.data(), s.alpha.data(), s.gamma.data(),
          s.gamma.data(), s.anw.data(),   s.ap.data()};
}

// Steps 4 and 5 over the whole mesh: the upper half of the rows on the
// helper when there is one.
bool fused_coefficients(MeshState& s, double* u, HelperThread* helper, bool avx2, bool sourced) {
  pack_boundary(s, u);
  const CoefficientArrays c = coefficient_arrays(s, sourced);
  const FusedArrays a{c, s.psrc.data(), s.qsrc.data()};
  const auto rows = [&](std::int64_t first_row, std::int64_t last_row) {
    return sourced ? fused_coefficient_rows<true>(s, a, u, first_row, last_row, avx2)
                   : fused_coefficient_rows<false>(s, a, u, first_row, last_row, avx2);
  };
  const std::int64_t nyv = s.nyv;
  if (helper == nullptr || nyv < 6) return rows(2, nyv - 1);
  const std::int64_t middle = 2 + (nyv - 2) / 2;
  bool upper = false;
  if (!helper->try_start([&] { upper = rows(middle, nyv - 1); })) return rows(2, nyv - 1);
  const bool lower_half = rows(2, middle - 1);
  helper->finish();
  return lower_half && upper;
}

}  // namespace malha

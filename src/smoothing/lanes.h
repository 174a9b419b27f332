// The lane type of the fast smoothing: two doubles operated on lane by lane,
// each lane rounded on its own exactly as the scalar operation would round
// it. There is no fused multiply-add among the operations, and the build
// forbids the compiler to contract a * b + c into one. SSE2 where the
// compiler targets it, else plain doubles.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define MALHA_SSE2 1
#endif

// For the few small functions of the inner loops that the compiler must not
// leave as calls.
#if defined(__GNUC__)
#define MALHA_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define MALHA_ALWAYS_INLINE __forceinline
#else
#define MALHA_ALWAYS_INLINE inline
#endif

namespace malha::lanes {

// Two doubles operated on lane by lane: (x, y) of one vertex in the sweeps,
// one value of two neighbouring vertices in the coefficient loop.
#ifdef MALHA_SSE2
struct Pair {
  __m128d v;
};
inline Pair load(const double* p) {
  return {_mm_loadu_pd(p)};
}
inline void store(double* p, Pair a) {
  _mm_storeu_pd(p, a.v);
}
inline Pair splat(double d) {
  return {_mm_set1_pd(d)};
}
inline Pair operator*(Pair a, Pair b) {
  return {_mm_mul_pd(a.v, b.v)};
}
inline Pair operator+(Pair a, Pair b) {
  return {_mm_add_pd(a.v, b.v)};
}
inline Pair operator-(Pair a, Pair b) {
  return {_mm_sub_pd(a.v, b.v)};
}
inline Pair operator/(Pair a, Pair b) {
  return {_mm_div_pd(a.v, b.v)};
}
inline Pair magnitude(Pair a) {
  return {_mm_andnot_pd(_mm_set1_pd(-0.0), a.v)};
}
inline Pair lower(Pair a, Pair b) {
  return {_mm_min_pd(a.v, b.v)};
}
inline Pair higher(Pair a, Pair b) {
  return {_mm_max_pd(a.v, b.v)};
}
inline Pair first_lanes(Pair a, Pair b) {
  return {_mm_unpacklo_pd(a.v, b.v)};
}
inline Pair second_lanes(Pair a, Pair b) {
  return {_mm_unpackhi_pd(a.v, b.v)};
}
inline double lane(Pair a, int n) {
  double d[2];
  _mm_storeu_pd(d, a.v);
  return d[n];
}
// Bitwise: the bits in which a and b differ, and whether any bit is set. Not
// arithmetic: -0.0 differs from 0.0, and a NaN from itself only by its bits.
inline Pair bits_differing(Pair a, Pair b) {
  return {_mm_xor_pd(a.v, b.v)};
}
inline Pair bits_either(Pair a, Pair b) {
  return {_mm_or_pd(a.v, b.v)};
}
inline bool any_greater(Pair a, Pair b) {
  return _mm_movemask_pd(_mm_cmpgt_pd(a.v, b.v)) != 0;
}
inline bool any_bit(Pair a) {
  const __m128i bytes = _mm_castpd_si128(a.v);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())) != 0xFFFF;
}
#else
struct Pair {
  double x, y;
};
inline Pair load(const double* p) {
  return {p[0], p[1]};
}
inline void store(double* p, Pair a) {
  p[0] = a.x;
  p[1] = a.y;
}
inline Pair splat(double d) {
  return {d, d};
}
inline Pair operator*(Pair a, Pair b) {
  return {a.x * b.x, a.y * b.y};
}
inline Pair operator+(Pair a, Pair b) {
  return {a.x + b.x, a.y + b.y};
}
inline Pair operator-(Pair a, Pair b) {
  return {a.x - b.x, a.y - b.y};
}
inline Pair operator/(Pair a, Pair b) {
  return {a.x / b.x, a.y / b.y};
}
inline Pair magnitude(Pair a) {
  return {std::fabs(a.x), std::fabs(a.y)};
}
inline Pair lower(Pair a, Pair b) {
  return {b.x < a.x ? b.x : a.x, b.y < a.y ? b.y : a.y};
}
inline Pair higher(Pair a, Pair b) {
  return {b.x > a.x ? b.x : a.x, b.y > a.y ? b.y : a.y};
}
inline Pair first_lanes(Pair a, Pair b) {
  return {a.x, b.x};
}
inline Pair second_lanes(Pair a, Pair b) {
  return {a.y, b.y};
}
inline double lane(Pair a, int n) {
  return n == 0 ? a.x : a.y;
}
inline Pair bits_differing(Pair a, Pair b) {
  return {
      std::bit_cast<double>(std::bit_cast<std::uint64_t>(a.x) ^ std::bit_cast<std::uint64_t>(b.x)),
      std::bit_cast<double>(std::bit_cast<std::uint64_t>(a.y) ^ std::bit_cast<std::uint64_t>(b.y))};
}
inline Pair bits_either(Pair a, Pair b) {
  return {
      std::bit_cast<double>(std::bit_cast<std::uint64_t>(a.x) | std::bit_cast<std::uint64_t>(b.x)),
      std::bit_cast<double>(std::bit_cast<std::uint64_t>(a.y) | std::bit_cast<std::uint64_t>(b.y))};
}
inline bool any_greater(Pair a, Pair b) {
  return a.x > b.x || a.y > b.y;
}
inline bool any_bit(Pair a) {
  return (std::bit_cast<std::uint64_t>(a.x) | std::bit_cast<std::uint64_t>(a.y)) != 0;
}
#endif

}  // namespace malha::lanes

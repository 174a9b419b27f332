// What the four-lane loops share (smoothing/fast/coefficients.cpp,
// smoothing/multigrid/wide.cpp): MALHA_AVX2 where the compiler can build AVX2
// code for functions of their own, which run only after a run-time check of
// the processor; and the grid equation's templates instantiated for a
// vector of four doubles without GCC's and clang's warning that such a
// vector is returned differently with and without AVX. The templates are
// always inlined into the AVX2 functions, so no call returns one, and the
// warning (located in smoothing/equation.h) does not apply. Included first,
// before that header.
#pragma once

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#include "smoothing/lanes.h"  // MALHA_SSE2

#if defined(MALHA_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define MALHA_AVX2 1
#endif

// The fast smoothing pass. It gives the same coordinates, bit for bit, as the
// plain pass in solvers.cpp (compute_metrics, clear_sources,
// compute_coefficients, then gauss_seidel on xv and on yv), and stops the run
// with the same floating-point report wherever that would stop. The dispatch
// in solvers.cpp uses it only when neither source flag is 2.
//
// Why the bits are the same, step by step. Each part of the code below names
// the step it carries out.
//
// Step 1. Four coefficient arrays carry the nine. With both source arrays
//   zero, coefficients_at (coef.h) gives ae == aw == alpha and
//   an == as == gamma exactly (alpha + 0.5*0*g is alpha, g being finite and
//   positive), anw == ase == 0.5*beta, and ane == asw == -0.5*beta, which is
//   -(0.5*beta) exactly (rounding is symmetric), so its product with u is
//   -(0.5*beta*u). So alpha, gamma, hb = 0.5*beta (kept in anw) and ap carry
//   the same equations.
//
// Step 2. The same sum. The plain update of a vertex adds
//     asw*u(SW) + as*u(S) + an*u(N) + anw*u(NW) + aw*u(W) + ae*u(E)
//       + ase*u(SE) + ane*u(NE)
//   left to right, then divides by ap. Here the first two terms are
//   gamma*u(S) - hb*u(SW) (a + (-b) is a - b, and addition commutes exactly)
//   and the last one is subtracted (adding -(hb*u) is subtracting hb*u); every
//   other term is the same product in the same place. The same operations on
//   the same numbers in the same order give the same number.
//
// Step 3. Lanes. x and y use the same coefficients and never read each other,
//   so both are swept in one loop as the two lanes of one vector; the
//   coefficient loop takes two neighbouring vertices per vector (four with
//   AVX2). Each lane is rounded on its own, exactly like the scalar operation,
//   and no fused multiply-add is used (solvers_lanes.h).
//
// Step 4. Metrics and coefficients fused. One loop computes xeta, yeta, xksi,
//   yksi, alpha, beta, gamma and ap with the operations of metric_terms_at
//   (metricas.h) and coefficients_at, in their order, and leaves out those
//   that the four-array form does not read: jac = 1/det, g = 1/(jac*jac),
//   the source terms alpha + 0.5*0*g and the arrays it does not keep. ap is
//   ((aw + an) + ae) + as, that is ((alpha + gamma) + alpha) + gamma. Rows do
//   not read each other's results here, so two threads may take half each.
//
// Step 5. The traps of the operations left out. The fused loop runs with the
//   traps held; afterwards it checks the exception flags and the range of
//   |det| = |yeta*xksi - xeta*yksi|. Exactly for 2^-512 < |det| < 2^512 do the
//   operations left out raise nothing (kSafeDetLow and kSafeDetHigh,
//   solvers_fast.h; the tests check the doubles next to both ends and a
//   sample of the whole range): below it jac*jac overflows;
//   above it jac*jac is subnormal or zero and 1/(jac*jac) overflows or
//   divides by zero. The fused operations are a subset of the plain ones, so
//   with no flag raised and every det in range, the plain ones would not
//   have trapped either. Otherwise nothing has been written to xv and yv
//   yet, and the dispatch redoes the whole pass by the plain operations,
//   which then trap exactly where they would. A NaN det passes the range
//   check (the lane comparisons that keep the smallest and the largest |det|
//   drop a NaN); what catches it is the invalid-operation flag: the inputs
//   are finite (the coordinates of the pass before, which would have trapped
//   on an overflow, and spacings read as finite numbers), and a NaN comes
//   from finite numbers only through an invalid operation (inf - inf after
//   an overflow, 0 * inf), which raises that flag. The sweeps run with the
//   traps on and compute the plain values (steps 1 to 3 and 6).
//
// Step 6. The order of the updates. A task is one sweep over one row of
//   interior vertices. The update at column c of task (row j, sweep s) reads
//   columns c-1..c+1 of row j-1 as left by sweep s, of row j+1 as left by
//   sweep s-1, and of row j (c-1 of sweep s, c+1 of sweep s-1). Tasks are
//   ordered by the diagonal j + 2*s: the tasks that write what it reads,
//   (j-1, s), (j+1, s-1) and (j, s-1), lie on earlier diagonals; those that
//   overwrite it, (j-1, s+1), (j+1, s) and (j, s+1), on later ones; tasks on
//   one diagonal are two rows apart and never write a row another reads.
//   Tasks run in that order in groups of kRows, task r of a group 2*r columns
//   behind the first: an earlier task is always at least two columns ahead
//   (it has written column c+1 before this reads it) and a later one at least
//   two behind (it has not yet overwritten column c-1). So every update reads
//   the values it reads in the plain order, sweep after sweep, while the
//   sweeps move together through a band of rows that stays in cache. The
//   order is worked out task by task as the tasks run (TaskOrder,
//   solvers_wavefront.h, whose tests enumerate it and check these
//   properties): no list of the tasks is kept, so storage and bookkeeping do
//   not grow with the number of sweeps.
//   Rows too short for the tasks of a group to overlap are swept in the
//   plain order itself, sweep after sweep and row after row.
//
// Step 7. Two threads. The groups alternate between this thread and the
//   helper. A group's first task starts column c only once the last task of
//   the group before it, the one furthest behind, has completed columns up to
//   c + 1 (the progress counters of solvers_wavefront.h); earlier groups are
//   further ahead still. So the two-column distances of step 6 hold between
//   groups too, and each update sees the values of the one-thread order.
//   Whether one or two threads run is chosen by timing the passes (the
//   choice is kept in the SmoothingWorkspace the driver holds); the values
//   are the same either way.
//
// Step 8. The coordinates back. x and y are interleaved into one array for
//   the sweeps (the workspace's, had once for the run); the boundary vertices are copied in, read
//   and never written; the values of a row's last sweep are copied back to xv and yv once its group
//   has ended, after every task that reads them (all rows at the end when step 9 ends the sweeps
//   early).
//
// Step 9. A sweep that changes no bit ends the pass. A sweep computes every
//   value from the values of the sweep before and of its own (step 6). If
//   sweep s has left every bit as sweep s-1 left it, sweep s+1 reads, vertex
//   by vertex in the plain order, the same numbers as sweep s read, does the
//   same operations on them and gets the same results, raising nothing (sweep
//   s raised no trap); and so on for every later sweep. So once a whole sweep
//   has changed nothing, the values in hand are those of the last sweep, and
//   the remaining sweeps are skipped. To know it, the tasks compare each new
//   value with the one it replaces, bit by bit (-0.0 is not 0.0, a NaN is
//   compared by its bits), and record the latest sweep in which an ended task
//   changed a bit; tasks not compared (those of early sweeps) count as
//   changed. When the task of sweep s on the last row ends, every task of
//   sweep s has ended; if no ended task of sweep s or later has changed a
//   bit, sweep s changed nothing. With two threads, a thread records the
//   changes of a group before it publishes the group's last column, and the
//   other thread reads that column before its own next group ends (the
//   bookkeeping is EarlyEnd, solvers_wavefront.h). Once the early end is
//   set, a group the other thread has already started runs on without its
//   waits, out of the plain order; that changes nothing either. When sweep s
//   changed nothing, the values in hand are a fixed point of the update:
//   during sweep s every vertex's neighbours held the values they hold now,
//   and its update gave back its own value. So any update, in any order,
//   reads only values of that fixed point and returns the value already
//   there, bit for bit, raising nothing; and what it writes is again the
//   fixed point for the updates after it.
//
// Step 10. The order of the traps. The plain pass sweeps all of x before any
//   of y and each sweep row after row; here x and y go together as lanes,
//   the sweeps overlap (step 6), and two threads run at once. So the first
//   update to trap may not be the one the plain pass traps at. The report is
//   the same nonetheless, for three reasons. First, a pass traps here if and
//   only if it traps there: every update computes the plain value from the
//   plain values of the updates it reads (steps 6 and 7) until the first
//   trap, so an update that traps here traps there too, unless the plain
//   pass has trapped before it, and the other way round. Second, overflow is
//   the only exception a sweep can raise: its operations take finite
//   coefficients (step 5) and finite coordinates, and the divisor ap, twice
//   alpha + gamma, is about 4|det| or more (|det| <= |r_eta| |r_ksi|), so at
//   least about 2^-510 and never zero: no division by zero; an invalid
//   operation needs an infinity, and an overflow has trapped before one.
//   Third, the report of a trap names only its kind, no vertex, sweep or
//   lane. And when the two threads trap at the same moment, the fault
//   handler writes the first report only (platform/posix/traps.cpp,
//   platform/windows/traps.cpp). Nothing has been written to a file yet when a pass
//   traps, so the run leaves the same files behind.
#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "helper_thread.h"
#include "platform.h"
#include "solvers.h"
#include "solvers_fast.h"
#include "solvers_lanes.h"
#include "solvers_wavefront.h"

// AVX2 code is compiled for a function of its own and used only after a
// run-time check of the processor.
#if defined(MALHA_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define MALHA_AVX2 1
#endif

namespace malha {

namespace {

using namespace lanes;

// Step 8: x and y of 0-based vertex p into u, interleaved: u[2p], u[2p + 1].
inline void pack(double* u, const double* xv, const double* yv, std::int64_t p) {
  u[2 * p] = xv[p];
  u[2 * p + 1] = yv[p];
}

#ifdef MALHA_AVX2
bool avx2_available() {
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
}

// Steps 3 and 4 on four vertices per vector: the loop of
// fused_coefficient_rows from p while four are left up to `last`; returns
// where it stopped. The operations per lane are those of the two-lane loop.
__attribute__((target("avx2"))) std::int64_t coefficients_avx2(
    const double* xv, const double* yv, double* alpha, double* gamma, double* half_beta, double* ap,
    double* u, std::int64_t nxv, double cksi, double ceta, std::int64_t p, std::int64_t last,
    double& det_low, double& det_high) {
  if (p + 3 > last) return p;
  const __m256d ck = _mm256_set1_pd(cksi), ce = _mm256_set1_pd(ceta);
  const __m256d half = _mm256_set1_pd(0.5), sign = _mm256_set1_pd(-0.0);
  __m256d low = _mm256_set1_pd(det_low), high = _mm256_set1_pd(det_high);
  for (; p + 3 <= last; p += 4) {
    const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
    const __m256d xeta =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(xv + n), _mm256_loadu_pd(xv + so)), ce);
    const __m256d yeta =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(yv + n), _mm256_loadu_pd(yv + so)), ce);
    const __m256d xksi =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(xv + e), _mm256_loadu_pd(xv + w)), ck);
    const __m256d yksi =
        _mm256_mul_pd(_mm256_sub_pd(_mm256_loadu_pd(yv + e), _mm256_loadu_pd(yv + w)), ck);
    const __m256d a = _mm256_add_pd(_mm256_mul_pd(yeta, yeta), _mm256_mul_pd(xeta, xeta));
    const __m256d b = _mm256_add_pd(_mm256_mul_pd(xeta, xksi), _mm256_mul_pd(yeta, yksi));
    const __m256d g = _mm256_add_pd(_mm256_mul_pd(xksi, xksi), _mm256_mul_pd(yksi, yksi));
    const __m256d det =
        _mm256_andnot_pd(sign, _mm256_sub_pd(_mm256_mul_pd(yeta, xksi), _mm256_mul_pd(xeta, yksi)));
    low = _mm256_min_pd(low, det);
    high = _mm256_max_pd(high, det);
    _mm256_storeu_pd(alpha + p, a);
    _mm256_storeu_pd(gamma + p, g);
    _mm256_storeu_pd(half_beta + p, _mm256_mul_pd(half, b));
    _mm256_storeu_pd(ap + p, _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(a, g), a), g));
    const __m256d x = _mm256_loadu_pd(xv + p), y = _mm256_loadu_pd(yv + p);
    const __m256d even = _mm256_unpacklo_pd(x, y), odd = _mm256_unpackhi_pd(x, y);
    _mm256_storeu_pd(u + 2 * p, _mm256_permute2f128_pd(even, odd, 0x20));
    _mm256_storeu_pd(u + 2 * p + 4, _mm256_permute2f128_pd(even, odd, 0x31));
  }
  double lows[4], highs[4];
  _mm256_storeu_pd(lows, low);
  _mm256_storeu_pd(highs, high);
  for (int k = 0; k < 4; ++k) {
    det_low = lows[k] < det_low ? lows[k] : det_low;
    det_high = highs[k] > det_high ? highs[k] : det_high;
  }
  return p;
}
#endif

// Steps 4 and 5: the metric terms and the coefficients of the interior
// vertices of rows first_row .. last_row in one loop, kept as alpha, gamma,
// anw (0.5*beta) and ap, two neighbouring vertices per vector (step 3); the
// same loop fills u (step 8). Runs with the traps held; true when no trapped
// exception was raised and every det lies in the safe range.
bool fused_coefficient_rows(MeshState& s, double* u, std::int64_t first_row, std::int64_t last_row,
                            bool avx2) {
  const platform::FpTrapsHeld held;
  std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  const std::int64_t nxv = s.nxv;
  const double cksi = 0.5 / s.dksi;
  const double ceta = 0.5 / s.deta;
  const double* xv = s.xv.data();
  const double* yv = s.yv.data();
  double* alpha = s.alpha.data();
  double* gamma = s.gamma.data();
  double* half_beta = s.anw.data();
  double* ap = s.ap.data();

  const Pair ck = splat(cksi), ce = splat(ceta), half = splat(0.5);
  Pair det_low = splat(std::numeric_limits<double>::max());
  Pair det_high = splat(0.0);
  const auto vertices = [&](std::int64_t p, auto ld, auto st) {
    const std::int64_t e = p + 1, w = p - 1, n = p + nxv, so = p - nxv;
    const auto xeta = (ld(xv + n) - ld(xv + so)) * ce;
    const auto yeta = (ld(yv + n) - ld(yv + so)) * ce;
    const auto xksi = (ld(xv + e) - ld(xv + w)) * ck;
    const auto yksi = (ld(yv + e) - ld(yv + w)) * ck;
    const auto a = yeta * yeta + xeta * xeta;
    const auto b = xeta * xksi + yeta * yksi;
    const auto g = xksi * xksi + yksi * yksi;
    const auto det = magnitude(yeta * xksi - xeta * yksi);
    det_low = lower(det_low, det);
    det_high = higher(det_high, det);
    st(alpha + p, a);
    st(gamma + p, g);
    st(half_beta + p, half * b);
    st(ap + p, ((a + g) + a) + g);  // ((aw + an) + ae) + as
  };
  const auto load_two = [](const double* q) { return load(q); };
  const auto store_two = [](double* q, Pair v) { store(q, v); };
  // One vertex in both lanes (the last of an odd count).
  const auto load_one = [](const double* q) { return splat(*q); };
  const auto store_one = [](double* q, Pair v) { *q = lane(v, 0); };
#ifdef MALHA_AVX2
  const bool wide = avx2 && avx2_available();
  double wide_low = std::numeric_limits<double>::max(), wide_high = 0.0;
#else
  (void)avx2;
#endif
  for (std::int64_t j = first_row; j <= last_row; ++j) {
    const std::int64_t first = (j - 1) * nxv + 1, last = (j - 1) * nxv + nxv - 2;
    std::int64_t p = first;
#ifdef MALHA_AVX2
    if (wide) {
      p = coefficients_avx2(xv, yv, alpha, gamma, half_beta, ap, u, nxv, cksi, ceta, p, last,
                            wide_low, wide_high);
    }
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
  det_low = lower(det_low, splat(wide_low));
  det_high = higher(det_high, splat(wide_high));
#endif
  // With no vertex at all the bounds keep their starting values, which lie in
  // the range.
  const bool in_range = std::min(lane(det_low, 0), lane(det_low, 1)) >= kSafeDetLow &&
                        std::max(lane(det_high, 0), lane(det_high, 1)) <= kSafeDetHigh;
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

// Steps 4 and 5 over the whole mesh: the upper half of the rows on the
// helper when there is one.
bool fused_coefficients(MeshState& s, double* u, HelperThread* helper, bool avx2) {
  pack_boundary(s, u);
  const std::int64_t nyv = s.nyv;
  if (helper == nullptr || nyv < 6) return fused_coefficient_rows(s, u, 2, nyv - 1, avx2);
  const std::int64_t middle = 2 + (nyv - 2) / 2;
  bool upper = false;
  if (!helper->try_start([&] { upper = fused_coefficient_rows(s, u, middle, nyv - 1, avx2); }))
    return fused_coefficient_rows(s, u, 2, nyv - 1, avx2);
  const bool lower_half = fused_coefficient_rows(s, u, 2, middle - 1, avx2);
  helper->finish();
  return lower_half && upper;
}

// The coefficients and the interleaved coordinates a sweep reads.
struct SweepData {
  double* u;
  const double* alpha;
  const double* gamma;
  const double* half_beta;
  const double* ap;
  std::int64_t nxv;
};

// Steps 1 to 3: the Gauss-Seidel update of x and y at 0-based vertex p.
// `west` is u(W), passed in by a caller that has it in a register.
MALHA_ALWAYS_INLINE Pair update(const SweepData& d, std::int64_t p, Pair west) {
  double* u = d.u;
  const std::int64_t nxv = d.nxv;
  const Pair a = splat(d.alpha[p]), g = splat(d.gamma[p]), hb = splat(d.half_beta[p]);
  const std::int64_t so = p - nxv, n = p + nxv;
  Pair sum = g * load(u + 2 * so) - hb * load(u + 2 * (so - 1));  // as*u(S) + asw*u(SW)
  sum = sum + g * load(u + 2 * n);                                // an*u(N)
  sum = sum + hb * load(u + 2 * (n - 1));                         // anw*u(NW)
  sum = sum + a * west;                                           // aw*u(W)
  sum = sum + a * load(u + 2 * (p + 1));                          // ae*u(E)
  sum = sum + hb * load(u + 2 * (so + 1));                        // ase*u(SE)
  sum = sum - hb * load(u + 2 * (n + 1));                         // ane*u(NE)
  const Pair result = sum / splat(d.ap[p]);
  store(u + 2 * p, result);
  return result;
}

// Step 9: what a group of tasks tells about the sweeps it ran, `changed[r]`
// holding the bits in which task r's new values differ from those they
// replaced.
struct GroupChanges {
  Pair changed[kRows];
};

// The update at p; with Watch, step 9's comparison of the new value with the
// one it replaces (the same vertex's value of the sweep before).
template <bool Watch>
MALHA_ALWAYS_INLINE Pair watched_update(const SweepData& d, std::int64_t p, Pair west,
                                        Pair& changed) {
  if constexpr (Watch) {
    const Pair before = load(d.u + 2 * p);
    const Pair after = update(d, p, west);
    changed = bits_either(changed, bits_differing(after, before));
    return after;
  } else {
    return update(d, p, west);
  }
}

// Step 6 (and step 7's waits): one group of R row tasks. row_start[r] is the
// 0-based index of the first interior vertex of task r's row; task r works on
// column t - 2r at step t. The first task needs the group before it two
// columns ahead; the others follow from the lags. With Watch, step 9's
// record of changed bits is kept. The last column of the group is not
// published here: the caller publishes it once it has recorded the changes.
template <int R, bool Watch>
void run_group(const SweepData& d, const std::int64_t* row_start, std::int64_t ncols,
               Progress& progress, GroupChanges& changes) {
  const std::int64_t steps = ncols + 2 * (R - 1);
  const auto watched = [&](int r, std::int64_t p, Pair west) {
    return watched_update<Watch>(d, p, west, changes.changed[r]);
  };
  const auto partial_step = [&](std::int64_t t) {
    if (t < ncols) progress.wait_for(std::min(t + 2, ncols));
    for (int r = 0; r < R; ++r) {
      const std::int64_t c = t - 2 * r;
      if (c >= 0 && c < ncols) watched(r, row_start[r] + c, load(d.u + 2 * (row_start[r] + c - 1)));
    }
    const std::int64_t done = t - 2 * (R - 1) + 1;  // columns of the last task
    if (done > 0 && done < ncols) progress.publish(done);
  };
  std::int64_t t = 0;
  for (; t < std::min<std::int64_t>(2 * (R - 1), ncols); ++t) partial_step(t);
  if (t < ncols) {
    // All tasks active until the first one ends its row. Each task's new
    // value is its next vertex's west neighbour, kept in a register instead
    // of being read back from memory.
    Pair west[R];
    for (int r = 0; r < R; ++r) west[r] = load(d.u + 2 * (row_start[r] + t - 2 * r - 1));
    for (; t < ncols; ++t) {
      progress.wait_for(std::min(t + 2, ncols));
      for (int r = 0; r < R; ++r) west[r] = watched(r, row_start[r] + t - 2 * r, west[r]);
      const std::int64_t done = t - 2 * (R - 1) + 1;
      if (done < ncols) progress.publish(done);
    }
  }
  for (; t < steps; ++t) partial_step(t);
}

// A group of `count` tasks (1 to R).
template <bool Watch, int R = kRows>
void run_tasks(const SweepData& d, const std::int64_t* row_start, std::int64_t count,
               std::int64_t ncols, Progress& progress, GroupChanges& changes) {
  if constexpr (R > 1) {
    if (count < R) {
      run_tasks<Watch, R - 1>(d, row_start, count, ncols, progress, changes);
      return;
    }
  }
  run_group<R, Watch>(d, row_start, ncols, progress, changes);
}

// Step 8: the values of the row whose first interior vertex is `start` back
// to xv and yv.
void copy_row_back(const double* u, double* xv, double* yv, std::int64_t start,
                   std::int64_t ncols) {
  for (std::int64_t p = start; p < start + ncols; ++p) {
    xv[p] = u[2 * p];
    yv[p] = u[2 * p + 1];
  }
}

// Step 9: the sweeps of a pass from which on the tasks are watched for a
// change (the comparison costs a little; a pass with fewer sweeps has little
// to save).
constexpr std::int64_t kWatchedSweeps = 16;

// Rows shorter than this are swept in the plain order: the tasks of a group
// would hardly overlap (task r starts 2r columns late).
constexpr std::int64_t kGroupColumns = 4 * kRows;

// Steps 8 and 9 for rows shorter than kGroupColumns: sweep after sweep, row
// after row, as the plain loops do.
void sweep_in_order(const SweepData& d, double* xv, double* yv, std::int64_t nrows,
                    std::int64_t ncols, std::int64_t nsweep) {
  const std::int64_t nxv = d.nxv;
  for (std::int64_t sweep = 0; sweep < nsweep; ++sweep) {
    Pair changed = splat(0.0);
    for (std::int64_t r = 0; r < nrows; ++r) {
      const std::int64_t start = (r + 1) * nxv + 1;
      Pair west = load(d.u + 2 * (start - 1));
      for (std::int64_t p = start; p < start + ncols; ++p)
        west = watched_update<true>(d, p, west, changed);
    }
    if (!any_bit(changed)) break;  // step 9
  }
  for (std::int64_t r = 0; r < nrows; ++r) copy_row_back(d.u, xv, yv, (r + 1) * nxv + 1, ncols);
}

// Steps 6 to 9: nsweep sweeps over the interior, then the coordinates back.
void sweep_pairs(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                 HelperThread* helper) {
  const std::int64_t nxv = d.nxv;
  const std::int64_t ncols = nxv - 2, nrows = nyv - 2;
  if (ncols <= 0 || nrows <= 0 || nsweep <= 0) return;
  if (ncols < kGroupColumns) {
    sweep_in_order(d, xv, yv, nrows, ncols, nsweep);
    return;
  }
  const std::int64_t count = nrows * nsweep;
  const std::int64_t groups = (count + kRows - 1) / kRows;  // the last one holds what is left
  // Each thread takes every other group: one place in the order for the even
  // groups, one for the odd ones.
  TaskOrder order[2] = {TaskOrder(nrows, nsweep), TaskOrder(nrows, nsweep)};
  order[1].advance(kRows);
  EarlyEnd early_end(nrows);
  const bool settled = run_groups(groups, ncols, helper, [&](std::int64_t g, Progress& progress) {
    const GroupTasks tasks =
        order[g % 2].take_group(std::min<std::int64_t>(kRows, count - g * kRows), kRows);
    std::int64_t start[kRows]{};
    for (std::int64_t r = 0; r < tasks.size; ++r) start[r] = (tasks.row[r] + 1) * nxv + 1;
    GroupChanges changes{};
    progress.group = g;
    // Step 9: a group of early sweeps only is not watched; its tasks count as
    // having changed something.
    const bool watch = *std::max_element(tasks.sweep, tasks.sweep + tasks.size) >= kWatchedSweeps;
    if (watch) {
      run_tasks<true>(d, start, tasks.size, ncols, progress, changes);
    } else {
      run_tasks<false>(d, start, tasks.size, ncols, progress, changes);
    }
    bool changed[kRows]{};
    for (std::int64_t r = 0; r < tasks.size; ++r)
      changed[r] = !watch || any_bit(changes.changed[r]);
    const bool settled_here = early_end.group_ended(tasks, changed);
    progress.publish(ncols);
    for (std::int64_t r = 0; r < tasks.size; ++r) {  // step 8
      if (tasks.sweep[r] == nsweep - 1) copy_row_back(d.u, xv, yv, start[r], ncols);
    }
    return !settled_here;
  });
  if (settled) {
    for (std::int64_t r = 0; r < nrows; ++r) copy_row_back(d.u, xv, yv, (r + 1) * nxv + 1, ncols);
  }
}

// Meshes smaller than this (interior vertices) are smoothed on one thread.
constexpr std::int64_t kTwoThreadVertices = 4096;

// Step 7: the helper for this pass, or nullptr to run on one thread.
HelperThread* pass_helper(const SmoothingOptions& options, std::int64_t interior, bool& timed,
                          ThreadChoice& choice) {
  timed = options.threads == 0 && interior >= kTwoThreadVertices;
  HelperThread* helper = timed || options.threads == 2 ? HelperThread::shared() : nullptr;
  if (timed && helper != nullptr && !choice.two_threads(interior)) helper = nullptr;
  return helper;
}

}  // namespace

bool fast_smoothing_pass(MeshState& s, const SmoothingOptions& options,
                         SmoothingWorkspace& workspace) {
  // Step 8: x and y of every vertex, interleaved. Without the storage for
  // them, the plain pass does the work (same values).
  std::vector<double>& pairs = workspace.pairs;
  try {
    pairs.resize(static_cast<std::size_t>(2 * static_cast<std::int64_t>(s.nvert)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::int64_t interior = static_cast<std::int64_t>(s.nxv - 2) * (s.nyv - 2);
  bool timed = false;
  HelperThread* helper = pass_helper(options, interior, timed, workspace.threads);
  const auto start = std::chrono::steady_clock::now();
  if (!fused_coefficients(s, pairs.data(), helper, options.avx2)) return false;  // step 5
  const SweepData d{pairs.data(), s.alpha.data(), s.gamma.data(), s.anw.data(), s.ap.data(), s.nxv};
  sweep_pairs(d, s.xv.data(), s.yv.data(), s.nyv, s.nsweep, helper);
  if (timed) {
    workspace.threads.record(
        helper != nullptr,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return true;
}

}  // namespace malha

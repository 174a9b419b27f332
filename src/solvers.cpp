#include "solvers.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "coef.h"
#include "metricas.h"
#include "platform.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define MALHA_SSE2 1
#endif
// AVX2 code is compiled for a function of its own and used only after a
// run-time check of the processor.
#if defined(MALHA_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define MALHA_AVX2 1
#endif

namespace malha {

void gauss_seidel(Array1<double>& u, const Array1<double>& ap, const Array1<double>& ae,
                  const Array1<double>& aw, const Array1<double>& an, const Array1<double>& as,
                  const Array1<double>& ane, const Array1<double>& anw, const Array1<double>& ase,
                  const Array1<double>& asw, std::int32_t nxv, std::int32_t nyv,
                  std::int32_t nsweep) {
  for (std::int32_t sweep = 1; sweep <= nsweep; ++sweep) {
    for (std::int32_t j = 2; j <= nyv - 1; ++j) {
      for (std::int32_t i = 2; i <= nxv - 1; ++i) {
        const std::int64_t k = static_cast<std::int64_t>(j - 1) * nxv + i;
        const std::int64_t n = k + nxv, so = k - nxv;
        // West, south-west, south and south-east already hold this sweep's
        // values; the order of the eight products is part of the result.
        const double sum = asw(k) * u(so - 1) + as(k) * u(so) + an(k) * u(n) + anw(k) * u(n - 1) +
                           aw(k) * u(k - 1) + ae(k) * u(k + 1) + ase(k) * u(so + 1) +
                           ane(k) * u(n + 1);
        u(k) = sum / ap(k);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// One outer pass, and its fast path.
//
// With both source arrays zero (neither flag is 2), compute_coefficients gives
// ae == aw == alpha and an == as == gamma exactly (alpha + 0.5*0*g is alpha,
// g being finite and positive), anw == ase == 0.5*beta, and ane == asw is
// -(0.5*beta), whose product with u is exactly -(0.5*beta*u): rounding is
// symmetric. So four arrays (alpha, gamma, 0.5*beta, ap) carry the same
// equations, and the sum of the eight products, taken in the same order with
// the same operations, is the same number. x and y use the same coefficients
// and never read each other, so both are swept in one loop, as the two lanes
// of one vector: every lane is rounded on its own, exactly like the scalar
// operation (no fused multiply-add anywhere).

namespace {

void plain_pass(MeshState& s) {
  compute_metrics(s);
  clear_sources(s);
  compute_coefficients(s);
  gauss_seidel(s.xv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
               s.nsweep);
  gauss_seidel(s.yv, s.ap, s.ae, s.aw, s.an, s.as, s.ane, s.anw, s.ase, s.asw, s.nxv, s.nyv,
               s.nsweep);
}

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
#endif

// The range of |det| = |yeta*xksi - xeta*yksi| in which the operations the
// four-array form leaves out (jac = 1/det, jac*jac, g = 1/(jac*jac) and
// alpha + 0.5*0*g) raise no trapped exception: exactly 2^-512 < |det| < 2^512
// (found by bisection over those operations and checked on every double near
// both ends). Below it jac*jac overflows; above it jac*jac is subnormal or
// zero and 1/(jac*jac) overflows or divides by zero. Outside the range (or for
// a NaN) the pass is redone by the plain operations, which then trap exactly
// where they would.
constexpr double kSafeDetLow = 0x1.0000000000001p-512;
constexpr double kSafeDetHigh = 0x1.fffffffffffffp+511;

// x and y of 0-based vertex p into u, interleaved: u[2p], u[2p + 1].
inline void pack(double* u, const double* xv, const double* yv, std::int64_t p) {
  u[2 * p] = xv[p];
  u[2 * p + 1] = yv[p];
}

bool avx2_allowed = true;  // cleared by tests to run the SSE2 loop

#ifdef MALHA_AVX2
bool avx2_available() {
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
}

// The loop of fused_coefficient_rows on four vertices per vector, from p while
// four are left up to `last`; returns where it stopped. The operations per
// lane are those of the two-lane loop.
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

// The metric terms and the coefficients of the interior vertices of rows
// first_row .. last_row in one loop, kept as alpha, gamma, anw (0.5*beta) and
// ap: the same operations, in the same order, as compute_metrics and
// compute_coefficients, less the ones the four-array form does not need; two
// neighbouring vertices per vector. The same loop fills u. Runs with the
// traps held; true when no trapped exception was raised and every det lies in
// the safe range, so that the plain operations would not have trapped either
// (they are a superset of these).
bool fused_coefficient_rows(MeshState& s, double* u, std::int64_t first_row,
                            std::int64_t last_row) {
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
  const bool wide = avx2_allowed && avx2_available();
  double wide_low = std::numeric_limits<double>::max(), wide_high = 0.0;
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

// The boundary vertices into u: read by the sweeps, never written.
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

// ---------------------------------------------------------------------------
// A second thread, started on first use and kept for the rest of the run. A
// job runs in the floating-point environment of the thread that hands it over
// (traps included), so a fault stops the run there as it would here.
class Helper {
 public:
  static Helper* get() {
    static const bool wanted = std::thread::hardware_concurrency() > 1;
    if (!wanted) return nullptr;
    static Helper helper;
    return &helper;
  }

  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  ~Helper() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      jobs_.fetch_add(1);
    }
    wake_.notify_one();
    thread_.join();
  }

  void start(std::function<void()> job) {
    std::fenv_t env;
    std::fegetenv(&env);
    const bool traps = platform::fp_traps_enabled();
    busy_.store(true);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      job_ = [job = std::move(job), env, traps] {
        std::fesetenv(&env);
        if (traps && !platform::fp_traps_enabled()) platform::install_fp_traps();
        job();
      };
      jobs_.fetch_add(1);
    }
    wake_.notify_one();
  }

  void finish() {
    for (int spins = 0; spins < kSpins && busy_.load(); ++spins) {
    }
    // A condition variable rather than an atomic wait: some C++ libraries
    // can lose the wake-up of the latter.
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return !busy_.load(); });
  }

 private:
  // Jobs come one after the other during a smoothing (two per pass): the
  // helper looks for the next one for a while before it goes to sleep.
  static constexpr int kSpins = 100000;

  Helper() : thread_([this] { loop(); }) {}

  void loop() {
    std::uint64_t seen = 0;
    for (;;) {
      for (int spins = 0; spins < kSpins && jobs_.load() == seen; ++spins) {
      }
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return jobs_.load() != seen; });
        seen = jobs_.load();
        if (stop_) return;
        job = std::move(job_);
        job_ = nullptr;
      }
      job();
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        busy_.store(false);
      }
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // a job was handed over
  std::condition_variable done_;  // the job has ended
  std::function<void()> job_;
  bool stop_ = false;
  std::atomic<std::uint64_t> jobs_{0};  // jobs handed over so far
  std::atomic<bool> busy_{false};
  std::thread thread_;
};

// Meshes smaller than this (interior vertices) are smoothed on one thread.
constexpr std::int64_t kTwoThreadVertices = 4096;

bool fused_coefficients(MeshState& s, double* u, Helper* helper) {
  pack_boundary(s, u);
  const std::int64_t nyv = s.nyv;
  if (helper == nullptr || nyv < 6) return fused_coefficient_rows(s, u, 2, nyv - 1);
  // Rows are independent here: the upper half on the helper.
  const std::int64_t middle = 2 + (nyv - 2) / 2;
  bool upper = false;
  helper->start([&] { upper = fused_coefficient_rows(s, u, middle, nyv - 1); });
  const bool lower_half = fused_coefficient_rows(s, u, 2, middle - 1);
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

// The Gauss-Seidel update of x and y at 0-based vertex p. The plain sum is
//   asw*u(SW) + as*u(S) + an*u(N) + anw*u(NW) + aw*u(W) + ae*u(E) + ase*u(SE) + ane*u(NE)
// added left to right; here asw*u(SW) + as*u(S) is written as
// gamma*u(S) - hb*u(SW) (a + (-b) is a - b, and addition commutes exactly),
// and the last term is subtracted.
// `west` is u(W), passed in by a caller that has it in a register.
inline Pair update(const SweepData& d, std::int64_t p, Pair west) {
  double* u = d.u;
  const std::int64_t nxv = d.nxv;
  const Pair a = splat(d.alpha[p]), g = splat(d.gamma[p]), hb = splat(d.half_beta[p]);
  const std::int64_t so = p - nxv, n = p + nxv;
  Pair sum = g * load(u + 2 * so) - hb * load(u + 2 * (so - 1));
  sum = sum + g * load(u + 2 * n);
  sum = sum + hb * load(u + 2 * (n - 1));
  sum = sum + a * west;
  sum = sum + a * load(u + 2 * (p + 1));
  sum = sum + hb * load(u + 2 * (so + 1));
  sum = sum - hb * load(u + 2 * (n + 1));
  const Pair result = sum / splat(d.ap[p]);
  store(u + 2 * p, result);
  return result;
}

inline void update(const SweepData& d, std::int64_t p) {
  update(d, p, load(d.u + 2 * (p - 1)));
}

// Row tasks: one sweep over one row of interior vertices. A vertex needs its
// south row and west neighbour from the current sweep and its north row and
// east neighbour from the previous one, so a task may run alongside the tasks
// before it as long as it stays at least two columns behind each of them and
// every task it depends on comes before it. Tasks are run in groups of kRows,
// task r of a group exactly 2*r columns behind the first: kRows independent
// updates in flight instead of one long chain.
constexpr int kRows = 4;

// Progress of the thread that runs the group before this one: the number of
// columns the last task of that group has completed, counted over all its
// groups (group g holds values g*(ncols+1) .. g*(ncols+1) + ncols).
struct Progress {
  std::atomic<std::int64_t>* own = nullptr;
  const std::atomic<std::int64_t>* other = nullptr;
  std::int64_t group = 0;
  std::int64_t stride = 0;
  std::int64_t seen = -1;

  // The counters are shared between the two cores: they are published every
  // kEvery columns only, and a thread that has to wait waits for kSlack
  // columns more than it needs, so that it does not have to look again at
  // once. A larger lag than two columns is always allowed.
  static constexpr std::int64_t kEvery = 16;
  static constexpr std::int64_t kSlack = 48;

  // Waits until the previous group's last task has completed `columns`.
  void wait_for(std::int64_t columns) {
    if (other == nullptr || group == 0) return;
    const std::int64_t base = (group - 1) * stride;
    if (seen >= base + columns) return;
    const std::int64_t wanted = base + std::min(columns + kSlack, stride - 1);
    for (int spins = 0;; ++spins) {
      seen = other->load(std::memory_order_acquire);
      if (seen >= wanted) return;
      if (spins >= 1000) {
        std::this_thread::yield();
        spins = 0;
      }
    }
  }

  void publish(std::int64_t columns, std::int64_t ncols) {
    if (own != nullptr && (columns % kEvery == 0 || columns == ncols))
      own->store(group * stride + columns, std::memory_order_release);
  }
};

template <int R>
void run_group(const SweepData& d, const std::int64_t* row_start, std::int64_t ncols,
               Progress& progress) {
  // row_start[r]: 0-based index of the first interior vertex of task r's row.
  // Task r works on column t - 2r at step t. The first task needs the group
  // before it two columns ahead; the others follow from the lags.
  const std::int64_t steps = ncols + 2 * (R - 1);
  const auto partial_step = [&](std::int64_t t) {
    if (t < ncols) progress.wait_for(std::min(t + 2, ncols));
    for (int r = 0; r < R; ++r) {
      const std::int64_t c = t - 2 * r;
      if (c >= 0 && c < ncols) update(d, row_start[r] + c);
    }
    const std::int64_t done = t - 2 * (R - 1) + 1;  // columns of the last task
    if (done > 0) progress.publish(done, ncols);
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
      for (int r = 0; r < R; ++r) west[r] = update(d, row_start[r] + t - 2 * r, west[r]);
      progress.publish(t - 2 * (R - 1) + 1, ncols);
    }
  }
  for (; t < steps; ++t) partial_step(t);
}

// nsweep sweeps over the interior. The row tasks are ordered by the diagonal
// j + 2*sweep: every task a task depends on lies on an earlier diagonal, and
// tasks on one diagonal touch disjoint rows, so this order gives the same
// values as sweep after sweep, while all the sweeps move together through a
// band of rows that stays in cache. A row's last sweep is copied back to xv
// and yv as soon as its group ends.
//
// With the helper, the groups alternate between the two threads: a wavefront
// in which each group waits, through the progress counters, until the group
// before it is two columns ahead. The previous sweep of a row is an earlier
// task, so it is ahead by at least as much; the coefficients do not change
// during the sweeps.
void sweep_pairs(const SweepData& d, double* xv, double* yv, std::int64_t nyv, std::int32_t nsweep,
                 Helper* helper) {
  const std::int64_t nxv = d.nxv;
  const std::int64_t ncols = nxv - 2, nrows = nyv - 2;
  if (ncols <= 0 || nrows <= 0 || nsweep <= 0) return;
  std::vector<std::int64_t> tasks;  // row start of every task, in order
  std::vector<char> last;           // whether it is its row's last sweep
  tasks.reserve(static_cast<std::size_t>(nrows * nsweep));
  last.reserve(tasks.capacity());
  const std::int64_t diagonals = nrows + 2 * (nsweep - 1);
  for (std::int64_t diagonal = 0; diagonal < diagonals; ++diagonal) {
    for (std::int64_t sweep = 0; sweep < nsweep; ++sweep) {
      const std::int64_t row = diagonal - 2 * sweep;  // 0-based interior row
      if (row >= 0 && row < nrows) {
        tasks.push_back((row + 1) * nxv + 1);
        last.push_back(sweep == nsweep - 1 ? 1 : 0);
      }
    }
  }
  const auto count = static_cast<std::int64_t>(tasks.size());
  // Groups of kRows tasks; the last one holds what is left.
  const std::int64_t groups = (count + kRows - 1) / kRows;
  const double* u = d.u;
  const auto run = [&](std::int64_t g, Progress& progress) {
    const std::int64_t first = g * kRows;
    const std::int64_t end = std::min(count, first + kRows);
    progress.group = g;
    static_assert(kRows == 4);
    switch (end - first) {
      case 4:
        run_group<4>(d, tasks.data() + first, ncols, progress);
        break;
      case 3:
        run_group<3>(d, tasks.data() + first, ncols, progress);
        break;
      case 2:
        run_group<2>(d, tasks.data() + first, ncols, progress);
        break;
      default:
        run_group<1>(d, tasks.data() + first, ncols, progress);
        break;
    }
    for (std::int64_t q = first; q < end; ++q) {
      if (!last[static_cast<std::size_t>(q)]) continue;
      const std::int64_t start = tasks[static_cast<std::size_t>(q)];
      for (std::int64_t p = start; p < start + ncols; ++p) {
        xv[p] = u[2 * p];
        yv[p] = u[2 * p + 1];
      }
    }
  };

  if (helper == nullptr || groups < 2) {
    Progress alone;
    for (std::int64_t g = 0; g < groups; ++g) run(g, alone);
    return;
  }
  std::atomic<std::int64_t> done[2];
  done[0].store(-1);
  done[1].store(-1);
  const auto thread_part = [&](int k) {
    Progress progress;
    progress.own = &done[k];
    progress.other = &done[1 - k];
    progress.stride = ncols + 1;
    for (std::int64_t g = k; g < groups; g += 2) run(g, progress);
  };
  helper->start([&] { thread_part(1); });
  thread_part(0);
  helper->finish();
}

// Whether to use the helper for the next pass. Two threads in a wavefront
// help only while both have a core of their own: when the machine is busy
// and one of them waits for the other, a pass can take longer than on one
// thread. The results are the same either way, so the passes are timed and
// the faster way is kept, trying the other one now and then.
class ThreadChoice {
 public:
  // Whether the next pass runs on two threads. The first passes try both
  // ways; then the way that is not in use is tried again for a few passes
  // every kPeriod passes. A way's first pass after a pause is slow (the helper
  // has gone to sleep, the caches are cold), so a trial counts its fastest
  // pass.
  bool two_threads(std::int64_t vertices) {
    if (vertices != vertices_) {
      vertices_ = vertices;
      seconds_[0] = seconds_[1] = -1.0;
      pass_ = 0;
    }
    const std::int64_t n = pass_++;
    if (n < kTrial) {
      trying_ = true;
      return true;
    }
    if (n < 2 * kTrial) {
      trying_ = true;
      return false;
    }
    const bool best = seconds_[1] < seconds_[0];
    trying_ = n % kPeriod < kTrial;
    return trying_ ? !best : best;
  }

  void record(bool two, double seconds) {
    double& estimate = seconds_[two ? 1 : 0];
    if (trying_) {
      trial_best_ = trial_best_ < 0.0 ? seconds : std::min(trial_best_, seconds);
      if (++trial_passes_ == kTrial) {
        estimate = trial_best_;
        trial_best_ = -1.0;
        trial_passes_ = 0;
      }
    } else {
      estimate = estimate < 0.0 ? seconds : 0.75 * estimate + 0.25 * seconds;
    }
  }

 private:
  static constexpr std::int64_t kTrial = 4;
  static constexpr std::int64_t kPeriod = 64;
  std::int64_t vertices_ = -1;
  std::int64_t pass_ = 0;
  bool trying_ = false;
  double trial_best_ = -1.0;
  std::int64_t trial_passes_ = 0;
  double seconds_[2] = {-1.0, -1.0};  // time of a pass on one and on two threads
};

int forced_threads = 0;

}  // namespace

void set_smoothing_threads(int count) {
  forced_threads = count;
}

void set_smoothing_avx2(bool allowed) {
  avx2_allowed = allowed;
}

void smoothing_pass(MeshState& s, Path path) {
  // A kept source array (flag 2) needs the general nine-array equations.
  if (path == Path::Plain || s.opt_psrc == 2 || s.opt_qsrc == 2) {
    plain_pass(s);
    return;
  }
  // x and y of every vertex, interleaved (see pack); reused by every pass.
  static std::vector<double> pairs;
  pairs.resize(static_cast<std::size_t>(2 * static_cast<std::int64_t>(s.nvert)));
  const std::int64_t interior = static_cast<std::int64_t>(s.nxv - 2) * (s.nyv - 2);
  // Two threads when forced, or when timing chooses them on a large mesh.
  const bool timed = forced_threads == 0 && interior >= kTwoThreadVertices;
  static ThreadChoice choice;
  Helper* helper = timed || forced_threads == 2 ? Helper::get() : nullptr;
  if (timed && helper != nullptr && !choice.two_threads(interior)) helper = nullptr;
  const bool two = helper != nullptr;
  const auto start = std::chrono::steady_clock::now();
  if (!fused_coefficients(s, pairs.data(), helper)) {
    plain_pass(s);  // recomputes everything; a trap fires where it would
    return;
  }
  const SweepData d{pairs.data(), s.alpha.data(), s.gamma.data(), s.anw.data(), s.ap.data(), s.nxv};
  sweep_pairs(d, s.xv.data(), s.yv.data(), s.nyv, s.nsweep, helper);
  if (timed) {
    choice.record(two,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

}  // namespace malha

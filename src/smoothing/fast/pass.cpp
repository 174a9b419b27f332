// The fast smoothing pass. It gives the same coordinates, bit for bit, as the
// plain pass in smoothing/passes.cpp (compute_metrics, clear_sources,
// compute_coefficients, then gauss_seidel on xv and on yv), and stops the run
// with the same floating-point report wherever that would stop, with or
// without source terms (a source flag at 2, or the control functions of
// --control).
//
// Why the bits are the same, step by step. Each part of the code names the
// step it carries out: the coefficients (steps 3 to 5, and the packing of
// step 8) in smoothing/fast/coefficients.cpp, the sweeps (steps 1 to 3 and 6 to
// 9) in smoothing/fast/sweeps.cpp, and the pass that runs both below.
//
// Step 1. Four coefficient arrays carry the nine. With both source arrays
//   zero, coefficients_at (smoothing/coef.h) gives ae == aw == alpha and
//   an == as == gamma exactly (alpha + 0.5*0*g is alpha, g being finite and
//   positive), anw == ase == 0.5*beta, and ane == asw == -0.5*beta, which is
//   -(0.5*beta) exactly (rounding is symmetric), so its product with u is
//   -(0.5*beta*u). So alpha, gamma, hb = 0.5*beta (kept in anw) and ap carry
//   the same equations. With sources, ae, aw, an and as differ and are kept
//   in their own arrays; anw, ase, ane and asw are as above (the sources do
//   not enter them), so six arrays carry the nine: ae, aw, an, as, hb and ap.
//
// Step 2. The same sum. The plain update of a vertex adds
//     asw*u(SW) + as*u(S) + an*u(N) + anw*u(NW) + aw*u(W) + ae*u(E)
//       + ase*u(SE) + ane*u(NE)
//   left to right, then divides by ap. Here the first two terms are
//   as*u(S) - hb*u(SW) (a + (-b) is a - b, and addition commutes exactly)
//   and the last one is subtracted (adding -(hb*u) is subtracting hb*u); every
//   other term is the same product in the same place. The same operations on
//   the same numbers in the same order give the same number.
//
// Step 3. Lanes. x and y use the same coefficients and never read each other,
//   so both are swept in one loop as the two lanes of one vector; the
//   coefficient loop takes two neighbouring vertices per vector (four with
//   AVX2). Each lane is rounded on its own, exactly like the scalar operation,
//   and no fused multiply-add is used (smoothing/lanes.h).
//
// Step 4. Metrics and coefficients fused. One loop computes xeta, yeta, xksi,
//   yksi, alpha, beta, gamma and ap with the operations of metric_terms_at
//   (smoothing/metricas.h) and coefficients_at, in their order, and leaves out those
//   that the four-array form does not read: jac = 1/det, g = 1/(jac*jac),
//   the source terms alpha + 0.5*0*g and the arrays it does not keep. ap is
//   ((aw + an) + ae) + as, that is ((alpha + gamma) + alpha) + gamma. With
//   sources the loop runs the whole of the grid equation's with_sources
//   (smoothing/equation.h), jac, g and the source terms included, and leaves
//   out only the arrays it does not keep. Rows do not read each other's
//   results here, so two threads may take half each.
//
// Step 5. The traps of the operations left out. The fused loop runs with the
//   traps held; afterwards it checks the exception flags and the range of
//   |det| = |yeta*xksi - xeta*yksi|. Exactly for 2^-512 < |det| < 2^512 do the
//   operations left out raise nothing (kSafeDetLow and kSafeDetHigh,
//   smoothing/fast/bounds.h; the tests check the doubles next to both ends and a
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
//   an overflow, 0 * inf), which raises that flag. With sources nothing
//   that could trap is left out (the flags catch every trap), and the check
//   asks one thing more, for step 10: that no ap is zero. The sweeps run with
//   the traps on and compute the plain values (steps 1 to 3 and 6).
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
//   smoothing/fast/wavefront.h, whose tests enumerate it and check these
//   properties): no list of the tasks is kept, so storage and bookkeeping do
//   not grow with the number of sweeps.
//   Rows too short for the tasks of a group to overlap are swept in the
//   plain order itself, sweep after sweep and row after row.
//
// Step 7. Two threads. The groups alternate between this thread and the
//   helper. A group's first task starts column c only once the last task of
//   the group before it, the one furthest behind, has completed columns up to
//   c + 1 (the progress counters of smoothing/fast/wavefront.h); earlier groups are
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
//   bookkeeping is EarlyEnd, smoothing/fast/wavefront.h). Once the early end is
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
//   least about 2^-510 and never zero (with sources, whose terms cancel in
//   ap only up to rounding, step 5 has checked that it is not): no division
//   by zero; an invalid operation needs an infinity, or 0/0, and an overflow
//   has trapped before an infinity.
//   Third, the report of a trap names only its kind, no vertex, sweep or
//   lane. And when the two threads trap at the same moment, the fault
//   handler writes the first report only (platform/posix/traps.cpp,
//   platform/windows/traps.cpp). Nothing has been written to a file yet when a pass
//   traps, so the run leaves the same files behind.
#include <chrono>
#include <cstdint>
#include <new>
#include <vector>

#include "helper_thread.h"
#include "smoothing/fast/parts.h"
#include "smoothing/passes.h"

namespace malha {

namespace {

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
                         SmoothingWorkspace& workspace, bool sourced) {
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
  if (!fused_coefficients(s, pairs.data(), helper, options.avx2, sourced)) return false;  // step 5
  const SweepData d{pairs.data(), coefficient_arrays(s, sourced), s.nxv, sourced};
  sweep_pairs(d, s.xv.data(), s.yv.data(), s.nyv, s.nsweep, helper);
  if (timed) {
    workspace.threads.record(
        helper != nullptr,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return true;
}

}  // namespace malha

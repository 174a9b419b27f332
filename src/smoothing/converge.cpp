// The smoothing to convergence (--converge): multigrid cycles from the
// starting mesh with the run's spacings until the convergence figure is at
// most the tolerance; with the spacings far apart, where those cycles can
// settle on a folded mesh, stop gaining or diverge, a continuation in the
// ratio of the spacings from 1 to the run's. Each run of cycles at one pair
// of spacings is a stage (converge_stage.*); docs/converged-smoothing.md
// tells why this way and what it costs.
#include "smoothing/converge.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "files/dados.h"
#include "helper_thread.h"
#include "smoothing/converge_stage.h"
#include "smoothing/multigrid/cycle.h"
#include "textio.h"

namespace malha {

namespace {

using converge::End;
using converge::Outcome;
using converge::Progress;
using converge::Rules;
using textio::formatted;

// The continuation in the spacing ratio deta/dksi (see converge_smoothing):
// each step multiplies the ratio by this (or divides it, towards a ratio
// above 1), a step that fails is taken again from the last mesh solved with
// its factor's square root, at most this many times in all, and the meshes
// on the way are solved to this tolerance.
constexpr double kRatioStep = 0.7;
constexpr int kMostRetries = 6;
constexpr double kStepTolerance = 1e-2;
// A step's cycles: near the end of the branch of sound solutions a step
// converges ever slower (20 x 10 towards deta/dksi = 0.1: 40 cycles are not
// enough near 0.156), and the whole continuation's, after which no step
// starts.
constexpr std::int32_t kStepCycleLimit = 40;
constexpr std::int32_t kContinuationCycleLimit = 3 * kConvergeCycleLimit;

bool succeeded(const Outcome& o) {
  return o.end == End::Converged || o.end == End::AtRounding;
}

[[noreturn]] void fail(double tolerance, const std::string& what) {
  textio::fatal_error(textio::kErrNotConverged, textio::Statement::Converge, kEllipticFile,
                      formatted("the smoothing did not converge to %.3g: ", tolerance) + what);
}

// The interior of the mesh, kept to start again from.
class Saved {
 public:
  void keep(const MeshState& s) {
    const auto n = static_cast<std::size_t>(s.nvert);
    xy_.resize(2 * n);
    std::copy_n(s.xv.data(), n, xy_.data());
    std::copy_n(s.yv.data(), n, xy_.data() + n);
  }
  void restore(MeshState& s) const {
    const std::size_t n = xy_.size() / 2;
    std::copy_n(xy_.data(), n, s.xv.data());
    std::copy_n(xy_.data() + n, n, s.yv.data());
  }

 private:
  std::vector<double> xy_;
};

// How the cycles run (never what they compute): the helper thread, or
// none, and whether level 0's loops may take four vertices at once.
struct Means {
  HelperThread* helper = nullptr;
  bool avx2 = true;
};

// Cycles on the mesh of `s` with the spacings dksi and deta; `again`: each
// ends with one more relaxation of the mesh.
Outcome cycles_at(MeshState& s, double dksi, double deta, const Rules& rules, Progress& p,
                  std::int32_t cycles_before, const Means& means, const ConvergeObserver& observe,
                  bool again = false) {
  const Sources sources = sources_of(s);
  multigrid::Hierarchy hierarchy(s.xv.data(), s.yv.data(), s.nxv, s.nyv, dksi, deta, means.helper,
                                 sources.p, sources.q, means.avx2);
  hierarchy.relax_level0_again(again);
  return converge::run_cycles(s, hierarchy, dksi, deta, rules, p, cycles_before, observe);
}

// From the starting mesh in `saved`, the solution with equal spacings, then
// with the ratio deta/dksi carried step by step to the run's, each step
// starting from the mesh the last one solved, which `saved` then holds (the
// starting mesh is no longer needed: a failure before the first solution
// ends the run).
ConvergedSmoothing continuation(MeshState& s, Saved& saved, double tolerance,
                                bool rounding_accepted, std::int32_t cycles, const Means& means,
                                const ConvergeObserver& observe) {
  const double ratio = s.deta / s.dksi;
  double step = ratio < 1.0 ? kRatioStep : 1.0 / kRatioStep;
  const auto towards = [&](double from) {
    return ratio < 1.0 ? std::max(ratio, from * step) : std::min(ratio, from * step);
  };
  saved.restore(s);
  double at = 0.0;  // the ratio of the mesh solved last; 0 before the first
  double next = 1.0;
  int retries = 0;
  for (;;) {
    const bool last = next == ratio;
    const double deta = last ? s.deta : s.dksi * next;
    const Rules rules{last ? tolerance : kStepTolerance, last ? rounding_accepted : true,
                      last ? kConvergeCycleLimit : kStepCycleLimit, true, false};
    Progress p(s);
    const Outcome o = cycles_at(s, s.dksi, deta, rules, p, cycles, means, observe, true);
    cycles += p.cycle;
    if (succeeded(o) && last) return {cycles, o.figure, o.end == End::AtRounding, o.files_above};
    if (succeeded(o)) {
      saved.keep(s);
      at = next;
      next = towards(at);
      continue;
    }
    if (at == 0.0 || o.end == End::BelowRounding || ++retries > kMostRetries ||
        cycles >= kContinuationCycleLimit) {
      const std::string which =
          at == 0.0 ? std::string("the first, with equal spacings")
                    : formatted("the step to %.4g, from the mesh solved with %.4g", next, at);
      fail(tolerance, converge::observed(o, p, cycles) +
                          formatted("; the cycles had been started again from the starting mesh "
                                    "with equal spacings, to carry deta/dksi from 1 to %g step by "
                                    "step: this was ",
                                    ratio) +
                          which);
    }
    saved.restore(s);
    // The last ratio may be reached again by the shorter step: shorter still.
    const double failed = next;
    do {
      step = std::sqrt(step);
      next = towards(at);
    } while (next == failed);
  }
}

}  // namespace

// The cycles go first from the starting mesh with the run's spacings. Far
// from the solution, and with the spacings far apart, the first cycles can
// move vertices so far that the cycles then settle on a mesh with inverted
// cells, or stop gaining, where point Gauss-Seidel passes reach a sound
// mesh: such a run starts again from the starting mesh by continuation in
// the ratio deta/dksi (docs/converged-smoothing.md tells why).
ConvergedSmoothing converge_smoothing(MeshState& s, double tolerance, bool rounding_accepted,
                                      const SmoothingOptions& options,
                                      const ConvergeObserver& observe) {
  ConvergedSmoothing result;
  if (s.nxv < 3 || s.nyv < 3) {
    result.figure =
        convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta, sources_of(s));
    return result;
  }
  const Means means{options.threads == 1 ? nullptr : HelperThread::shared(), options.avx2};
  const double ratio = s.deta / s.dksi;
  // With equal spacings there is no other way to go: the cycles' end is the
  // run's, inverted cells only looked for on the mesh they converge to.
  const bool another_way = ratio != 1.0 && std::isfinite(ratio) && ratio > 0.0;
  Saved start;
  if (another_way) start.keep(s);
  const Rules rules{tolerance, rounding_accepted, kConvergeCycleLimit, another_way, true};
  Progress p(s);
  const Outcome o = cycles_at(s, s.dksi, s.deta, rules, p, 0, means, observe);
  if (succeeded(o)) return {p.cycle, o.figure, o.end == End::AtRounding, o.files_above};
  if (!another_way || o.end == End::BelowRounding)
    fail(tolerance, converge::observed(o, p, p.cycle));
  return continuation(s, start, tolerance, rounding_accepted, p.cycle, means, observe);
}

}  // namespace malha

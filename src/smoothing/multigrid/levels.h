// The nonlinear multigrid that solves the smoothing equations to
// convergence (smoothing/converge.h runs it): a full approximation scheme over
// a hierarchy of ever coarser vertex grids of the same logically rectangular
// mesh, each a subset of the vertices of the one below, smoothed by
// alternating zebra line relaxation. docs/converged-smoothing.md tells why
// this method and what it costs.
//
// Every level holds, at each vertex, x and y and the residuals; the coarser
// levels also the right-hand sides of the scheme and the values they were
// given by the level below. The coefficients of the equations are computed
// from the coordinates wherever they are used, never stored. Level 0 is the mesh itself
// (xv, yv of the mesh state), with its equations exactly as a smoothing pass
// computes them. Arrays are 0-based, vertex (i, j) at p = j*n_i + i, i
// fastest, i = 0 and j = 0 being the first line of the mesh.
#pragma once

#include <cstdint>
#include <vector>

namespace malha {
class HelperThread;
}

namespace malha::multigrid {

// One direction of a level's grid: where its vertices lie, counted in
// vertices of the finest grid, and the factors of the differences at each
// interior vertex (0 at both ends). With the finest grid's unit steps the
// second-difference factors are 1 and the cross factor 1: the smoothing's
// own nine-point equations.
struct Axis {
  std::int32_t n = 0;            // vertices
  std::vector<double> position;  // in steps of the finest grid
  std::vector<double> first;     // 1 / ((h- + h+) * spacing): central first derivative
  std::vector<double> next;      // 2 / ((h- + h+) * h+): weight of the next vertex
  std::vector<double> previous;  // 2 / ((h- + h+) * h-): weight of the previous vertex
  std::vector<double> cross;     // 2 / (h- + h+): share of the cross derivative

  // Towards the next coarser level (empty on the coarsest one). Interpolation
  // gives fine vertex f the weight[f] share of coarse vertex below[f] and the
  // rest of the next coarse vertex; restriction gives coarse vertex c the
  // weighted mean of fine vertices restrict_fine[k], k from restrict_start[c]
  // to restrict_start[c + 1], with weights restrict_weight[k] (summing to 1).
  std::vector<std::int32_t> fine_of;  // coarse vertex -> the fine vertex where it lies
  std::vector<std::int32_t> below;
  std::vector<double> weight;
  std::vector<std::int32_t> restrict_start;
  std::vector<std::int32_t> restrict_fine;
  std::vector<double> restrict_weight;
};

// Scratch of at least n values: grows, never shrinks, so that the values a
// vector adds (zeros, written anew) are written only once.
inline std::vector<double>& at_least(std::vector<double>& scratch, std::size_t n) {
  if (scratch.size() < n) scratch.resize(n);
  return scratch;
}

// The factors of an axis of `n` vertices at the given positions; `spacing`
// is the finest grid's step of the computational coordinate (dksi or deta).
Axis make_axis(std::vector<double> position, double spacing);

// The next coarser axis: every second vertex, both ends kept; an odd number
// of steps gives the last coarse step three fine ones. Fills the transfer
// tables of `fine`. An axis of 3 steps or fewer is not coarsened: the coarse
// axis has the same vertices, and the transfers are the identity.
Axis coarsen(Axis& fine, double spacing);

// Whether an axis of n vertices is coarsened.
bool can_coarsen(std::int32_t n);

struct Level {
  Axis ax, ay;
  std::int64_t size = 0;    // ax.n * ay.n
  bool unit_steps = false;  // level 0: every step 1, the factors known
  double* x = nullptr;      // the level's coordinates: level 0's are the mesh's
  double* y = nullptr;
  std::vector<double> own_x, own_y;  // storage of x and y on the coarser levels
  std::vector<double> x0, y0;        // the values given by the level below (coarser levels)
  std::vector<double> fx, fy;        // right-hand sides (coarser levels; zero on level 0)
  std::vector<double> rx, ry;        // residuals
  std::vector<double> line_work;     // scratch of the line relaxations
  std::vector<double> helper_work;   // the same, for the helper thread
};

// The largest move one point update of level 0 would make (the convergence
// figure's numerator) and where.
struct Move {
  double largest = 0.0;
  std::int64_t vertex = 0;  // 1-based vertex number k, 0 when none
};

// Level 0's residuals: the largest move, and whether its coefficients came
// out without a trapped exception and with every |det| in the safe range.
struct FineResidual {
  Move move;
  bool coefficients_in_range = true;
};

class Hierarchy {
 public:
  // Levels for a mesh of nxv by nyv vertices whose coordinates are xv, yv
  // (0-based), down to a grid of at most a few interior vertices each way.
  // With a helper thread the relaxations of the large levels use it.
  Hierarchy(double* xv, double* yv, std::int32_t nxv, std::int32_t nyv, double dksi, double deta,
            HelperThread* helper);

  // Level 0's coefficients from its coordinates, by the operations of a
  // smoothing pass (level0_coefficients), and the residuals from them in the
  // order of the sweeps, with the largest move.
  FineResidual fine_residual();

  // One cycle from level 0, whose residuals fine_residual has just computed:
  // the correction from the coarser levels, then the relaxations.
  void cycle();

  std::size_t levels() const { return levels_.size(); }

 private:
  void cycle_at(std::size_t l);
  void coarse_correction(std::size_t l);
  void relax(Level& level);

  double dksi_, deta_;
  HelperThread* helper_;
  std::vector<Level> levels_;
};

// Operations on one level (smoothing/multigrid/relax.cpp).

// Level 0's residuals, from coefficients computed by the operations of a
// smoothing pass that zero sources leave (the metric terms but jac, alpha,
// gamma and beta/2) with the traps held, summed in the order of the sweeps.
// coefficients_in_range tells whether no trapped exception was raised and
// every |det| lies in the range where jac and g would not have raised one
// either (smoothing/coef.h).
FineResidual level0_residual(Level& level, double dksi, double deta);
// residual = f - N(u) at the interior vertices; with `operator_only`,
// f = N(u) instead (the right-hand side of a coarse level before the
// restricted residual is added).
void coarse_residual(Level& level, bool operator_only);
// One half of a zebra relaxation: every row (or column) of the given parity
// (0: the first interior line, 1: the second) solved exactly for its
// interior vertices, everything off it held.
// With a helper, a large level's lines are shared between two threads;
// the values are the same.
void relax_rows(Level& level, int parity, HelperThread* helper);
void relax_columns(Level& level, int parity, HelperThread* helper);

// Transfers between level `fine` and the next coarser one
// (smoothing/multigrid/cycle.cpp).
void inject(const Level& fine, Level& coarse);
void restrict_residual(const Level& fine, Level& coarse);
void interpolate_correction(Level& fine, Level& coarse);

}  // namespace malha::multigrid

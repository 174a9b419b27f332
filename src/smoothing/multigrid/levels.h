// The levels of the nonlinear multigrid (smoothing/multigrid/cycle.h): the
// grids of vertices, their axes and what each level holds.
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
  bool wide = false;        // the loops four vertices at once (multigrid/wide.h)
  double* x = nullptr;      // the level's coordinates: level 0's are the mesh's
  double* y = nullptr;
  std::vector<double> own_x, own_y;  // storage of x and y on the coarser levels
  // The source terms P and Q (--control), null without them: level 0's are
  // the mesh's psrc and qsrc, the coarser levels' their values at the
  // coarse vertices (fixed fields, injected once).
  const double* p = nullptr;
  const double* q = nullptr;
  std::vector<double> own_p, own_q;
  std::vector<double> x0, y0;  // the values given by the level below (coarser levels)
  std::vector<double> fx, fy;  // right-hand sides (coarser levels; zero on level 0)
  // Residuals; level 0 keeps one row of them, and on level 1 they hold the
  // restricted residuals of level 0 until the cycle takes them.
  std::vector<double> rx, ry;
  std::vector<double> line_work;    // scratch of the line relaxations
  std::vector<double> helper_work;  // the same, for the helper thread
};

// The largest move one point update of level 0 would make (the convergence
// figure's numerator) and where.
struct Move {
  double largest = 0.0;
  std::int64_t vertex = 0;  // 1-based vertex number k, 0 when none
};

// Keeps the move of vertex p (0-based; its larger residual over ap) when it
// is larger than the largest so far; ties keep the first vertex.
inline void keep_larger(Move& move, double residual, double ap, std::int64_t p) {
  const double m = residual / ap;
  if (m > move.largest || move.vertex == 0) {
    move.largest = m;
    move.vertex = p + 1;
  }
}

// A vertex whose larger residual is at most (largest move)*kBelowOne times
// its ap cannot have a larger move (the product's rounding is far less):
// the division, and the order of the vertices, only for the others.
inline constexpr double kBelowOne = 1.0 - 0x1p-50;

// Level 0's residuals: the largest move, and whether its coefficients came
// out without a trapped exception and with every |det| in the safe range.
struct FineResidual {
  Move move;
  bool coefficients_in_range = true;
};

}  // namespace malha::multigrid

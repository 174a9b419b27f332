// The convergence figure: how far a mesh is from solving the smoothing's
// equations (smoothing/equation.h). The converged smoothing stops by it,
// the progress line and the run summary show it, and malha-report computes
// it on the files.
#pragma once

#include <cstdint>

namespace malha {

// How far a mesh is from solving its smoothing equations: the largest move
// one point update would make, over the interior vertices and over u = x and
// u = y, |sum of a_nb*u_nb - ap*u| / |ap|, with the metric terms and the
// coefficients computed from this mesh as an outer smoothing pass computes
// them (with the given source terms, zero when there are none). A converged
// mesh gives a move near rounding.
struct ConvergenceFigure {
  bool defined = false;        // false when the mesh has no interior vertex
  double largest_move = 0.0;   // infinite or NaN on a degenerate mesh
  std::int64_t vertex = 0;     // the vertex k where it is
  double smallest_edge = 0.0;  // the shortest edge of the mesh
  double relative = 0.0;       // largest_move / smallest_edge
};

// The source terms P and Q of the equations (0-based, one per vertex), both
// null when there are none (P = Q = 0).
struct Sources {
  const double* p = nullptr;
  const double* q = nullptr;

  bool given() const { return p != nullptr && q != nullptr; }
  double p_at(std::int64_t k) const { return given() ? p[k] : 0.0; }
  double q_at(std::int64_t k) const { return given() ? q[k] : 0.0; }
};

// Row by row, without storage of its own; never a floating-point trap.
// `shortest_edge`, when the caller has measured it (shortest_mesh_edge of the
// same mesh), spares measuring it again.
ConvergenceFigure convergence_figure(const double* xv, const double* yv, std::int32_t nxv,
                                     std::int32_t nyv, double dksi, double deta,
                                     Sources sources = {}, double shortest_edge = -1.0);

// Whether malha-report, reading the files, finds the figure at most
// `tolerance`: the files hold 16 significant digits of every coordinate, of
// the spacings and of the sources, so near the rounding of a small shortest
// edge (1e-5 and less) their figure can exceed the figure in memory. Where a
// vertex's move lies within the written values' reach of the tolerance, it is
// computed again from them. Without storage of its own.
// `shortest_edge` is the mesh's (shortest_mesh_edge), as its figure gives it.
bool written_figure_within(const double* xv, const double* yv, std::int32_t nxv, std::int32_t nyv,
                           double dksi, double deta, Sources sources, double tolerance,
                           double shortest_edge);

// The shortest edge between neighbouring vertices of a mesh of nxv by nyv
// vertices (0-based xv, yv), by hypot: the figure's yardstick.
double shortest_mesh_edge(const double* xv, const double* yv, std::int32_t nxv, std::int32_t nyv);

}  // namespace malha

#!/usr/bin/python3
"""Cell-centred finite volumes for -lap(u) = f with Dirichlet data, on the
files malha writes (the nest files and the ghost ring of CASE_cent_fict.txt).

Unknowns are the values at the volume centroids. Across each face, with S the
outward face vector (normal times length) and d the vector from the centroid
P to the point beyond the face (the neighbour's centroid N, or the ghost
centre B on the boundary, where u is given),

    grad(u) . S  ~  a (u_N - u_P) + a delta . (g_N - g_P) + (S - a d) . g_f

with a = S.S / S.d. The first term is the two-point flux along d. The last
corrects for the part of S that d does not see (the face is not orthogonal
to d); g_f is the mean of the least-squares gradients g_P and g_N of the
volumes on both sides (g_P on a boundary face). The middle one corrects for
skewness: delta runs from the midpoint of P and N to the face's midpoint,
and moves both values there with their own gradients. The corrections are
assembled into the matrix, not deferred to outer iterations: one sparse
solve reaches the fixed point deferred correction would iterate towards,
whatever the angle. a = S.S/S.d ("over-relaxed") keeps the two-point part as
strong as the face is long.

Why this scheme: the least-squares gradient is exact for linear u, so is the
flux, so a linear solution comes out exact to rounding; where the mesh is a
smooth image of the computational grid the face gradient is second-order,
so is the flux, and so is the L2 error. The plain two-point flux (a = |S|/|d|,
no correction) misses the tangential part of the gradient on every
non-orthogonal face, an error of order one that does not shrink with the
mesh.
"""

import argparse
import sys

import needs

needs.require("numpy", "scipy")

import numpy as np  # noqa: E402
import scipy.sparse as sp  # noqa: E402
import scipy.sparse.linalg as spla  # noqa: E402

from malhafiles import load  # noqa: E402

# Re-entrant corner of the region: u = r^(2/3) sin(2t/3), t from the edge
# x = 0.5 (above the corner, t = 0) counter-clockwise to y = 0.5 (t = 3pi/2).
CORNER = (0.5, 0.5)


def lshape(x, y):
    dx, dy = x - CORNER[0], y - CORNER[1]
    t = np.mod(np.arctan2(dy, dx) - 0.5 * np.pi, 2.0 * np.pi)
    return np.hypot(dx, dy) ** (2.0 / 3.0) * np.sin(2.0 * t / 3.0)


SOLUTIONS = {  # name: (u, f = -lap(u))
    "smooth": (lambda x, y: np.sin(3 * x) * np.cos(2 * y) + x * y,
               lambda x, y: 13 * np.sin(3 * x) * np.cos(2 * y)),
    "lshape": (lshape, lambda x, y: 0.0 * x),
    "linear": (lambda x, y: 1.0 + 2.0 * x - 3.0 * y, lambda x, y: 0.0 * x),
}

# Face f of volume (i, j) runs from corner f to corner f + 1; the ghost
# across it is extended volume (i + 1, j + 1) moved by this offset.
GHOST_OFFSET = ((0, -1), (1, 0), (0, 1), (-1, 0))


def boundary_side(nx, ny, i, j, f):
    """The side of the region face f (1..4) of volume (i, j) lies on, or None
    for an inner face. Volumes i <= m - 1 lie on the left arm, the others on
    the bottom arm, m = (nx + 2) // 2 being the vertex line through the corners."""
    left_arm = i <= (nx + 2) // 2 - 1
    if f == 1 and j == 1:
        return "left" if left_arm else "bottom"
    if f == 3 and j == ny:
        return "reentrant_vertical" if left_arm else "reentrant_horizontal"
    if f == 4 and i == 1:
        return "top"
    if f == 2 and i == nx:
        return "right"
    return None


class Faces:
    """Per volume and face (arrays of shape (nvol, 4, ...)): the face vector S,
    the midpoint, the neighbour (-1 on the boundary) and the point across."""

    def __init__(self, mesh, warn=sys.stderr):
        nvol = mesh.nx * mesh.ny
        a = mesh.vertices[mesh.corners - 1]                  # (nvol, 4, 2)
        b = mesh.vertices[np.roll(mesh.corners, -1, axis=1) - 1]
        self.S = np.stack([b[..., 1] - a[..., 1], a[..., 0] - b[..., 0]], axis=-1)
        self.mid = 0.5 * (a + b)
        self.nbr = mesh.neighbours - 1                       # -1 = boundary
        self.boundary = self.nbr < 0
        across = mesh.centroids[np.maximum(self.nbr, 0)]
        ghost = mesh.ghosts[self.ghost_numbers(mesh) - 1]
        # The ghost centre is the midpoint of its face; where it is not (the
        # right side of an odd-nx mesh), take the midpoint and say so.
        off = np.linalg.norm(ghost - self.mid, axis=-1) > 1e-9 * np.linalg.norm(self.S, axis=-1)
        off &= self.boundary
        if off.any() and warn:
            print(f"fvsolve: {off.sum()} ghost centres are not at their face's midpoint;"
                  " using the midpoints", file=warn)
        ghost = np.where(off[..., None], self.mid, ghost)
        self.point = np.where(self.boundary[..., None], ghost, across)
        self.d = self.point - mesh.centroids[:, None, :]
        # From the midpoint of P and N to the face's midpoint (inner faces).
        self.skew = np.where(self.boundary[..., None], 0.0,
                             self.mid - mesh.centroids[:, None, :] - 0.5 * self.d)
        self.P = np.repeat(np.arange(nvol), 4).reshape(nvol, 4)

    @staticmethod
    def ghost_numbers(mesh):
        v = np.arange(mesh.nx * mesh.ny)
        i, j = v % mesh.nx + 1, v // mesh.nx + 1
        off = np.array(GHOST_OFFSET)
        I = i[:, None] + 1 + off[None, :, 0]
        J = j[:, None] + 1 + off[None, :, 1]
        return (J - 1) * mesh.nxf + I


def gradient_operator(faces, n):
    """Least-squares gradients over the four points across the faces, weighted
    by 1/|d|^2: g = G u + (share of the boundary values). Returns [Gx, Gy] and
    the weights (n, 4, 2) that give each point's share."""
    d = faces.d
    w = 1.0 / np.einsum("nki,nki->nk", d, d)
    M = np.einsum("nk,nki,nkj->nij", w, d, d)
    coef = np.einsum("nij,nkj->nki", np.linalg.inv(M), w[..., None] * d)
    P, N, inner = faces.P, faces.nbr, ~faces.boundary
    G = [sp.csr_matrix((np.concatenate([coef[..., c][inner], -coef[..., c].ravel()]),
                        (np.concatenate([P[inner], P.ravel()]),
                         np.concatenate([N[inner], P.ravel()]))), shape=(n, n))
         for c in (0, 1)]
    return G, coef


def assemble(mesh, faces, u_exact, f, corrected=True):
    """Matrix and right-hand side of: sum over the faces of -grad(u).S = f A."""
    n, m = mesh.nx * mesh.ny, 4 * mesh.nx * mesh.ny
    S, d, P, N, bnd = faces.S, faces.d, faces.P, faces.nbr, faces.boundary
    inner = ~bnd
    ub = np.where(bnd, u_exact(faces.point[..., 0], faces.point[..., 1]), 0.0)
    SS, Sd = np.einsum("nki,nki->nk", S, S), np.einsum("nki,nki->nk", S, d)
    a = SS / Sd if corrected else np.sqrt(SS / np.einsum("nki,nki->nk", d, d))
    # Two-point part: -a (u_N - u_P), with u_N = ub known on the boundary.
    A = sp.csr_matrix((np.concatenate([a.ravel(), -a[inner]]),
                       (np.concatenate([P.ravel(), P[inner]]),
                        np.concatenate([P.ravel(), N[inner]]))), shape=(n, n))
    rhs = f(mesh.centroids[:, 0], mesh.centroids[:, 1]) * mesh.areas + (a * ub).sum(axis=1)
    if not corrected:
        return A.tocsc(), rhs
    # Gradient terms, one row per (volume, face), on the cell gradients g:
    #   k . (mean of g_P and g_N; g_P on the boundary)      non-orthogonality
    #   a delta . (g_N - g_P)   (inner faces)                skewness
    G, coef = gradient_operator(faces, n)
    gb = np.einsum("nk,nki->ni", ub, coef)  # the boundary values' share of g
    k = S - a[..., None] * d
    s = a[..., None] * faces.skew
    rows = np.arange(m).reshape(n, 4)
    pick = lambda weight, cells: sp.csr_matrix((weight, (rows[inner], cells)), shape=(m, n))
    mean = sp.csr_matrix((np.where(bnd, 1.0, 0.5).ravel(), (rows.ravel(), P.ravel())),
                         shape=(m, n)) + pick(np.full(inner.sum(), 0.5), N[inner])
    jump = pick(np.ones(inner.sum()), N[inner]) - pick(np.ones(inner.sum()), P[inner])
    T = [sp.diags(k[..., c].ravel()) @ mean + sp.diags(s[..., c].ravel()) @ jump for c in (0, 1)]
    faces_of = sp.csr_matrix((np.ones(m), (P.ravel(), rows.ravel())), shape=(n, m))
    A = A - faces_of @ (T[0] @ G[0] + T[1] @ G[1])
    rhs = rhs + faces_of @ (T[0] @ gb[:, 0] + T[1] @ gb[:, 1])
    return A.tocsc(), rhs


def errors(mesh, solution, corrected=True, warn=sys.stderr):
    """The error at each centroid of the solution on `mesh`."""
    u_exact, f = SOLUTIONS[solution]
    A, rhs = assemble(mesh, Faces(mesh, warn), u_exact, f, corrected)
    return spla.spsolve(A, rhs) - u_exact(mesh.centroids[:, 0], mesh.centroids[:, 1])


def squared_errors(mesh, solution, corrected=True):
    """Each volume's share of the squared L2 error: area times error squared."""
    e = errors(mesh, solution, corrected)
    return mesh.areas * e * e


def solve(mesh, solution, corrected=True, warn=sys.stderr):
    """Solves on `mesh`; returns the L2 and the largest error at the centroids."""
    e = errors(mesh, solution, corrected, warn)
    return np.sqrt(np.sum(mesh.areas * e * e)), np.abs(e).max()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("folder", help="where malha wrote the files")
    p.add_argument("case", help="the case name (the stem of the file names)")
    p.add_argument("--solution", choices=sorted(SOLUTIONS), default="lshape")
    p.add_argument("--two-point", action="store_true", help="the plain two-point flux")
    args = p.parse_args()
    mesh = load(args.folder, args.case, "fvsolve")
    l2, largest = solve(mesh, args.solution, corrected=not args.two_point)
    print(f"{args.case}: {mesh.nx} x {mesh.ny}, {args.solution}, "
          f"{'two-point' if args.two_point else 'corrected'}: L2 error {l2:.3e}, max {largest:.3e}")


if __name__ == "__main__":
    main()

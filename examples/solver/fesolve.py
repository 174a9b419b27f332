#!/usr/bin/python3
"""Bilinear (Q1) finite elements for -lap(u) = f with Dirichlet data, on the
Gmsh file malha-report --msh writes (CASE.msh): a reading of the mesh that
does not depend on its orthogonality.

Each quadrangle is the image of the square [-1, 1]^2 under the bilinear map
of its four corners; the unknowns are the values at the vertices and u is
bilinear in the square's coordinates on each element. The stiffness
matrix, the load (f at the quadrature points) and the error are integrated
by 3 x 3 Gauss points on each element. Every vertex on a line element of the
file (the six sides) takes the exact u there; the others are solved for by
one sparse LU.

The error is the L2 norm of u_h - u over the region by the same quadrature,
(sum over elements and points of weight * det J * (u_h - u)^2)^(1/2); the
largest difference at the vertices is printed beside it.

Why these elements: a linear u is bilinear in the square's coordinates on
any quadrangle, so it is in the space and comes out exact to rounding; on a
mesh that is a smooth image of the computational grid the L2 error falls
like h^2. The solutions are those of the worked finite-volume solver
(fvsolve.py): smooth, lshape (singular at the re-entrant corner) and linear.
"""

import argparse
import contextlib
import io
import os
import sys

import needs

needs.require("numpy", "scipy", "meshio")

import meshio  # noqa: E402
import numpy as np  # noqa: E402
import scipy.sparse as sp  # noqa: E402
import scipy.sparse.linalg as spla  # noqa: E402

from fvsolve import SOLUTIONS  # noqa: E402

# 3-point Gauss rule on [-1, 1]: exact for polynomials of degree 5.
GAUSS_POINTS = np.array([-np.sqrt(0.6), 0.0, np.sqrt(0.6)])
GAUSS_WEIGHTS = np.array([5.0, 8.0, 5.0]) / 9.0
# The square's corners, counter-clockwise as the file's quadrangles run.
CORNER_SIGNS = np.array([[-1.0, -1.0], [1.0, -1.0], [1.0, 1.0], [-1.0, 1.0]])


class Mesh:
    """The vertices (n, 2), the quadrangles (m, 4; 0-based vertex numbers)
    and the vertices on the boundary, read from a Gmsh file."""

    def __init__(self, path):
        with contextlib.redirect_stdout(io.StringIO()):  # meshio's reader prints a blank line
            data = meshio.read(path)
        self.points = np.asarray(data.points[:, :2], dtype=float)
        quads = [block.data for block in data.cells if block.type == "quad"]
        lines = [block.data for block in data.cells if block.type == "line"]
        if not quads or not lines:
            raise ValueError(f"{path}: no quadrangles or no boundary lines")
        self.quads = np.concatenate(quads)
        self.boundary = np.unique(np.concatenate(lines))


def quadrature():
    """The 9 points (s, t) of the rule on the square and their weights."""
    s, t = np.meshgrid(GAUSS_POINTS, GAUSS_POINTS, indexing="ij")
    w = np.outer(GAUSS_WEIGHTS, GAUSS_WEIGHTS)
    return np.column_stack([s.ravel(), t.ravel()]), w.ravel()


def shape(s, t):
    """The four bilinear functions at (s, t) and their derivatives (4, 2)."""
    a, b = CORNER_SIGNS[:, 0], CORNER_SIGNS[:, 1]
    values = 0.25 * (1 + a * s) * (1 + b * t)
    derivatives = np.column_stack([0.25 * a * (1 + b * t), 0.25 * b * (1 + a * s)])
    return values, derivatives


def at_points(mesh):
    """For each quadrature point: the shape values (4,), the weight times
    det J per element (m,), the gradients of the shape functions in x and y
    per element (m, 4, 2) and the point's place per element (m, 2)."""
    corners = mesh.points[mesh.quads]  # (m, 4, 2)
    points, weights = quadrature()
    for (s, t), w in zip(points, weights):
        values, derivatives = shape(s, t)
        jacobian = np.einsum("mka,kb->mab", corners, derivatives)  # d(x, y)/d(s, t)
        det = jacobian[:, 0, 0] * jacobian[:, 1, 1] - jacobian[:, 0, 1] * jacobian[:, 1, 0]
        if np.any(det <= 0):
            raise ValueError("an element is inverted or degenerate (det J <= 0)")
        inverse = np.linalg.inv(jacobian)
        gradients = np.einsum("kb,mba->mka", derivatives, inverse)
        yield values, w * det, gradients, corners.transpose(0, 2, 1) @ values


def solve(mesh, solution):
    """The values u_h at the vertices for the named solution."""
    exact, source = SOLUTIONS[solution]
    n = len(mesh.points)
    stiffness = np.zeros((len(mesh.quads), 4, 4))
    load = np.zeros((len(mesh.quads), 4))
    for values, weight, gradients, place in at_points(mesh):
        stiffness += weight[:, None, None] * gradients @ gradients.transpose(0, 2, 1)
        load += (weight * source(place[:, 0], place[:, 1]))[:, None] * values
    rows = np.repeat(mesh.quads, 4, axis=1).ravel()
    cols = np.tile(mesh.quads, (1, 4)).ravel()
    matrix = sp.csr_matrix((stiffness.ravel(), (rows, cols)), shape=(n, n))
    rhs = np.bincount(mesh.quads.ravel(), load.ravel(), minlength=n)
    u = np.zeros(n)
    u[mesh.boundary] = exact(*mesh.points[mesh.boundary].T)
    free = np.setdiff1d(np.arange(n), mesh.boundary)
    rhs = rhs - matrix @ u
    u[free] = spla.splu(matrix[free][:, free].tocsc()).solve(rhs[free])
    return u


def l2_error(mesh, u, solution):
    """The L2 norm of u_h - u by the elements' quadrature."""
    exact = SOLUTIONS[solution][0]
    total = 0.0
    for values, weight, _, place in at_points(mesh):
        difference = u[mesh.quads] @ values - exact(place[:, 0], place[:, 1])
        total += np.sum(weight * difference ** 2)
    return float(np.sqrt(total))


def errors(mesh, solution):
    """The L2 error and the largest error at the vertices."""
    u = solve(mesh, solution)
    nodal = np.max(np.abs(u - SOLUTIONS[solution][0](*mesh.points.T)))
    return l2_error(mesh, u, solution), float(nodal)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("case")
    parser.add_argument("--solution", choices=sorted(SOLUTIONS), default="smooth")
    o = parser.parse_args()
    path = os.path.join(o.folder, o.case + ".msh")
    if not os.path.exists(path):
        sys.exit(f"fesolve: {path} is not there: export it with malha-report --msh {o.case}")
    try:
        mesh = Mesh(path)
        l2, nodal = errors(mesh, o.solution)
    except ValueError as error:
        sys.exit(f"fesolve: {error}")
    print(f"{o.case}: {len(mesh.quads)} elements, {o.solution}, Q1: "
          f"L2 error {l2:.3e}, max at the vertices {nodal:.3e}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Convergence of the worked finite-volume solver (examples/solver) on malha's
meshes: algebraic and smoothed (to convergence, malha --converge), 20 x 10 to
160 x 80, the smooth and the singular (L-shaped) solution, the corrected
scheme next to the plain two-point flux; then the meshes graded toward the
re-entrant corner (malha --grade), algebraic and smoothed, against today's.
Prints Markdown tables, draws the plot and a picture of the meshes.

Usage: bench/solver-convergence.py MALHA [PLOT.png [MESHES.png]]

Needs numpy, scipy and, for the plot, matplotlib (Debian: python3-numpy,
python3-scipy, python3-matplotlib). The meshes are made in a scratch folder
that is removed at the end. About a minute.
"""

import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                                "solver"))

import numpy as np  # noqa: E402

import fvsolve  # noqa: E402
import study  # noqa: E402

SIZES = [(20, 10), (40, 20), (80, 40), (160, 80)]
KINDS = [("algebraic", False), ("smoothed", True)]
SOLUTIONS = [("smooth", "smooth"), ("lshape", "singular"), ("linear", "linear")]
SCHEMES = [("corrected", True), ("two-point", False)]
CORNER_RADIUS = 0.15
# Graded meshes: (label, smoothed, gamma), today's first.
GRADED = [("algebraic", False, 1.0), ("algebraic, γ = 1.5", False, 1.5),
          ("algebraic, γ = 2", False, 2.0), ("algebraic, γ = 3", False, 3.0),
          ("smoothed", True, 1.0), ("γ = 2, then smoothed", True, 2.0)]
PICTURED = (40, 20)


def measure(program, scratch):
    """errors[(kind, solution, scheme)] = list of L2 errors over SIZES."""
    errors = {}
    for kind, smoothed in KINDS:
        for nx, ny in SIZES:
            mesh = study.make_mesh(program, os.path.join(scratch, f"{kind}{nx}"), nx, ny, smoothed)
            for solution, _ in SOLUTIONS:
                for scheme, corrected in SCHEMES:
                    l2, _ = fvsolve.solve(mesh, solution, corrected)
                    errors.setdefault((kind, solution, scheme), []).append(l2)
    return errors


def corner(program, scratch):
    """Why the smoothed meshes converge more slowly: where the first eta line
    crosses the diagonal near (0, 0), the share of the squared L2 error of the
    smooth solution within 0.15 of that corner, and the L2 error farther out
    with its orders."""
    nvol = [nx * ny for nx, ny in SIZES]
    lines = ["| measure | " + " | ".join(f"{nx}×{ny}" for nx, ny in SIZES) + " | orders |",
             "|---|" + "---|" * (len(SIZES) + 1)]
    for kind, smoothed in KINDS:
        reach, share, far = [], [], []
        for nx, ny in SIZES:
            mesh = study.make_mesh(program, os.path.join(scratch, f"{kind}{nx}"), nx, ny, smoothed)
            reach.append(mesh.vertices[mesh.nxv + nx // 2, 0])  # vertex (nx/2 + 1, 2)
            e2 = fvsolve.squared_errors(mesh, "smooth")
            near = np.hypot(*mesh.centroids.T) < CORNER_RADIUS
            share.append(e2[near].sum() / e2.sum())
            far.append(np.sqrt(e2[~near].sum()))
        orders = ", ".join(f"{p:.2f}" for p in study.orders(nvol, far))
        lines += [f"| {kind}: first line crosses the diagonal at x = y = | " +
                  " | ".join(f"{r:.4f}" for r in reach) + " | |",
                  f"| {kind}: share of the squared error near (0, 0) | " +
                  " | ".join(f"{x:.0%}" for x in share) + " | |",
                  f"| {kind}: L2 error farther than {CORNER_RADIUS} from (0, 0) | " +
                  " | ".join(f"{x:.2e}" for x in far) + f" | {orders} |"]
    return "\n".join(lines)


def table(errors):
    nvol = [nx * ny for nx, ny in SIZES]
    lines = ["| mesh | solution | scheme | " + " | ".join(f"{nx}×{ny}" for nx, ny in SIZES) +
             " | orders |", "|---|---|---|" + "---|" * len(SIZES) + "---|"]
    for kind, _ in KINDS:
        for solution, label in SOLUTIONS:
            for scheme, _ in SCHEMES:
                e = errors[(kind, solution, scheme)]
                order = ("—" if solution == "linear" else
                         ", ".join(f"{p:.2f}" for p in study.orders(nvol, e)))
                lines.append(f"| {kind} | {label} | {scheme} | " +
                             " | ".join(f"{x:.2e}" for x in e) + f" | {order} |")
    return "\n".join(lines)


def graded(program, scratch):
    """errors[(label, solution)] over SIZES, corrected scheme, for GRADED."""
    errors = {}
    for label, smoothed, gamma in GRADED:
        for nx, ny in SIZES:
            folder = os.path.join(scratch, f"{'s' if smoothed else 'a'}{nx}g{gamma:g}")
            mesh = study.make_mesh(program, folder, nx, ny, smoothed, gamma)
            for solution in ("lshape", "smooth"):
                errors.setdefault((label, solution), []).append(fvsolve.solve(mesh, solution)[0])
    return errors


def graded_table(errors):
    """The singular solution on each mesh of GRADED, how many times smaller
    its 160 x 80 error is than on today's algebraic mesh, and the smooth
    solution's 160 x 80 error and orders: the price."""
    nvol = [nx * ny for nx, ny in SIZES]
    today = errors[(GRADED[0][0], "lshape")][-1]
    lines = ["| mesh | " + " | ".join(f"{nx}×{ny}" for nx, ny in SIZES) +
             " | orders | today's / this | smooth solution: 160×80 | its orders |",
             "|---|" + "---|" * (len(SIZES) + 4)]
    for label, _, _ in GRADED:
        e, s = errors[(label, "lshape")], errors[(label, "smooth")]
        lines.append(f"| {label} | " + " | ".join(f"{x:.2e}" for x in e) + " | " +
                     ", ".join(f"{p:.2f}" for p in study.orders(nvol, e)) +
                     f" | {today / e[-1]:.1f} | {s[-1]:.2e} | " +
                     ", ".join(f"{p:.2f}" for p in study.orders(nvol, s)) + " |")
    return "\n".join(lines)


def draw_meshes(program, scratch, path):
    """The PICTURED mesh as it is, graded (gamma = 2), and graded then
    smoothed, side by side."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    nx, ny = PICTURED
    kinds = [("today's mesh", False, 1.0), ("--grade (γ = 2)", False, 2.0),
             ("--grade, smoothed", True, 2.0)]
    fig, axes = plt.subplots(1, len(kinds), figsize=(12, 4.3))
    for ax, (title, smoothed, gamma) in zip(axes, kinds):
        folder = os.path.join(scratch, f"picture{'s' if smoothed else 'a'}{gamma:g}")
        mesh = study.make_mesh(program, folder, nx, ny, smoothed, gamma)
        grid = mesh.vertices.reshape(mesh.nyv, mesh.nxv, 2)
        for line in grid:  # eta lines
            ax.plot(line[:, 0], line[:, 1], "k-", lw=0.4)
        for line in grid.transpose(1, 0, 2):  # ksi lines
            ax.plot(line[:, 0], line[:, 1], "k-", lw=0.4)
        ax.set_title(f"{title}, {nx}×{ny}")
        ax.set_aspect("equal")
        ax.set_xticks([0, 0.5, 1])
        ax.set_yticks([0, 0.5, 1])
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def plot(errors, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    h = [nx for nx, _ in SIZES]
    fig, axes = plt.subplots(1, 2, figsize=(10, 4.2), sharey=True)
    styles = {("algebraic", "corrected"): "o-", ("smoothed", "corrected"): "s-",
              ("algebraic", "two-point"): "o--", ("smoothed", "two-point"): "s--"}
    for ax, (solution, label), slope in zip(axes, SOLUTIONS[:2], (2.0, 4.0 / 3.0)):
        for (kind, scheme), style in styles.items():
            ax.loglog(h, errors[(kind, solution, scheme)], style, label=f"{kind}, {scheme}")
        ref = errors[("algebraic", solution, "corrected")][0]
        ax.loglog(h, [ref * 0.5 * (h[0] / x) ** slope for x in h], "k:",
                  label=f"order {slope:.2g}")
        ax.set_title(f"{label} solution")
        ax.set_xticks(h, [f"{nx}×{ny}" for nx, ny in SIZES])
        ax.minorticks_off()
        ax.set_xlabel("mesh (volumes)")
        ax.grid(True, which="both", alpha=0.3)
    axes[0].set_ylabel("L2 error at the centroids")
    axes[0].legend(fontsize=8)
    axes[1].legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    if len(sys.argv) not in (2, 3, 4):
        sys.exit(__doc__.split("\n\n")[1])
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="solver-study-") as scratch:
        errors = measure(program, scratch)
        print(table(errors))
        print()
        print(corner(program, scratch))
        print()
        print(graded_table(graded(program, scratch)))
        if len(sys.argv) == 4:
            draw_meshes(program, scratch, sys.argv[3])
    if len(sys.argv) >= 3:
        plot(errors, sys.argv[2])


if __name__ == "__main__":
    main()

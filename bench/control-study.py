#!/usr/bin/python3
"""The smoothed meshes with and without the control functions (malha
--control), read by two solvers: the worked finite-volume solver
(examples/solver/fvsolve.py, on the nest files) and bilinear finite elements
(examples/solver/fesolve.py, on the Gmsh file malha-report --msh writes).
20 x 10 to 160 x 80; the smooth solution on the algebraic, --converge and
--converge --control meshes, the singular one on the same three graded
(--grade, gamma = 2). Prints Markdown tables (errors and orders, then the
corner cell and the non-orthogonality) and draws the meshes near the two
corners.

Usage: bench/control-study.py MALHA MALHA_REPORT [MESHES.png]

Needs numpy, scipy, meshio and, for the picture, matplotlib (Debian:
python3-numpy python3-scipy python3-meshio python3-matplotlib, for
/usr/bin/python3). The meshes are made in a scratch folder removed at the
end. About ten seconds.
"""

import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                                "solver"))

import fesolve  # noqa: E402
import fvsolve  # noqa: E402
import study  # noqa: E402
from malhafiles import Mesh  # noqa: E402

SIZES = [(20, 10), (40, 20), (80, 40), (160, 80)]
# (label, smoothed, gamma, control), in the order of the tables and pictures.
UNGRADED = [("algebraic", False, 1.0, False), ("`--converge`", True, 1.0, False),
            ("`--converge --control`", True, 1.0, True)]
GRADED = [("`--grade`", False, 2.0, False), ("`--grade --converge`", True, 2.0, False),
          ("`--grade --converge --control`", True, 2.0, True)]
# Each mesh with the solution it is made for.
ROWS = [(kind, "smooth") for kind in UNGRADED] + [(kind, "lshape") for kind in GRADED]
# The readings: solver and norm of the error.
FE_L2 = "finite elements (Q1), L2"
FE_MAX = "finite elements (Q1), max at the vertices"
FV_L2 = "finite volumes, L2"
PICTURED = (40, 20)
MEASURED = (80, 40)  # the size of the non-orthogonality figures
# The two windows of the picture: (title, x range, y range).
WINDOWS = [("near the outer corner (0, 0)", (-0.01, 0.26), (-0.01, 0.26)),
           ("near the re-entrant corner (0.5, 0.5)", (0.36, 0.64), (0.36, 0.64))]


class Case:
    """One mesh made by malha, its Gmsh export and its report."""

    def __init__(self, programs, scratch, nx, ny, kind):
        malha, report = programs
        _, smoothed, gamma, control = kind
        self.folder = os.path.join(scratch, study.case_name(nx, ny, smoothed, gamma, control))
        self.name = study.make_case(malha, self.folder, nx, ny, smoothed, gamma, control)
        r = subprocess.run([report, "--json", "--msh", self.name], cwd=self.folder,
                           capture_output=True, text=True, check=True)
        self.report = json.loads(r.stdout)

    def mesh(self):
        return Mesh(self.folder, self.name)

    def elements(self):
        return fesolve.Mesh(os.path.join(self.folder, self.name + ".msh"))


def measure(programs, scratch):
    """errors[(label, solver)] over SIZES, and the cases by (label, size)."""
    errors, cases = {}, {}
    for kind, solution in ROWS:
        for nx, ny in SIZES:
            case = Case(programs, scratch, nx, ny, kind)
            cases[(kind[0], (nx, ny))] = case
            l2, nodal = fesolve.errors(case.elements(), solution)
            errors.setdefault((kind[0], FE_L2), []).append(l2)
            errors.setdefault((kind[0], FE_MAX), []).append(nodal)
            errors.setdefault((kind[0], FV_L2), []).append(
                fvsolve.solve(case.mesh(), solution)[0])
    return errors, cases


def error_table(errors, readings):
    """Errors and orders per mesh for the readings ((key, norm) pairs); the
    last column the 160 x 80 error over that of the first mesh of its group
    (algebraic or --grade)."""
    nvol = [nx * ny for nx, ny in SIZES]
    lines = ["| mesh | solution | error | " + " | ".join(f"{nx}×{ny}" for nx, ny in SIZES) +
             " | orders | against the first |", "|---|---|---|" + "---|" * (len(SIZES) + 2)]
    for reading, norm in readings:
        for (label, *_), solution in ROWS:
            first = (UNGRADED if solution == "smooth" else GRADED)[0][0]
            e = errors[(label, reading)]
            ratio = e[-1] / errors[(first, reading)][-1]
            lines.append(f"| {label} | {'smooth' if solution == 'smooth' else 'singular'} | "
                         f"{norm} | " + " | ".join(f"{x:.2e}" for x in e) + " | " +
                         ", ".join(f"{p:.2f}" for p in study.orders(nvol, e)) +
                         f" | {ratio:.2f} |")
    return "\n".join(lines)


def corner_reach(case):
    """The distance from (0, 0) of the next vertex on the line from (0, 0) to
    the re-entrant corner: vertex (m, 2), m = (nx + 2) div 2."""
    mesh = case.mesh()
    m = (mesh.nx + 2) // 2
    x, y = mesh.vertices[mesh.nxv + m - 1]
    return (x * x + y * y) ** 0.5


def shape_table(cases):
    """The corner vertex's distance against the algebraic (or graded) mesh's
    at each size, and malha-report's non-orthogonality of the inner faces."""
    lines = ["| mesh | next vertex from (0, 0), against the first: " +
             ", ".join(f"{nx}×{ny}" for nx, ny in SIZES) +
             f" | inner faces' non-orthogonality, {MEASURED[0]}×{MEASURED[1]}: max / mean |",
             "|---|---|---|"]
    for group in (UNGRADED, GRADED):
        for label, *_ in group:
            ratios = [corner_reach(cases[(label, size)]) / corner_reach(cases[(group[0][0], size)])
                      for size in SIZES]
            faces = cases[(label, MEASURED)].report["interior_faces"]
            lines.append(f"| {label} | " + ", ".join(f"{r:.2f}" for r in ratios) +
                         f" | {faces['non_orthogonality_max']:.1f}° / "
                         f"{faces['non_orthogonality_average']:.1f}° |")
    return "\n".join(lines)


def draw(cases, path):
    """The PICTURED meshes, one column each, in the two WINDOWS (rows)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    kinds = UNGRADED + GRADED[1:]  # --grade alone is left out: it is not smoothed
    fig, axes = plt.subplots(len(WINDOWS), len(kinds), figsize=(3.0 * len(kinds), 6.4))
    for column, (label, *_) in enumerate(kinds):
        mesh = cases[(label, PICTURED)].mesh()
        grid = mesh.vertices.reshape(mesh.nyv, mesh.nxv, 2)
        for row, (where, xs, ys) in enumerate(WINDOWS):
            ax = axes[row, column]
            for line in list(grid) + list(grid.transpose(1, 0, 2)):
                ax.plot(line[:, 0], line[:, 1], "k-", lw=0.6)
            ax.plot(*grid[1, (mesh.nx + 2) // 2 - 1], "o", color="tab:red", ms=4)
            ax.fill([0.5, 1, 1, 0.5], [0.5, 0.5, 1, 1], color="0.85", zorder=0)
            ax.set_xlim(*xs)
            ax.set_ylim(*ys)
            ax.set_aspect("equal")
            ax.tick_params(labelsize=7)
            if row == 0:
                ax.set_title(label.replace("`", ""), fontsize=9)
            if column == 0:
                ax.set_ylabel(where, fontsize=9)
    fig.suptitle(f"{PICTURED[0]}×{PICTURED[1]} meshes; the dot is the vertex next to (0, 0) "
                 "on the line to the re-entrant corner", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.split("\n\n")[1])
    programs = [os.path.abspath(p) for p in sys.argv[1:3]]
    with tempfile.TemporaryDirectory(prefix="control-study-") as scratch:
        errors, cases = measure(programs, scratch)
        print("Finite elements (Q1):\n")
        print(error_table(errors, [(FE_L2, "L2"), (FE_MAX, "max at the vertices")]))
        print("\nFinite volumes (the worked solver):\n")
        print(error_table(errors, [(FV_L2, "L2")]))
        print()
        print(shape_table(cases))
        if len(sys.argv) == 4:
            draw(cases, sys.argv[3])


if __name__ == "__main__":
    main()

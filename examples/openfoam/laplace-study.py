#!/usr/bin/python3
"""The Laplace case of run-laplace.py on meshes of every kind malha makes:
algebraic, smoothed to convergence (--converge) and smoothed with the
control functions (--converge --control), each also graded (--grade), at
the sizes given; with the harmonic solution x^2 - y^2 of the worked case or
the singular one r^(2/3) sin(2t/3) about the re-entrant corner. Prints a
Markdown table of the error of T at the cell centres: the L2 error (the
square root of the sum of area * error^2, the solver guide's measure) with
its order from one size to the next, the rms error over the cells (that of
run-laplace.py), and the largest error with its cell.

Usage: laplace-study.py [--malha PROGRAM] [--report PROGRAM]
                        [--solution harmonic|singular] [--sizes 40,80,160]
                        [--kinds algebraic,converge,control] [FOLDER]

The kinds: algebraic, converge, control, grade, grade-converge,
grade-control. Size N is the mesh N x N/2. OpenFOAM and FOLDER as for
run-laplace.py.
"""
import argparse
import math
import os
import runpy
import shutil
import subprocess
import sys
import tempfile
import types

HERE = os.path.dirname(os.path.abspath(__file__))
# run-laplace.py's functions (its name is no module name): its code run once,
# as a module of its own, without its main part.
run_laplace = types.SimpleNamespace(**runpy.run_path(os.path.join(HERE, "run-laplace.py")))

# Kind: (the label in the table, malha's options).
KINDS = {
    "algebraic": ("algebraic", []),
    "converge": ("`--converge`", ["--converge"]),
    "control": ("`--converge --control`", ["--converge", "--control"]),
    "grade": ("`--grade`", ["--grade"]),
    "grade-converge": ("`--grade --converge`", ["--grade", "--converge"]),
    "grade-control": ("`--grade --converge --control`", ["--grade", "--converge", "--control"]),
}
# Smoothing to convergence with the spacings 1 (the solver guide's meshes).
SMOOTHING = "1\n1\n0.0\n1.0\n1.0\n0\n0\n"
CORNER = (0.5, 0.5)
# The singular solution of the solver guide, u = r^(2/3) sin(2t/3) with t
# from the edge x = 0.5 above the corner counter-clockwise; measured from the
# direction (-1, -1), the angle's cut lies in the quarter outside the region:
# t = 3 pi/4 + atan2(dx - dy, -dx - dy).
SINGULAR = ("pow(sqr(pos().x() - 0.5) + sqr(pos().y() - 0.5), 1.0/3.0) * "
            "sin(2.0/3.0 * (0.75*pi() + atan2((pos().x() - 0.5) - (pos().y() - 0.5), "
            "-(pos().x() - 0.5) - (pos().y() - 0.5))))")
HARMONIC = "pos().x()*pos().x() - pos().y()*pos().y()"


def singular(x, y):
    dx, dy = x - CORNER[0], y - CORNER[1]
    t = 0.75 * math.pi + math.atan2(dx - dy, -dx - dy)
    return math.hypot(dx, dy) ** (2.0 / 3.0) * math.sin(2.0 * t / 3.0)


SOLUTIONS = {"harmonic": (run_laplace.exact, HARMONIC), "singular": (singular, SINGULAR)}


def make_mesh(malha, report, parent, nx, kind):
    """malha's files for the kind and size in a folder of their own, and
    the OpenFOAM case malha-report --foam exports from them."""
    name = f"{kind.replace('-', '_')}{nx}"
    folder = os.path.join(parent, name)
    os.makedirs(folder, exist_ok=True)
    smoothed = 2 if "--converge" in KINDS[kind][1] else 1
    with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
        f.write(f"{name}\n{nx}\n{nx // 2}\n{smoothed}\n0\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w", encoding="ascii") as f:
        f.write(SMOOTHING)
    env = dict(os.environ, COMSPEC="true")  # no editor, no plots
    for args in ([malha] + KINDS[kind][1], [report, "--foam", name]):
        r = subprocess.run(args, cwd=folder, env=env, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            sys.exit(f"{' '.join(args)} failed:\n{r.stderr}")
    return os.path.join(folder, name + "_openfoam")


def solve(case, solution):
    """laplacianFoam on the case with T fixed to the solution on the six
    sides; the errors of T at the cell centres, the centres and the cells'
    volumes (their areas: the case is one thick)."""
    exact, expression = SOLUTIONS[solution]
    for name in ("0", "constant", "system"):
        shutil.copytree(os.path.join(HERE, "laplace", name), os.path.join(case, name),
                        dirs_exist_ok=True)
    t_file = os.path.join(case, "0", "T")
    with open(t_file, encoding="utf-8") as f:
        text = f.read()
    if f'"{HARMONIC}"' not in text:
        sys.exit(f"laplace-study.py: {t_file}: no condition T = {HARMONIC} to replace")
    with open(t_file, "w", encoding="utf-8") as f:
        f.write(text.replace(f'"{HARMONIC}"', f'"{expression}"'))
    for args in (["laplacianFoam", "-case", case],
                 ["postProcess", "-funcs", "(writeCellCentres writeCellVolumes)", "-latestTime",
                  "-case", case]):
        r = run_laplace.openfoam(args, case, os.path.join(case, f"log.{args[0]}"))
        if r.returncode != 0:
            sys.exit(f"{' '.join(args)} failed:\n{(r.stdout + r.stderr)[-2000:]}")
    t = run_laplace.field(os.path.join(case, "1", "T"))
    centres = run_laplace.field(os.path.join(case, "1", "C"))
    volumes = run_laplace.field(os.path.join(case, "1", "V"))
    return [abs(v - exact(c[0], c[1])) for v, c in zip(t, centres)], centres, volumes


def study(malha, report, parent, o):
    print("| mesh | cells | L2 error | order | rms over the cells | largest error | "
          "in cell (i, j) | at (x, y) |")
    print("|---|---|---|---|---|---|---|---|")
    for kind in o.kinds:
        previous = None
        for nx in o.sizes:
            errors, centres, volumes = solve(make_mesh(malha, report, parent, nx, kind),
                                             o.solution)
            l2 = math.sqrt(sum(a * e * e for a, e in zip(volumes, errors)))
            rms = math.sqrt(sum(e * e for e in errors) / len(errors))
            worst = max(range(len(errors)), key=errors.__getitem__)  # cell v - 1 is volume v
            # h falls like 1 / nx.
            order = f"{math.log(previous[0] / l2) / math.log(nx / previous[1]):.2f}" \
                if previous else ""
            x, y = centres[worst][:2]
            print(f"| {KINDS[kind][0]}, {nx}×{nx // 2} | {len(errors)} | {l2:.2e} | {order} | "
                  f"{rms:.2e} | "
                  f"{errors[worst]:.2e} | ({worst % nx + 1}, {worst // nx + 1}) | "
                  f"({x:.3f}, {y:.3f}) |", flush=True)
            previous = (l2, nx)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--malha", default="malha")
    parser.add_argument("--report", default="malha-report")
    parser.add_argument("--solution", choices=sorted(SOLUTIONS), default="harmonic")
    parser.add_argument("--sizes", type=lambda s: [int(n) for n in s.split(",")],
                        default=[40, 80, 160])
    parser.add_argument("--kinds", type=lambda s: s.split(","),
                        default=["algebraic", "converge", "control"])
    parser.add_argument("folder", nargs="?")
    o = parser.parse_args()
    unknown = [k for k in o.kinds if k not in KINDS]
    if unknown:
        parser.error(f"unknown kind {unknown[0]}; the kinds: {', '.join(KINDS)}")
    if any(n < 2 or n % 2 for n in o.sizes):
        parser.error("a size is an even number of volumes around the L, 2 or more")
    if not run_laplace.have_openfoam():
        sys.exit("laplace-study.py: OpenFOAM is not installed (Debian: apt install openfoam)")
    malha, report = (os.path.abspath(shutil.which(p) or p) for p in (o.malha, o.report))
    for program in (malha, report):
        if not os.access(program, os.X_OK):
            sys.exit(f"laplace-study.py: {program}: no such program")
    if o.folder:
        study(malha, report, os.path.abspath(o.folder), o)
    else:
        with tempfile.TemporaryDirectory(prefix="laplace-study-") as parent:
            study(malha, report, parent, o)


if __name__ == "__main__":
    main()

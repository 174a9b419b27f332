#!/usr/bin/python3
"""Laminar flow through the L, solved by OpenFOAM's simpleFoam on a mesh of
malha (40 x 20, smoothed): in through the top side (y = 1) at speed 1, out
through the right side (x = 1), the four other sides walls, Reynolds number
50 on the inlet's width. Prints the SIMPLE iterations to convergence, the
flow in and out (they balance) and the largest speed.

Usage: run-flow.py [--malha PROGRAM] [--report PROGRAM] [FOLDER]

What the export leaves to the user, done here: the case in flow/ beside
this script is copied over CASE_openfoam/ (its system/ files replace the
export's, which serve checkMesh only), and the four wall sides are retyped
`wall` in constant/polyMesh/boundary with foamDictionary. FOLDER, the
programs and OpenFOAM are found as run-laplace.py finds them: without FOLDER
the work is done in a temporary folder, removed at the end.
"""
import importlib.util
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MESH = (40, 20)
INLET, OUTLET = "top", "right"
WALLS = ("left", "bottom", "reentrant_vertical", "reentrant_horizontal")


def laplace_script():
    """run-laplace.py beside this script: the mesh, OpenFOAM's settings."""
    found = importlib.util.spec_from_file_location("run_laplace",
                                                   os.path.join(HERE, "run-laplace.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


LAPLACE = laplace_script()


def patch_values(path, patch):
    """The values of a patch of an ASCII OpenFOAM field file (scalars)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"\n\s*" + patch + r"\s*\{[^}]*?value\s+nonuniform\s+List<scalar>\s*\d+\s*"
                      r"\((.*?)\)\s*;", text, re.S)
    if not block:
        sys.exit(f"{path}: no values for the patch {patch}")
    return [float(v) for v in block.group(1).split()]


def run(args, case):
    r = LAPLACE.openfoam(args, case, os.path.join(case, f"log.{args[0]}"))
    if r.returncode != 0:
        sys.exit(f"{' '.join(args)} failed:\n{(r.stdout + r.stderr)[-2000:]}")
    return r.stdout


def solve(case):
    """simpleFoam on the case: iterations, inflow, outflow, largest speed."""
    for name in ("0", "constant", "system"):
        shutil.copytree(os.path.join(HERE, "flow", name), os.path.join(case, name),
                        dirs_exist_ok=True)
    boundary = os.path.join(case, "constant", "polyMesh", "boundary")
    for side in WALLS:
        run(["foamDictionary", boundary, "-entry", f"entry0/{side}/type", "-set", "wall"], case)
    log = run(["simpleFoam", "-case", case], case)
    converged = re.search(r"SIMPLE solution converged in (\d+) iterations", log)
    if not converged:
        sys.exit(f"simpleFoam did not converge; see the end of its log:\n{log[-2000:]}")
    steps = converged.group(1)
    last = os.path.join(case, steps)
    inflow = -sum(patch_values(os.path.join(last, "phi"), INLET))
    outflow = sum(patch_values(os.path.join(last, "phi"), OUTLET))
    speed = max((u[0] ** 2 + u[1] ** 2) ** 0.5 for u in LAPLACE.field(os.path.join(last, "U")))
    return int(steps), inflow, outflow, speed


def study(malha, report, parent):
    nx, ny = MESH
    case = LAPLACE.make_mesh(malha, report, parent, nx, ny)
    steps, inflow, outflow, speed = solve(case)
    print(f"{'mesh':>8} {'cells':>6} {'iterations':>11} {'inflow':>12} {'outflow':>12} "
          f"{'max |U|':>8}")
    print(f"{f'{nx}x{ny}':>8} {nx * ny:>6} {steps:>11} {inflow:>12.6f} {outflow:>12.6f} "
          f"{speed:>8.4f}")


if __name__ == "__main__":
    LAPLACE.command_line("run-flow.py", study, "flow-run-")

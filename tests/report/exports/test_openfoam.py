#!/usr/bin/python3
"""CASE_openfoam/ in OpenFOAM: checkMesh runs on the case as written and
says "Mesh OK." on the unfolded meshes, also with -allGeometry -allTopology
(a mesh one cell across, ny = 1, fails only the cell determinant check,
which counts the inner faces alone); its patches hold the faces of the six
sides, and its smallest face volume ratio is 1 / the largest growth. On the
folded mesh it fails (quality_vs_tools.py compares its cells of no volume,
its concave cells and its cell fields with the report's, cell by cell).
Then the worked Laplace case of examples/openfoam solves on two meshes with
the error falling, run as the docs give it (relative program paths, no
folder: it leaves nothing where it runs).

Usage: test_openfoam.py MALHA MALHA_REPORT   (exit 77: no OpenFOAM)
"""
import os
import re
import sys

import cases

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()
example = cases.openfoam_runner()
ALL_CHECKS = ["-allGeometry", "-allTopology"]


def check_mesh(case, options):
    folder = case.path("_openfoam")
    r = example.openfoam(["checkMesh", *options, "-case", folder], case.folder)
    return r.stdout + r.stderr


def number(pattern, text):
    m = re.search(pattern, text)
    return float(m.group(1)) if m else float("nan")


def check_unfolded(case, plain, full):
    name = case.name
    check("Mesh OK." in plain, f"{name}: checkMesh says Mesh OK. ({plain[-300:]})")
    if case.ny > 1:
        check("Mesh OK." in full, f"{name}: checkMesh {' '.join(ALL_CHECKS)}: Mesh OK.")
    else:
        check("Failed 1 mesh checks." in full and "***Cells with small determinant" in full,
              f"{name}: ny = 1 fails the determinant check alone")
    for side, count in case.sides.items():
        got = number(rf"(?m)^\s+{side}\s*(\d+)\s+\d+\s+ok", full)
        check(got == count, f"{name}: patch {side} has {got} faces, expected {count}")
    check(re.search(r"(?m)^\s+frontAndBack\s+" + str(2 * case.cells) + r"\s", full),
          f"{name}: frontAndBack holds the back and front of every cell")
    growth = case.report["metrics"]["growth"]["max"]
    ratio = number(r"Face volume ratio : minimum: (\S+)", full)
    check(cases.close(1 / ratio, growth, 1e-9),
          f"{name}: 1 / checkMesh's smallest face volume ratio {ratio} is the largest growth")


def check_laplace(parent):
    """As the docs give the command: the programs by paths relative to the
    folder it runs in, and no FOLDER, which leaves that folder as it was."""
    here = os.path.join(parent, "laplace")
    os.makedirs(here)
    relative = [os.path.relpath(p, here) for p in (MALHA, REPORT)]
    r = cases.run(["/usr/bin/python3", example.__file__, "--malha", relative[0],
                   "--report", relative[1]], here)
    print(r.stdout, end="")
    check(not os.listdir(here), f"run-laplace.py leaves nothing behind ({os.listdir(here)})")
    rows = re.findall(r"(?m)^\s+\d+x\d+\s+\d+\s+(\S+)\s+(\S+)", r.stdout)
    check(r.returncode == 0 and len(rows) == 2, f"run-laplace.py runs ({r.stderr[-300:]})")
    guide = cases.doc_text("using-the-mesh.md")
    for line in r.stdout.splitlines():
        check(line.rstrip() in guide, f"docs/using-the-mesh.md shows the line: {line.rstrip()}")
    if len(rows) == 2:
        (max1, rms1), (max2, rms2) = [(float(a), float(b)) for a, b in rows]
        check(max2 < max1 and rms2 < 0.6 * rms1, "the error falls from the coarse mesh to the fine")
        check(max1 < 0.05, "the error is small against T's range of 2")


def main():
    cases.skip_unless(example.have_openfoam(), "OpenFOAM (Debian: openfoam)")
    with cases.scratch() as parent:
        for case in cases.make_cases(MALHA, REPORT, parent, ["--foam"]):
            plain, full = check_mesh(case, []), check_mesh(case, ALL_CHECKS)
            if case.concave:
                check("Mesh OK." not in plain + full, f"{case.name}: checkMesh fails")
            else:
                check_unfolded(case, plain, full)
        check_laplace(parent)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

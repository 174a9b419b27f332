#!/usr/bin/python3
"""CASE_openfoam/ in OpenFOAM: checkMesh runs on the case as written and
says "Mesh OK." on the unfolded meshes, also with -allGeometry -allTopology
(a mesh one cell across, ny = 1, fails only the cell determinant check,
which counts the inner faces alone); its patches hold the faces of the six
sides; its largest non-orthogonality is the report's, its cell volumes are
the areas and its smallest face volume ratio is 1 / the largest growth. On the folded mesh it fails, and the cells of no volume and
the concave cells it finds are the report's inverted and concave cells. Then the worked Laplace case of examples/openfoam solves
on two meshes with the error falling.

Usage: test_openfoam.py MALHA MALHA_REPORT EXAMPLES   (exit 77: no OpenFOAM)
"""
import importlib.util
import os
import re
import sys

import cases

MALHA, REPORT, EXAMPLES = cases.arguments(3)
check = cases.Checks()
RUN_LAPLACE = os.path.join(EXAMPLES, "openfoam", "run-laplace.py")
spec = importlib.util.spec_from_file_location("run_laplace", RUN_LAPLACE)
example = importlib.util.module_from_spec(spec)
spec.loader.exec_module(example)
ALL_CHECKS = ["-allGeometry", "-allTopology"]


def check_mesh(case, options):
    folder = case.path("_openfoam")
    r = example.openfoam(["checkMesh", *options, "-case", folder], case.folder)
    return r.stdout + r.stderr


def cell_set(case, name):
    """The labels of a cell set checkMesh wrote, as volume numbers."""
    path = os.path.join(case.path("_openfoam"), "constant", "polyMesh", "sets", name)
    if not os.path.exists(path):
        return set()
    with open(path, encoding="utf-8") as f:
        text = f.read().split("}", 1)[1]
    words = re.sub(r"//.*", "", text).replace("(", " ").replace(")", " ").split()
    return {int(w) + 1 for w in words[1:]}


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
    metrics = case.report["metrics"]
    theirs = number(r"non-orthogonality Max: (\S+)", full)
    check(cases.close(theirs, metrics["non_orthogonality"]["max"], 1e-9),
          f"{name}: checkMesh's largest non-orthogonality {theirs} is the report's")
    smallest = number(r"Min volume = (\S+?)\.\s", full)
    total = number(r"Total volume = (\S+?)\.\s", full)
    check(cases.close(smallest, metrics["area"]["min"], 1e-9), f"{name}: smallest volume = area")
    check(cases.close(total, metrics["area"]["mean"] * case.cells, 1e-9),
          f"{name}: total volume = the areas' sum")
    ratio = number(r"Face volume ratio : minimum: (\S+)", full)
    check(cases.close(1 / ratio, metrics["growth"]["max"], 1e-9),
          f"{name}: 1 / checkMesh's smallest face volume ratio {ratio} is the largest growth")


def check_turned(case, plain, full):
    """checkMesh fails, and its cells of no volume and its concave cells are
    the report's inverted and concave cells."""
    name = case.name
    check("Mesh OK." not in plain and "Mesh OK." not in full, f"{name}: checkMesh fails")
    negative = {v for v, a in enumerate(cases.areas(case), 1) if a <= 0}
    found = {"inverted": cell_set(case, "zeroVolumeCells"), "concave": cell_set(case, "concaveCells")}
    check(found["inverted"] == negative and negative,
          f"{name}: zeroVolumeCells are the cells of area <= 0")
    for kind, cells in found.items():
        report = case.report[kind]
        listed = {c["volume"] for c in report["worst"]}
        check(listed <= cells and report["count"] == len(cells),
              f"{name}: checkMesh finds the report's {report['count']} {kind} cells ({len(cells)})")


def check_laplace(parent):
    r = cases.run(["/usr/bin/python3", RUN_LAPLACE, "--malha", MALHA, "--report", REPORT,
                   os.path.join(parent, "laplace")], parent)
    print(r.stdout, end="")
    rows = re.findall(r"(?m)^\s+\d+x\d+\s+\d+\s+(\S+)\s+(\S+)", r.stdout)
    check(r.returncode == 0 and len(rows) == 2, f"run-laplace.py runs ({r.stderr[-300:]})")
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
                check_turned(case, plain, full)
            else:
                check_unfolded(case, plain, full)
        check_laplace(parent)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""CASE.msh and CASE.vtu read by meshio: the points, the quadrangles in
volume order; in the .msh the six sides and "domain" as cell sets with the
right number of cells, in the .vtu the lines with their "side" and the case
as field data.

Usage: test_meshio.py MALHA MALHA_REPORT   (exit 77: no python3-meshio)
"""
import sys

import cases

try:
    import meshio
except ImportError:
    meshio = None

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()


def blocks(mesh, kind):
    return [b for b in mesh.cells if b.type == kind]


def check_msh(case):
    name = case.name
    mesh = meshio.read(case.path(".msh"))
    check(len(mesh.points) == case.vertices, f"{name}: msh points")
    quads = blocks(mesh, "quad")
    check(len(quads) == 1 and len(quads[0].data) == case.cells, f"{name}: msh quadrangles")
    # Volume (i, j) = (j - 1) nx + i has corners k, k + 1, k + nxv + 1, k + nxv (0-based k).
    nxv = case.nx + 1
    last = quads[0].data[-1].tolist()
    k = case.vertices - nxv - 2
    check(last == [k, k + 1, k + nxv + 1, k + nxv], f"{name}: msh corners of the last volume")
    lines = sum(len(b.data) for b in blocks(mesh, "line"))
    check(lines == sum(case.sides.values()), f"{name}: msh boundary lines")
    for side, count in case.sides.items():
        sets = mesh.cell_sets.get(side)
        got = sum(len(s) for s in sets) if sets else None
        check(got == count, f"{name}: msh {side} has {got} lines, expected {count}")
    check(sum(len(s) for s in mesh.cell_sets["domain"]) == case.cells, f"{name}: msh domain")


def check_vtu(case):
    name = case.name
    mesh = meshio.read(case.path(".vtu"))
    check(len(mesh.points) == case.vertices, f"{name}: vtu points")
    kinds = [b.type for b in mesh.cells]
    check(kinds == ["quad", "line"], f"{name}: vtu cell blocks {kinds}")
    check(len(mesh.cells[0].data) == case.cells, f"{name}: vtu quadrangles")
    side = mesh.cell_data["side"]
    check(set(side[0]) == {0}, f"{name}: vtu quadrangles on no side")
    counts = {s: int((side[1] == k).sum()) for k, s in enumerate(cases.SIDES, 1)}
    check(counts == case.sides, f"{name}: vtu lines per side {counts}")
    check(bytes(mesh.field_data["case_name"]).decode() == name, f"{name}: vtu case name")
    check(int(mesh.field_data["nx"][0]) == case.nx, f"{name}: vtu nx")


def main():
    cases.skip_unless(meshio, "python3-meshio")
    with cases.scratch() as parent:
        for case in cases.make_cases(MALHA, REPORT, parent, ["--msh", "--vtu"]):
            check_msh(case)
            check_vtu(case)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

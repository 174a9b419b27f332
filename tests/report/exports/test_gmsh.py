#!/usr/bin/python3
"""CASE.msh in Gmsh: `gmsh CASE.msh -check` reads it without an error, and
the Python API finds the nodes at the vertices, the quadrangles, the six
sides as physical groups of lines with the right counts and lengths, and
"domain"; every quadrangle counter-clockwise (positive Jacobian at its four
corners) unless the report counts it concave.

Usage: test_gmsh.py MALHA MALHA_REPORT   (exit 77: neither gmsh nor python3-gmsh)
"""
import math
import sys

import cases

try:
    import gmsh
except ImportError:
    gmsh = None

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()
CORNERS = [-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0]  # of the reference quadrangle


def gmsh_check(case):
    r = cases.run(["gmsh", case.path(".msh"), "-check"], case.folder)
    out = r.stdout + r.stderr
    check(r.returncode == 0 and "Error" not in out, f"{case.name}: gmsh -check ({out[-400:]})")
    check(f"{case.vertices} nodes" in out, f"{case.name}: gmsh counts the nodes")
    total = case.cells + sum(case.sides.values())
    check(f"{total} elements" in out, f"{case.name}: gmsh counts the elements")


def group_elements(dim, tag):
    """Element tags and node tags of a physical group."""
    elements, nodes = [], []
    for entity in gmsh.model.getEntitiesForPhysicalGroup(dim, tag):
        _, tags, node_tags = gmsh.model.mesh.getElements(dim, entity)
        for t, n in zip(tags, node_tags):
            elements += list(t)
            nodes += list(n)
    return elements, nodes


def api_check(case):
    gmsh.open(case.path(".msh"))
    name = case.name
    tags, coords, _ = gmsh.model.mesh.getNodes()
    xy = cases.vertices(case)
    check(len(tags) == case.vertices, f"{name}: node count")
    check(all(coords[3 * k : 3 * k + 2].tolist() == list(xy[int(t) - 1]) for k, t in enumerate(tags)),
          f"{name}: node k at vertex k")
    groups = {gmsh.model.getPhysicalName(d, t): (d, t) for d, t in gmsh.model.getPhysicalGroups()}
    check(sorted(groups) == sorted(cases.SIDES + ["domain"]), f"{name}: groups {sorted(groups)}")
    quads, _ = group_elements(*groups["domain"])
    check(groups["domain"][0] == 2 and len(quads) == case.cells, f"{name}: domain quadrangles")
    for side in cases.SIDES:
        dim, tag = groups[side]
        lines, nodes = group_elements(dim, tag)
        check(dim == 1 and len(lines) == case.sides[side],
              f"{name}: {side} has {len(lines)} lines, expected {case.sides[side]}")
        length = sum(math.dist(xy[int(a) - 1], xy[int(b) - 1]) for a, b in zip(nodes[::2], nodes[1::2]))
        check(cases.close(length, case.report["sides"][side]["length"], 1e-12),
              f"{name}: {side} as long as the report says")
    # Gmsh's determinant of a surface element is a length; the sign is in
    # the z component of the cross product of the two rows.
    jac, _, _ = gmsh.model.mesh.getJacobians(3, CORNERS)
    cross = jac[0::9] * jac[4::9] - jac[1::9] * jac[3::9]
    turned = {v + 1 for v in range(case.cells) if min(cross[4 * v : 4 * v + 4]) <= 0}
    listed = {f["volume"] for f in case.report["concave"]["worst"]}
    if case.concave:
        check(listed <= turned and len(turned) == case.report["concave"]["count"],
              f"{name}: the concave cells are those with a corner turned in Gmsh")
    else:
        check(not turned, f"{name}: every quadrangle counter-clockwise ({sorted(turned)[:5]})")


def main():
    have_cli = cases.have_program("gmsh")
    cases.skip_unless(have_cli or gmsh, "gmsh (neither the program nor python3-gmsh)")
    if not have_cli:
        print("gmsh -check skipped: the program gmsh is not installed")
    if not gmsh:
        print("Gmsh's Python API skipped: python3-gmsh is not installed")
    else:
        gmsh.initialize()
        gmsh.option.setNumber("General.Terminal", 0)
    with cases.scratch() as parent:
        for case in cases.make_cases(MALHA, REPORT, parent, ["--msh"]):
            if have_cli:
                gmsh_check(case)
            if gmsh:
                api_check(case)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""malha-report's measures, cell by cell from the .vts arrays, against the
tools whose definitions they follow, on four meshes malha writes:

  alg   40 x 20, algebraic
  smo   40 x 20, smoothed (the shipped example's settings)
  fold  20 x 10, smoothed with deta = 0.1, nsweep 5, niter 20: 18 cells
        inverted, 20 concave (malha's warnings name the same cells)
  odd   11 x 5, smoothed, an odd nx
  grad  40 x 20, graded toward the re-entrant corner (malha --grade), smoothed

VTK's mesh-quality filter (vtkMeshQuality, the one of ParaView): area, edge
ratio, aspect ratio, minimum and maximum angle, scaled Jacobian, and the
equiangle skew from VTK's two angles. Its quadrilateral takes the normal of
its own corners, so it shows an inverted cell as valid: there the report's
area is VTK's negated and its scaled Jacobian is negative where VTK's is
not. Gmsh's AnalyseMeshQuality plugin: the Jacobian ratio (minJ/maxJ) on
the .msh. OpenFOAM's checkMesh on the --foam case: its cell fields
nonOrthoAngle and skewness against non_orthogonality and face_skewness,
cellVolume against the area, its cells of negative volume and its concave
cells against the inverted and concave cells, and its face summary of the
non-orthogonality against the report's. checkMesh does not take the
centroid of a concave cell for its centre: the concave cells and their
neighbours are left out of the comparisons of the fields, and a mesh with
concave cells out of that of the summary. The boundary non-orthogonality, which no
tool gives, against the angle recomputed here from the files malha wrote:
the vertices, the centroids of CASE_cent.txt and the ghost centres of the
ring of CASE_cent_fict.txt. Every tool that is not installed
is said and skipped; without python3-vtk9 the whole test is skipped.

Usage: quality_vs_tools.py MALHA MALHA_REPORT   (exit 77: no python3-vtk9)
"""
import math
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "exports"))
import cases  # noqa: E402  (the meshes, the runs, the table of failures)

try:
    from vtkmodules.vtkFiltersVerdict import vtkMeshQuality
    from vtkmodules.vtkIOXML import vtkXMLStructuredGridReader
except ImportError:
    vtkMeshQuality = None
try:
    import gmsh
except ImportError:
    gmsh = None

MALHA, REPORT = cases.arguments(2)
foam = cases.openfoam_runner()
FIELDS = ["nonOrthoAngle", "skewness", "cellVolume"]
check = cases.Checks()
TIGHT = 1e-12

# name, nx, ny, smoothed, deta, niter, malha's options
MESHES = [("alg", 40, 20, False, 1.0, 100, []), ("smo", 40, 20, True, 1.0, 100, []),
          ("fold", 20, 10, True, 0.1, 20, []), ("odd", 11, 5, True, 1.0, 100, []),
          ("grad", 40, 20, True, 1.0, 100, ["--grade"])]


class Mesh:
    """A case of cases.make_case, its .vts as VTK reads it."""

    def __init__(self, parent, name, nx, ny, smoothed, deta, niter, options):
        flags = ["--vtk", "--msh"] + (["--foam"] if foam.have_openfoam() else [])
        case = cases.make_case(MALHA, REPORT, parent, name, nx, ny, smoothed, deta, flags, niter,
                               options)
        self.name, self.nx, self.ny, self.cells = name, nx, ny, case.cells
        self.folder, self.path, self.report = case.folder, case.path, case.report
        self.warnings = case.warnings
        self.grid = cases.read_vtk(vtkXMLStructuredGridReader, case.path(".vts"))

    def ours(self, key):
        return cases.values(self.grid.GetCellData().GetArray(key))

    def vtk(self, measure):
        q = vtkMeshQuality()
        q.SetInputData(self.grid)
        getattr(q, "SetQuadQualityMeasureTo" + measure)()
        q.Update()
        return cases.values(q.GetOutput().GetCellData().GetArray("Quality"))


def agree(mesh, what, mine, theirs, cells, tol=TIGHT):
    worst = max((abs(mine[v] - theirs[v]) / max(1.0, abs(theirs[v])) for v in cells), default=0)
    print(f"{mesh.name}: {what}: {len(cells)} cells, largest relative difference {worst:.2g}")
    cells = list(cells)
    off = [v + 1 for v in cells if not cases.close(mine[v], theirs[v], tol)]
    check(not off, f"{mesh.name}: {what} on {len(cells)} cells; volumes {off[:5]} differ "
          f"({[(mine[v - 1], theirs[v - 1]) for v in off[:2]]})")


def against_vtk(mesh):
    area, inverted = mesh.ours("area"), mesh.ours("inverted")
    every = range(mesh.cells)
    upright = [v for v in every if not inverted[v]]
    turned = [v for v in every if inverted[v]]
    # VTK takes a cell's own normal: the area without its sign.
    agree(mesh, "area against VTK's Area", [abs(a) for a in area], mesh.vtk("Area"), every)
    for key, measure in (("edge_ratio", "EdgeRatio"), ("aspect_ratio", "AspectRatio")):
        agree(mesh, f"{key} against VTK's {measure}", mesh.ours(key), mesh.vtk(measure), every)
    low, high = mesh.vtk("MinAngle"), mesh.vtk("MaxAngle")
    agree(mesh, "min_angle against VTK's MinAngle", mesh.ours("min_angle"), low, upright)
    agree(mesh, "max_angle against VTK's MaxAngle", mesh.ours("max_angle"), high, upright)
    skew = [min(1, max(high[v] - 90, 90 - low[v]) / 90) for v in every]
    agree(mesh, "equiangle_skew against VTK's angles", mesh.ours("equiangle_skew"), skew, upright)
    jacobian = mesh.vtk("ScaledJacobian")
    ours = mesh.ours("scaled_jacobian")
    agree(mesh, "scaled_jacobian against VTK's ScaledJacobian", ours, jacobian, upright)
    # What ParaView shows of an inverted cell: a positive area, and corners
    # that do not all turn its way.
    shown_valid = [v + 1 for v in turned if mesh.vtk("Area")[v] > 0 and ours[v] <= 0]
    check(len(shown_valid) == len(turned), f"{mesh.name}: VTK shows the inverted cells as valid")


def against_gmsh(mesh):
    gmsh.clear()
    gmsh.open(mesh.path(".msh"))
    for option, value in (("JacobianDeterminant", 1), ("CreateView", 1), ("Recompute", 1),
                          ("DimensionOfElements", 2)):
        gmsh.plugin.setNumber("AnalyseMeshQuality", option, value)
    gmsh.plugin.run("AnalyseMeshQuality")
    ratio = {}
    for tag in gmsh.view.getTags():
        _, elements, data, _, _ = gmsh.view.getModelData(tag, 0)
        ratio = dict(zip(elements, (d[0] for d in data)))
        gmsh.view.remove(tag)
    _, tags, _ = gmsh.model.mesh.getElements(2)
    theirs = [ratio.get(t, float("nan")) for t in tags[0]]
    upright = [v for v, i in enumerate(mesh.ours("inverted")) if not i]
    agree(mesh, "jacobian_ratio against Gmsh's minJ/maxJ", mesh.ours("jacobian_ratio"), theirs,
          upright)


def pairs(mesh, suffix):
    """The records of two E25.15 fields of a case file as (x, y)."""
    with open(mesh.path(suffix), encoding="ascii") as f:
        return [tuple(float(w.replace("E", "e")) for w in line.split()) for line in f]


def against_the_ring(mesh):
    """The largest angle over a boundary cell's boundary faces between the
    outward normal and the line from its centroid to the ghost centre."""
    xy = pairs(mesh, ".txt")[2:]  # after the sizes and the spacings
    centroid, ring = pairs(mesh, "_cent.txt"), pairs(mesh, "_cent_fict.txt")
    nx, ny, nxf = mesh.nx, mesh.ny, mesh.nx + 2
    mine, theirs, cells = mesh.ours("boundary_non_orthogonality"), [0.0] * mesh.cells, []
    for j in range(1, ny + 1):
        for i in range(1, nx + 1):
            v = (j - 1) * nx + i - 1
            k = (j - 1) * (nx + 1) + i - 1  # vertex (i, j)
            corners = [xy[k], xy[k + 1], xy[k + nx + 2], xy[k + nx + 1]]
            # side: (is it on the boundary, the ghost's (I, J) in the ring)
            sides = [(j == 1, (i + 1, 1)), (i == nx, (nxf, j + 1)), (j == ny, (i + 1, ny + 2)),
                     (i == 1, (1, j + 1))]
            for s, (boundary, (gi, gj)) in enumerate(sides):
                if not boundary:
                    continue
                (ax, ay), (bx, by) = corners[s], corners[(s + 1) % 4]
                gx, gy = ring[(gj - 1) * nxf + gi - 1]
                dx, dy = gx - centroid[v][0], gy - centroid[v][1]
                cosine = (dx * (by - ay) - dy * (bx - ax)) / math.hypot(dx, dy) / math.hypot(
                    bx - ax, by - ay)
                theirs[v] = max(theirs[v], math.degrees(math.acos(max(-1.0, min(1.0, cosine)))))
            if any(b for b, _ in sides):
                cells.append(v)
    agree(mesh, "boundary_non_orthogonality against the ghosts of CASE_cent_fict.txt", mine,
          theirs, cells, 1e-9)


def foam_list(text, start):
    """The numbers of the OpenFOAM list whose size stands at `start`."""
    m = re.compile(r"(\d+)\s*\(").search(text, start)
    size = int(m.group(1))
    return text[m.end():].split(None, size)[:size]


def foam_field(folder, name):
    with open(os.path.join(folder, "constant", name), encoding="utf-8") as f:
        text = f.read()
    return [float(v) for v in foam_list(text, text.index("internalField"))]


def foam_set(folder, name):
    """A cell set of checkMesh as volume numbers."""
    path = os.path.join(folder, "constant", "polyMesh", "sets", name)
    if not os.path.exists(path):
        return set()
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"//.*", "", f.read())
    return {int(v) + 1 for v in foam_list(text, text.index("}") + 1)}


def against_checkmesh(mesh):
    folder = mesh.path("_openfoam")
    out = foam.openfoam(["checkMesh", "-allGeometry", "-allTopology", "-writeFields",
                         "(" + " ".join(FIELDS) + ")", "-case", folder], mesh.folder)
    text = out.stdout + out.stderr
    if not check(all(os.path.exists(os.path.join(folder, "constant", f)) for f in FIELDS),
                 f"{mesh.name}: checkMesh wrote its fields ({text[-300:]})"):
        return
    concave = mesh.ours("concave")
    # Away from the concave cells: neither concave nor beside one.
    near = set()
    for v in (v for v in range(mesh.cells) if concave[v]):
        i, j = v % mesh.nx, v // mesh.nx
        near |= {v, v - 1 if i > 0 else v, v + 1 if i < mesh.nx - 1 else v,
                 v - mesh.nx if j > 0 else v, v + mesh.nx if j < mesh.ny - 1 else v}
    away = [v for v in range(mesh.cells) if v not in near]
    agree(mesh, "non_orthogonality against checkMesh's nonOrthoAngle",
          mesh.ours("non_orthogonality"), foam_field(folder, "nonOrthoAngle"), away, 1e-9)
    agree(mesh, "face_skewness against checkMesh's skewness", mesh.ours("face_skewness"),
          foam_field(folder, "skewness"), away, 1e-9)
    agree(mesh, "area against checkMesh's cellVolume (thickness 1)", mesh.ours("area"),
          foam_field(folder, "cellVolume"), range(mesh.cells))
    for key, name in (("inverted", "zeroVolumeCells"), ("concave", "concaveCells")):
        ours = {v + 1 for v, flag in enumerate(mesh.ours(key)) if flag}
        check(ours == foam_set(folder, name), f"{mesh.name}: {key} cells are checkMesh's {name}")
    if not near:
        faces = mesh.report["interior_faces"]
        m = re.search(r"non-orthogonality Max: (\S+) average: (\S+)", text)
        print(f"{mesh.name}: checkMesh {m and m.group(0)}; the report: max "
              f"{faces['non_orthogonality_max']} average {faces['non_orthogonality_average']}")
        check(m and cases.close(float(m.group(1)), faces["non_orthogonality_max"], 1e-9)
              and cases.close(float(m.group(2)), faces["non_orthogonality_average"], 1e-9),
              f"{mesh.name}: the face summary is checkMesh's ({m and m.group(0)})")


def check_verdict(mesh):
    """The folded mesh fails three checks: said at the end of the report and
    in the JSON; the status is 0, and 3 with --strict."""
    failed = "3 checks failed: inverted cells (18), concave cells (20), faces at 90 deg or more (31)"
    v = mesh.report["verdict"]
    check(v == {"ok": False, "failed": ["inverted", "concave", "non_orthogonal_faces"],
                "line": failed}, f"fold: the JSON verdict {v}")
    for flags, status in (([], 0), (["--strict"], 3)):
        r = cases.run([REPORT, *flags, mesh.name], mesh.folder)
        check(r.returncode == status and r.stdout.endswith("\n" + failed + "\n"),
              f"fold: malha-report {' '.join(flags)} ends with the verdict, status {r.returncode}")


def check_warnings(mesh):
    """malha's warnings count the cells the report counts, and name first the
    cell of the smallest area, the report's worst area."""
    smallest = mesh.report["metrics"]["area"]["min_cell"]["volume"]
    for kind in ("inverted", "concave"):
        m = re.search(rf"warning: (\d+) {kind} cells.*?the worst first: volume (\d+)",
                      mesh.warnings)
        said = m and (int(m.group(1)), int(m.group(2)))
        check(said == (mesh.report[kind]["count"], smallest),
              f"fold: malha's {kind} warning says {said}; the report: "
              f"{mesh.report[kind]['count']}, the smallest area at volume {smallest}")


def main():
    cases.skip_unless(vtkMeshQuality, "python3-vtk9")
    if gmsh is None:
        print("python3-gmsh is not installed: the Jacobian ratio is not compared")
    else:
        gmsh.initialize()
        gmsh.option.setNumber("General.Terminal", 0)
    if not foam.have_openfoam():
        print("OpenFOAM is not installed: checkMesh is not compared")
    with cases.scratch() as parent:
        for m in MESHES:
            mesh = Mesh(parent, *m)
            against_vtk(mesh)
            against_the_ring(mesh)
            if gmsh is not None:
                against_gmsh(mesh)
            if foam.have_openfoam():
                against_checkmesh(mesh)
            if mesh.name == "fold":
                check(sum(mesh.ours("inverted")) == 18 and sum(mesh.ours("concave")) == 20,
                      "fold: 18 inverted and 20 concave cells")
                check_verdict(mesh)
                check_warnings(mesh)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

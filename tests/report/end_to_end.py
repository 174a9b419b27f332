#!/usr/bin/python3
"""malha-report end to end on meshes malha writes: an odd nx without smoothing
and the shipped (smoothed) example. The JSON is parsed, the .vts read back by
VTK's own XML reader, the map checked, the case files left as they were, and
the failures give their status and message.

Usage: end_to_end.py MALHA MALHA_REPORT EXAMPLES_DIR   (exit 77: no python3-vtk9)
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

try:
    from vtkmodules.vtkIOXML import vtkXMLStructuredGridReader
except ImportError:
    print("python3-vtk9 is not installed: skipped")
    sys.exit(77)

MALHA, REPORT, EXAMPLES = sys.argv[1:4]
L_SHAPE_AREA = 0.75  # the unit square without its upper-right quarter
failures = []
METRICS = ["area", "edge_ratio", "aspect_ratio", "min_angle", "max_angle", "equiangle_skew",
           "scaled_jacobian", "jacobian_ratio", "non_orthogonality", "face_skewness", "growth",
           "boundary_non_orthogonality"]


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(args, cwd, env=None):
    return subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def vertices(folder, case):
    """The vertex records of CASE.txt as (x, y) pairs."""
    with open(os.path.join(folder, case + ".txt"), encoding="ascii", newline="") as f:
        lines = f.read().split("\r\n")[2:-1]
    return [(float(r[:25].replace("E", "e")), float(r[25:].replace("E", "e"))) for r in lines]


def digests(folder):
    out = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


def close(a, b, tol=1e-12):
    return abs(a - b) <= tol * max(1.0, abs(a), abs(b))


def check_case(folder, case, nx, ny, smoothed):
    before = digests(folder)
    r = run([REPORT, "--json", "--vtk", "--plot3d", case], folder)
    check(r.returncode == 0, f"{case}: --json exits 0 ({r.returncode}, {r.stderr})")
    report = json.loads(r.stdout)
    mesh = report["mesh"]
    check((mesh["nx"], mesh["ny"], mesh["cells"]) == (nx, ny, nx * ny), f"{case}: mesh sizes")
    check(mesh["smoothed"] == smoothed, f"{case}: smoothed flag")
    check(len(report["files_checked"]) == 10, f"{case}: all ten files checked")
    check(list(report["metrics"]) == METRICS, f"{case}: the measures in the order of the manual")
    for key, m in report["metrics"].items():
        check(m["min"] <= m["mean"] <= m["max"], f"{case}: {key} min <= mean <= max")
    for key in ("equiangle_skew", "non_orthogonality"):
        h = report["histograms"][key]
        check(sum(h["cells"]) == nx * ny and len(h["bins"]) == len(h["cells"]),
              f"{case}: {key} histogram counts cells")
    check(all(report[k]["count"] == 0 for k in ("inverted", "concave", "degenerate")),
          f"{case}: no inverted, concave or degenerate cell")
    check(report["interior_faces"]["count"] == (nx - 1) * ny + nx * (ny - 1),
          f"{case}: every interior face once")
    if nx % 2 == 0:
        check(report["verdict"] == {"ok": True, "failed": [], "line": "mesh OK"}, f"{case}: verdict")
    else:  # an odd nx leans the mesh out of the L: named in the verdict, never "mesh OK"
        v = report["verdict"]
        check(not v["ok"] and v["failed"] == ["region"]
              and "an odd nx leans the mesh past x = 1" in v["line"], f"{case}: verdict")
    check(report["convergence"]["defined"] == (ny > 1), f"{case}: convergence defined")
    # The six sides' faces by the arms (nx div 2 on the left one); their
    # lengths are measured against Gmsh's by the export tests.
    arms = {"left": nx // 2, "bottom": nx - nx // 2, "top": ny, "right": ny}
    arms.update(reentrant_vertical=arms["left"], reentrant_horizontal=arms["bottom"])
    check({k: v["faces"] for k, v in report["sides"].items()} == arms, f"{case}: faces per side")

    # The .vts through VTK's XML reader.
    reader = vtkXMLStructuredGridReader()
    reader.SetFileName(os.path.join(folder, case + ".vts"))
    reader.Update()
    grid = reader.GetOutput()
    check(grid.GetNumberOfPoints() == (nx + 1) * (ny + 1), f"{case}: VTK point count")
    check(grid.GetNumberOfCells() == nx * ny, f"{case}: VTK cell count")
    skew = grid.GetCellData().GetArray("equiangle_skew")
    area = grid.GetCellData().GetArray("area")
    check(skew is not None and area is not None, f"{case}: VTK cell fields equiangle_skew, area")
    skews = [skew.GetValue(k) for k in range(skew.GetNumberOfTuples())]
    for key in METRICS:  # one value, two paths
        if key == "boundary_non_orthogonality":
            continue  # 0 in the cells without a boundary face, which the JSON leaves out
        field = grid.GetCellData().GetArray(key)
        low, high = field.GetRange()
        m = report["metrics"][key]
        check(close(low, m["min"]) and close(high, m["max"]), f"{case}: VTK {key} range = JSON")
    worst = report["metrics"]["equiangle_skew"]["max_cell"]["volume"]
    check(skews[worst - 1] == max(skews), f"{case}: VTK cell order is the volume order")
    total = sum(area.GetValue(k) for k in range(area.GetNumberOfTuples()))
    mean = report["metrics"]["area"]["mean"]
    check(close(total, mean * nx * ny, 1e-9), f"{case}: VTK areas add up to cells x mean area")
    if nx % 2 == 0:  # an odd nx puts the corner off the L: the mesh covers more
        check(close(total, L_SHAPE_AREA, 1e-9), f"{case}: VTK areas add up to the region")
    xy = vertices(folder, case)
    check(grid.GetPoint(nx + 2)[:2] == xy[nx + 2], f"{case}: VTK point order is the vertex order")

    # The Plot3D grid is read back point by point by exports/test_vtk.py.

    # The map as SVG: one polygon per cell.
    r = run([REPORT, "--map", "equiangle_skew", "--svg", case], folder)
    check(r.returncode == 0 and ".svg (SVG" in r.stdout, f"{case}: --svg says it wrote an SVG")
    svg = ET.parse(os.path.join(folder, case + "_equiangle_skew.svg"))
    polygons = svg.getroot().findall(".//{http://www.w3.org/2000/svg}polygon")
    check(len(polygons) == nx * ny, f"{case}: one polygon per cell in the SVG")

    written = {case + s for s in (".vts", ".xyz", "_equiangle_skew.svg")}
    after = {k: v for k, v in digests(folder).items() if k not in written}
    check(after == before, f"{case}: the case files are left as they were")


def run_malha(folder, entradas, elliptic):
    with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
        f.write(entradas)
    shutil.copy(elliptic, folder)
    env = dict(os.environ, COMSPEC="true")
    r = run([MALHA], folder, env)
    assert r.returncode == 0, r.stderr


def main():
    elliptic = os.path.join(EXAMPLES, "entrada_eq_elipticas.txt")
    with tempfile.TemporaryDirectory() as odd, tempfile.TemporaryDirectory() as example:
        run_malha(odd, "odd\n7\n3\n0\n2\n", elliptic)
        check_case(odd, "odd", 7, 3, False)
        with open(os.path.join(EXAMPLES, "entradas.txt"), encoding="ascii") as f:
            run_malha(example, f.read(), elliptic)
        check_case(example, "exemplo", 40, 20, True)

        # The default report, with the case taken from entradas.txt.
        r = run([REPORT], example)
        check(r.returncode == 0, "report without CASE exits 0")
        check("files: 10 checked and consistent" in r.stdout, "report says the check passed")
        check("\nreentrant_horizontal          20         0.5   j = 20, i = 21 to 40 (face 3)\n"
              in r.stdout, "report gives the table of sides")
        check(len(r.stdout.splitlines()) < 60, "report is short")
        check(r.stdout.endswith("\nmesh OK\n"), "report ends with its verdict")
        r = run([REPORT, "--strict"], example)
        check(r.returncode == 0, "--strict on a good mesh exits 0")

        # The map through gnuplot when there is one, and the SVG without it.
        if shutil.which("gnuplot"):
            r = run([REPORT, "--map", "non_orthogonality"], example)
            png = os.path.join(example, "exemplo_non_orthogonality.png")
            check("(PNG, drawn by gnuplot)" in r.stdout, "--map says it drew a PNG")
            with open(png, "rb") as f:
                check(f.read(8) == b"\x89PNG\r\n\x1a\n", "--map wrote a PNG")
        r = run([REPORT, "--map", "growth"], example, dict(os.environ, PATH="/nonexistent"))
        check("gnuplot is not on the PATH" in r.stdout, "without gnuplot --map says so")

        # What the program tells and how it ends.
        if os.path.exists("/dev/full"):  # a report that cannot be written is a failure
            with open("/dev/full", "w") as full:
                r = subprocess.run([REPORT], cwd=example, stdout=full, stderr=subprocess.PIPE,
                                   text=True, timeout=120)
            check(r.returncode == 1 and "standard output" in r.stderr, "a full disk exits 1")
        r = run([REPORT, "--version"], example)
        check(re.fullmatch(r"malha-report \d+\.\d+\.\d+\n", r.stdout), "--version")
        r = run([REPORT, "--help"], example)
        check(r.returncode == 0 and r.stdout.startswith("Usage: malha-report"), "--help")
        r = run([REPORT, "--frobnicate"], example)
        check(r.returncode == 2 and "unknown option" in r.stderr, "unknown option exits 2")
        r = run([REPORT, "--map", "beauty"], example)
        check(r.returncode == 2 and "unknown METRIC 'beauty'" in r.stderr, "unknown metric")
        # ... listing the valid ones: the metrics of the JSON report, each a map.
        listed = re.search(r"; the metrics: (.*)\n", r.stderr)
        keys = listed.group(1).split(", ") if listed else []
        report = json.loads(run([REPORT, "--json"], example).stdout)
        check(keys == list(report["metrics"]), f"unknown metric lists the metrics ({keys})")
        for key in keys:
            r = run([REPORT, "--map", key, "--svg"], example)
            check(r.returncode == 0 and os.path.exists(os.path.join(example, f"exemplo_{key}.svg")),
                  f"the listed metric {key} draws a map")
        r = run([REPORT, "--svg"], example)
        check(r.returncode == 2 and "--svg goes with --map" in r.stderr, "--svg alone exits 2")
        for name, says in (("nosuchcase", "nosuchcase.txt: expected"),
                           ("malha.txt", "malha.txt is not a case: ")):
            r = run([REPORT, name], example)
            check(r.returncode == 1 and r.stderr.startswith("malha-report: " + says)
                  and r.stderr.count("\n") == 1, f"{name}: exits 1 naming the file in one line")
        with open(os.path.join(odd, "odd_vert.txt"), "rb+") as f:
            f.truncate(10 * 42)  # ten records of 40 columns and CR LF
        r = run([REPORT, os.path.join(odd, "odd.txt")], example)
        check(r.returncode == 1, "a cut file exits 1")
        check("odd_vert.txt, line 11: expected the corners of volume 11" in r.stderr,
              f"a cut file is named with its line ({r.stderr.strip()})")
        check(r.stdout == "1 check failed: file check\n", f"only the verdict on a failed check ({r.stdout})")
        r = run([REPORT, "--json", os.path.join(odd, "odd.txt")], example)
        failed = json.loads(r.stdout)
        check(r.returncode == 1 and failed["verdict"]["failed"] == ["files"]
              and "odd_vert.txt, line 11" in failed["message"], "--json: the verdict of a failed check")

    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

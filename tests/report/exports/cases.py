"""The meshes the export tests run on, made by malha in a scratch folder and
exported by malha-report, and what the tests share: the side counts the
(i, j) rule gives, a table of failures, the skip when a program is missing.

  s40  40 x 20, smoothed (the shipped example's settings)
  o11  11 x 5, algebraic, odd nx (the right end leans past x = 1)
  t2   2 x 1, algebraic, the smallest mesh
  f20  20 x 10, smoothed with deta = 0.1: inverted and concave cells
"""
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77  # CTest's SKIP_RETURN_CODE

# name, nx, ny, smoothed, deta
CASES = [("s40", 40, 20, True, 1.0), ("o11", 11, 5, False, 1.0), ("t2", 2, 1, False, 1.0),
         ("f20", 20, 10, True, 0.1)]
SIDES = ["left", "bottom", "reentrant_vertical", "reentrant_horizontal", "top", "right"]


def expected_sides(nx, ny):
    """Faces per side: the left arm has nx div 2 volumes, the bottom arm the rest."""
    left, bottom = nx // 2, nx - nx // 2
    return {"left": left, "bottom": bottom, "reentrant_vertical": left,
            "reentrant_horizontal": bottom, "top": ny, "right": ny}


class Case:
    def __init__(self, folder, name, nx, ny, smoothed, report):
        self.folder, self.name, self.nx, self.ny, self.smoothed = folder, name, nx, ny, smoothed
        self.report = report  # the --json report
        self.cells = nx * ny
        self.vertices = (nx + 1) * (ny + 1)
        self.sides = expected_sides(nx, ny)
        self.concave = report["concave"]["count"] > 0

    def path(self, suffix):
        return os.path.join(self.folder, self.name + suffix)


def arguments(count):
    """The first `count` arguments of the test (the programs, the examples),
    made absolute: the tests run them from folders of their own."""
    if len(sys.argv) <= count:
        sys.exit(f"usage: {sys.argv[0]} MALHA MALHA_REPORT [EXAMPLES]")
    return [os.path.abspath(a) for a in sys.argv[1 : count + 1]]


def run(args, cwd, timeout=600, env=None):
    return subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=timeout, env=env)


def make_case(malha, report, parent, name, nx, ny, smoothed, deta, flags, niter=100, options=()):
    """Case `name` made by malha (nsweep 5, `niter` passes, with `options`)
    in a folder of its own, with the nest files, then reported on by
    malha-report --json with the exports of `flags`."""
    folder = os.path.join(parent, name)
    os.makedirs(folder)
    with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
        f.write(f"{name}\n{nx}\n{ny}\n{2 if smoothed else 0}\n2\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w", encoding="ascii") as f:
        f.write(f"5\n{niter}\n0.0\n1.0\n{deta}\n0\n0\n")
    r = run([malha, *options], folder, env=dict(os.environ, COMSPEC="true"))
    assert r.returncode == 0, r.stderr
    warnings = r.stderr
    r = run([report, "--json", *flags, name], folder)
    assert r.returncode == 0, f"malha-report {' '.join(flags)} {name}: {r.stderr}"
    case = Case(folder, name, nx, ny, smoothed, json.loads(r.stdout))
    case.warnings = warnings  # malha's
    return case


def make_cases(malha, report, parent, flags, which=None):
    """The cases of CASES (those named in `which`) with the exports of `flags`."""
    return [make_case(malha, report, parent, *c, flags) for c in CASES
            if which is None or c[0] in which]


def skip_unless(found, what):
    if not found:
        print(f"skipped: {what} is not installed")
        sys.exit(SKIPPED)


def have_program(name):
    return shutil.which(name) is not None


class Checks:
    """A table of failures, printed as they come; finish() is the exit status."""

    def __init__(self):
        self.failures = 0

    def __call__(self, condition, what):
        if not condition:
            self.failures += 1
            print("FAILED:", what)
        return condition

    def finish(self):
        print(f"{self.failures} failure(s)")
        return 1 if self.failures else 0


def scratch():
    return tempfile.TemporaryDirectory(prefix="malha-exports-")


def vertices(case):
    """The vertex records of CASE.txt as (x, y) pairs, vertex k at [k - 1]."""
    with open(case.path(".txt"), encoding="ascii", newline="") as f:
        lines = f.read().split("\r\n")[2:-1]
    return [(float(r[:25].replace("E", "e")), float(r[25:].replace("E", "e"))) for r in lines]


def areas(case):
    """The areas of CASE_nest_area.txt, volume v at [v - 1]."""
    with open(case.path("_nest_area.txt"), encoding="ascii", newline="") as f:
        return [float(r.replace("E", "e")) for r in f.read().split("\r\n")[:-1]]


def close(a, b, tol=1e-12):
    return abs(a - b) <= tol * max(1.0, abs(a), abs(b))


def values(array):
    """The values of a VTK data array, as a list."""
    return [array.GetValue(k) for k in range(array.GetNumberOfTuples())]


def read_vtk(reader_type, path):
    """What a VTK reader of `reader_type` reads from `path`."""
    reader = reader_type()
    reader.SetFileName(path)
    reader.Update()
    return reader.GetOutput()


def load_module(path):
    """A Python file that is not on the path (an example's script) as a module."""
    name = os.path.splitext(os.path.basename(path))[0]
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def doc_text(name):
    """The text of docs/NAME, for the output it quotes."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
    with open(os.path.join(top, "docs", name), encoding="utf-8") as f:
        return f.read()


def openfoam_runner():
    """examples/openfoam/run-laplace.py: OpenFOAM's commands with their settings."""
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
    return load_module(os.path.join(top, "examples", "openfoam", "run-laplace.py"))

#!/usr/bin/python3
"""The steady Laplace equation solved by OpenFOAM's laplacianFoam on two
meshes of malha (20 x 10 and 40 x 20, smoothed), with T = x^2 - y^2 fixed
on the six sides; prints the error of T at the cell centres against that
exact solution on each mesh, and the order the two give.

Usage: run-laplace.py [--malha PROGRAM] [--report PROGRAM] [FOLDER]

FOLDER receives one folder per mesh: malha's files, and CASE_openfoam/,
exported by malha-report --foam, with the case in laplace/ beside this
script copied over it; it is kept. Without FOLDER the work is done in a
temporary folder, removed at the end: nothing is left where the script is
run. malha and malha-report are taken from the PATH unless given (a path
given is taken from the current folder). OpenFOAM is used as it is set up (WM_PROJECT_DIR),
or through its etc/bashrc: FOAM_BASHRC, or the one the Debian package
installs.
"""
import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MESHES = [(20, 10), (40, 20)]
SMOOTHING = "5\n100\n0.0\n1.0\n1.0\n0\n0\n"  # nsweep, niter, -, dksi, deta, sources


def exact(x, y):
    return x * x - y * y


def openfoam_bashrc():
    """The etc/bashrc that sets OpenFOAM up, or None when it is set up
    already or there is none. (Debian puts the commands on the PATH, but
    they need the settings all the same.)"""
    if os.environ.get("WM_PROJECT_DIR"):
        return None
    if os.environ.get("FOAM_BASHRC"):
        return os.environ["FOAM_BASHRC"]
    try:
        listed = subprocess.run(["dpkg", "-L", "openfoam"], capture_output=True, text=True)
        for line in listed.stdout.splitlines():
            if line.endswith("etc/bashrc"):
                return line
    except OSError:
        pass
    return None


def have_openfoam():
    return shutil.which("laplacianFoam") is not None or openfoam_bashrc() is not None


def openfoam(args, cwd, log=None):
    """Runs an OpenFOAM command (with its environment); its output goes to
    `log` (a path) and is returned."""
    bashrc = openfoam_bashrc()
    if bashrc:
        # The bashrc reads unset variables, may return non-zero and takes the
        # arguments it is sourced with as settings: it gets none.
        args = ["bash", "-c", 'a=("$@"); set -- ; set +eu; source "$0" >/dev/null 2>&1; exec "${a[@]}"',
                bashrc, *args]
    r = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=600)
    if log:
        with open(log, "w", encoding="utf-8") as f:
            f.write(r.stdout + r.stderr)
    return r


def make_mesh(malha, report, parent, nx, ny):
    name = f"l{nx}x{ny}"
    folder = os.path.join(parent, name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
        f.write(f"{name}\n{nx}\n{ny}\n2\n0\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w", encoding="ascii") as f:
        f.write(SMOOTHING)
    env = dict(os.environ, COMSPEC="true")  # no editor, no plots
    for args in ([malha], [report, "--foam", name]):
        r = subprocess.run(args, cwd=folder, env=env, capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"{' '.join(args)} failed:\n{r.stderr}")
    return os.path.join(folder, name + "_openfoam")


def field(path):
    """The internal field of an ASCII OpenFOAM field file: numbers, or
    tuples of numbers for vectors."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    body = re.search(r"internalField\s+nonuniform\s+List<\w+>\s*\d+\s*\((.*?)\n\)\s*;", text,
                     re.S)
    if not body:
        sys.exit(f"{path}: no nonuniform internal field")
    values = []
    for line in body.group(1).split("\n"):
        line = line.strip()
        if line:
            words = line.strip("()").split()
            values.append(tuple(map(float, words)) if len(words) > 1 else float(words[0]))
    return values


def solve(case):
    """laplacianFoam on the case; the errors of T at the cell centres."""
    for name in ("0", "constant", "system"):
        shutil.copytree(os.path.join(HERE, "laplace", name), os.path.join(case, name),
                        dirs_exist_ok=True)
    for args in (["laplacianFoam", "-case", case],
                 ["postProcess", "-func", "writeCellCentres", "-latestTime", "-case", case]):
        r = openfoam(args, case, os.path.join(case, f"log.{args[0]}"))
        if r.returncode != 0:
            # The log's end: a temporary folder goes with the exit.
            sys.exit(f"{' '.join(args)} failed:\n{(r.stdout + r.stderr)[-2000:]}")
    t, centres = field(os.path.join(case, "1", "T")), field(os.path.join(case, "1", "C"))
    errors = [abs(v - exact(c[0], c[1])) for v, c in zip(t, centres)]
    return len(t), max(errors), math.sqrt(sum(e * e for e in errors) / len(errors))


def command_line(name, study, scratch_prefix):
    """What both worked cases take on their command line (--malha, --report,
    FOLDER): the programs found, then study(malha, report, folder) run in
    FOLDER or in a temporary folder removed at the end. `name` is the
    script's, for its messages."""
    description = sys.modules["__main__"].__doc__.split("\n\n")[0]
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--malha", default="malha")
    parser.add_argument("--report", default="malha-report")
    parser.add_argument("folder", nargs="?")
    o = parser.parse_args()
    if not have_openfoam():
        sys.exit(f"{name}: OpenFOAM is not installed (Debian: apt install openfoam)")
    # The programs run in the mesh folders: a relative path given
    # (build/malha) is made absolute first; a bare name is looked up on PATH.
    malha, report = (os.path.abspath(shutil.which(p) or p) for p in (o.malha, o.report))
    for program in (malha, report):
        if not os.access(program, os.X_OK):
            sys.exit(f"{name}: {program}: no such program")
    if o.folder:
        study(malha, report, os.path.abspath(o.folder))
    else:
        with tempfile.TemporaryDirectory(prefix=scratch_prefix) as parent:
            study(malha, report, parent)


def study(malha, report, parent):
    """The meshes one after another, a line of errors each."""
    print(f"{'mesh':>8} {'cells':>6} {'max error':>12} {'rms error':>12} {'order (rms)':>12}")
    previous = None
    for nx, ny in MESHES:
        cells, largest, rms = solve(make_mesh(malha, report, parent, nx, ny))
        order = f"{math.log2(previous / rms):.2f}" if previous else ""
        print(f"{f'{nx}x{ny}':>8} {cells:>6} {largest:>12.4e} {rms:>12.4e} {order:>12}")
        previous = rms


if __name__ == "__main__":
    command_line("run-laplace.py", study, "laplace-run-")

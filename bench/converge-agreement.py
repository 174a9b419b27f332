#!/usr/bin/python3
"""Smoothing to convergence against point Gauss-Seidel passes, on random cases.

Each case (nx from 8 to NXMAX, ny a quarter to once nx, the spacing ratio
deta/dksi from 0.2 to 3 on a logarithmic scale or one of the hard values
0.2, 0.25, 0.3, 0.35, 2.5, 3, a grading of 2 to 4 on some even nx) is run
twice: 60,000 passes of one sweep, and --converge. Where the passes
converge with nothing inverted (figure below 1e-8), --converge must lie
within 1e-6 of the shortest edge of the passes' mesh; elsewhere it must
either give a sound mesh (nothing inverted, figure at most 1e-10) or fail
with status 1 and write nothing. One JSON line per case, then a summary.

Usage: bench/converge-agreement.py MALHA MALHA_REPORT [--cases N] [--seed S]
                                   [--nx-max NXMAX]

The passes dominate the time: about ten minutes for 90 cases up to nx = 110.
"""

import argparse
import json
import math
import os
import random
import re
import subprocess
import tempfile

PASSES = 60000
SOUND_PASSES = 1e-8  # the passes' figure below which they count as converged
AGREEMENT = 1e-6     # the distance allowed from the passes' mesh, in shortest edges
TOLERANCE = 1e-10    # --converge's default


def random_cases(count, seed, nx_max):
    rnd = random.Random(seed)
    cases = []
    for _ in range(count):
        nx = rnd.randint(8, nx_max)
        ny = max(1, int(nx * rnd.choice([0.25, 0.5, 0.5, 0.5, 0.75, 1.0])))
        if rnd.random() < 0.6:
            ratio = math.exp(rnd.uniform(math.log(0.2), math.log(3)))
        else:
            ratio = rnd.choice([0.2, 0.25, 0.3, 0.35, 2.5, 3.0])
        dksi, deta = (1.0, round(ratio, 3)) if rnd.random() < 0.5 else (round(1 / ratio, 3), 1.0)
        grade = rnd.choice([None, None, 2, 3, 4]) if nx % 2 == 0 else None
        cases.append((nx, ny, dksi, deta, grade))
    return cases


def read_vertices(path):
    with open(path) as f:
        lines = f.read().split("\n")
    nxv, nyv = map(int, lines[0].split()[2:4])
    return nxv, nyv, [tuple(map(float, line.split())) for line in lines[2:2 + nxv * nyv]]


def shortest_edge(nxv, nyv, xy):
    edges = []
    for k, (x, y) in enumerate(xy):
        i, j = k % nxv, k // nxv
        if i + 1 < nxv:
            edges.append(math.hypot(x - xy[k + 1][0], y - xy[k + 1][1]))
        if j + 1 < nyv:
            edges.append(math.hypot(x - xy[k + nxv][0], y - xy[k + nxv][1]))
    return min(edges)


def run(programs, folder, case, converge):
    malha, report = programs
    nx, ny, dksi, deta, grade = case
    os.makedirs(folder)
    with open(os.path.join(folder, "entradas.txt"), "w") as f:
        f.write(f"c\n{nx}\n{ny}\n2\n1\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w") as f:
        f.write(f"1\n{1 if converge else PASSES}\n0.0\n{dksi}\n{deta}\n0\n0\n")
    args = [malha] + (["--converge"] if converge else []) + ([f"--grade={grade}"] if grade else [])
    done = subprocess.run(args, cwd=folder, env=dict(os.environ, COMSPEC="true"),
                          capture_output=True, text=True)
    result = {"status": done.returncode, "files": os.path.exists(os.path.join(folder, "c.txt"))}
    if done.returncode == 0 and result["files"]:
        text = subprocess.run([report, "c"], cwd=folder, capture_output=True, text=True).stdout
        inverted = re.search(r"inverted cells \(area 0 or less\): (\d+)", text)
        figure = re.search(r", ([0-9.eE+-]+) times the shortest edge", text)
        result["inverted"] = int(inverted.group(1)) if inverted else None
        result["figure"] = float(figure.group(1)) if figure else None
        result["mesh"] = read_vertices(os.path.join(folder, "c.txt"))
    return result


def judge(passes, converged):
    """The row of the case: what each run gave and whether --converge did its part."""
    row = {"passes": {k: passes.get(k) for k in ("status", "inverted", "figure")},
           "converge": {k: converged.get(k) for k in ("status", "inverted", "figure")}}
    if "mesh" in passes and "mesh" in converged:
        nxv, nyv, a = passes["mesh"]
        b = converged["mesh"][2]
        row["distance"] = max(math.hypot(p[0] - q[0], p[1] - q[1])
                              for p, q in zip(a, b)) / shortest_edge(nxv, nyv, a)
    row["passes_converge"] = (passes["status"] == 0 and passes.get("inverted") == 0
                              and (passes.get("figure") or 1.0) < SOUND_PASSES)
    if row["passes_converge"]:
        row["ok"] = converged["status"] == 0 and row.get("distance", 1.0) <= AGREEMENT
    else:
        sound = (converged["status"] == 0 and converged.get("inverted") == 0
                 and (converged.get("figure") or 1.0) <= TOLERANCE)
        row["ok"] = sound or (converged["status"] == 1 and not converged["files"])
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("malha")
    parser.add_argument("report")
    parser.add_argument("--cases", type=int, default=90)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--nx-max", type=int, default=110)
    options = parser.parse_args()
    programs = (os.path.abspath(options.malha), os.path.abspath(options.report))
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        for n, case in enumerate(random_cases(options.cases, options.seed, options.nx_max)):
            passes = run(programs, os.path.join(scratch, f"{n}-passes"), case, False)
            converged = run(programs, os.path.join(scratch, f"{n}-converge"), case, True)
            row = dict(zip(("nx", "ny", "dksi", "deta", "grade"), case), **judge(passes, converged))
            rows.append(row)
            print(json.dumps(row), flush=True)
    print(f"--converge did its part on {sum(r['ok'] for r in rows)} of {len(rows)} cases; "
          f"the passes converged with nothing inverted on {sum(r['passes_converge'] for r in rows)}")


if __name__ == "__main__":
    main()

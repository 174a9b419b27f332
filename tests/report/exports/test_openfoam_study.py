#!/usr/bin/python3
"""The OpenFOAM Laplace study of examples/openfoam (laplace-study.py) on
20 x 10 and 40 x 20, algebraic and with --converge --control: both
solutions converge (the singular one's boundary expression is right: a
wrong branch of its angle would leave an error of order one), its rows are
those the guide shows, and its harmonic case on the algebraic mesh is the
worked case of run-laplace.py (the guide's rms error 6.76e-03).

Usage: test_openfoam_study.py MALHA MALHA_REPORT   (exit 77: no OpenFOAM)
"""
import os
import re
import sys

import cases

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()
SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "examples",
                      "openfoam", "laplace-study.py")
ROW = re.compile(r"(?m)^\| (.+?), (\d+)×\d+ \| (\d+) \| (\S+) \| (\S*) \| (\S+) \| (\S+) \|")
# (solution, largest L2 error on 40 x 20, least order from 20 x 10)
SOLUTIONS = [("harmonic", 5e-3, 0.8), ("singular", 3e-3, 0.8)]
WORKED_CASE_RMS = "6.76e-03"  # run-laplace.py's case, algebraic 20 x 10


def main():
    cases.skip_unless(cases.openfoam_runner().have_openfoam(), "OpenFOAM (Debian: openfoam)")
    guide = cases.doc_text("using-the-mesh.md")
    with cases.scratch() as here:
        for solution, largest, least in SOLUTIONS:
            r = cases.run(["/usr/bin/python3", SCRIPT, "--malha", MALHA, "--report", REPORT,
                           "--solution", solution, "--sizes", "20,40",
                           "--kinds", "algebraic,control"], here)
            print(r.stdout, end="")
            rows = ROW.findall(r.stdout)
            check(r.returncode == 0 and len(rows) == 4, f"{solution}: 4 rows ({r.stderr[-500:]})")
            for line in r.stdout.splitlines()[2:]:
                check(line in guide, f"docs/using-the-mesh.md shows the line: {line}")
            for kind, nx, _, l2, order, rms, _ in rows:
                if nx == "40":
                    check(float(l2) < largest and float(order) > least,
                          f"{solution}, {kind}: the error falls ({l2}, order {order})")
                if solution == "harmonic" and kind == "algebraic" and nx == "20":
                    check(rms == WORKED_CASE_RMS, f"the worked case's error ({rms})")
        check(not os.listdir(here), f"laplace-study.py leaves nothing behind ({os.listdir(here)})")
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

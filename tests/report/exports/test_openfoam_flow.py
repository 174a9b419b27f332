#!/usr/bin/python3
"""The worked flow case of examples/openfoam (run-flow.py): simpleFoam
converges on a mesh of malha with the four wall sides retyped, the flow
out of the right side balances the 0.5 in at the top, and the largest
speed is that of a flow squeezed round the corner (above the inlet's 1,
below 3). Run as the docs give it: relative program paths and no folder,
which leaves nothing where it runs.

Usage: test_openfoam_flow.py MALHA MALHA_REPORT   (exit 77: no OpenFOAM)
"""
import os
import re
import sys

import cases

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()
SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "examples",
                      "openfoam", "run-flow.py")


def main():
    cases.skip_unless(cases.openfoam_runner().have_openfoam(), "OpenFOAM (Debian: openfoam)")
    with cases.scratch() as here:
        relative = [os.path.relpath(p, here) for p in (MALHA, REPORT)]
        r = cases.run(["/usr/bin/python3", SCRIPT, "--malha", relative[0], "--report",
                       relative[1]], here)
        print(r.stdout, end="")
        check(not os.listdir(here), f"run-flow.py leaves nothing behind ({os.listdir(here)})")
        row = re.search(r"(?m)^\s+40x20\s+800\s+(\d+)\s+(\S+)\s+(\S+)\s+(\S+)$", r.stdout)
        check(r.returncode == 0 and row, f"run-flow.py runs to convergence ({r.stderr[-500:]})")
        guide = cases.doc_text("using-the-mesh.md")
        for line in r.stdout.splitlines():
            check(line.rstrip() in guide, f"docs/using-the-mesh.md shows the line: {line.rstrip()}")
        if row:
            steps, inflow, outflow, speed = int(row.group(1)), *map(float, row.groups()[1:])
            check(steps < 2000, f"converged before the last iteration ({steps})")
            check(abs(inflow - 0.5) < 1e-6, f"the inflow is the inlet's 0.5 ({inflow})")
            check(abs(outflow - inflow) < 1e-4, f"the outflow balances it ({outflow})")
            check(1 < speed < 3, f"the largest speed is above the inlet's ({speed})")
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

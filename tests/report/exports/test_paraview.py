#!/usr/bin/python3
"""CASE.vts and CASE.vtu in ParaView itself: pvpython (under xvfb-run, since
ParaView's own off-screen mode is not dependable) opens both files with
ParaView's readers, and its Threshold filter on the side arrays keeps each
side's faces: on the .vtu's "side" the side's lines, on the "side_NAME" flags
the cells along the side (and, in the .vtu, its lines too). The cell counts
and the case name and sizes in the field data are what ParaView fetches.

Usage: test_paraview.py MALHA MALHA_REPORT   (exit 77: no pvpython or xvfb-run)
ParaView's side: pvpython test_paraview.py --inside FOLDER NAME...
"""
import json
import os
import sys

import cases


def threshold(source, name, low, high):
    """How many cells ParaView's Threshold of the cell array `name` keeps."""
    from paraview.simple import Threshold

    t = Threshold(Input=source, Scalars=["CELLS", name], LowerThreshold=low, UpperThreshold=high)
    t.UpdatePipeline()
    return t.GetDataInformation().GetNumberOfCells()


def field_data(source):
    from paraview import servermanager

    fields = servermanager.Fetch(source).GetFieldData()
    name = fields.GetArray("case_name")
    text = bytes(name.GetValue(k) for k in range(name.GetNumberOfTuples())).decode()
    return {"case_name": text,
            "sizes": [fields.GetArray(k).GetValue(0) for k in ("nx", "ny", "nxv", "nyv")]}


def inside(folder, names):
    """In pvpython: one line of JSON a case, what ParaView finds in its files."""
    from paraview.simple import XMLStructuredGridReader, XMLUnstructuredGridReader

    for name in names:
        path = os.path.join(folder, name, name)
        vts = XMLStructuredGridReader(FileName=[path + ".vts"])
        vtu = XMLUnstructuredGridReader(FileName=[path + ".vtu"])
        found = {}
        for kind, source in (("vts", vts), ("vtu", vtu)):
            source.UpdatePipeline()
            cells = source.GetDataInformation().GetNumberOfCells()
            flags = {s: threshold(source, "side_" + s, 1, 1) for s in cases.SIDES}
            found[kind] = dict(field_data(source), cells=cells, flags=flags)
        codes = enumerate(cases.SIDES, 1)
        found["vtu"]["side"] = {s: threshold(vtu, "side", k, k) for k, s in codes}
        print(json.dumps(dict(found, name=name)), flush=True)


def check_case(check, case, found):
    name, lines = case.name, sum(case.sides.values())
    sizes = [case.nx, case.ny, case.nx + 1, case.ny + 1]
    for kind, cells, flag_factor in (("vts", case.cells, 1), ("vtu", case.cells + lines, 2)):
        got = found[kind]
        check(got["cells"] == cells, f"{name}: ParaView reads {got['cells']} cells of the {kind}")
        check(got["case_name"] == name and got["sizes"] == sizes,
              f"{name}: {kind} field data {got['case_name']} {got['sizes']}")
        flags = {s: c * flag_factor for s, c in case.sides.items()}
        check(got["flags"] == flags, f"{name}: {kind} thresholds on side_NAME keep {got['flags']}")
    sides = found["vtu"]["side"]
    check(sides == case.sides, f"{name}: vtu thresholds on side keep {sides}")


def main():
    malha, report = cases.arguments(2)
    cases.skip_unless(cases.have_program("pvpython"), "pvpython (python3-paraview)")
    cases.skip_unless(cases.have_program("xvfb-run"), "xvfb-run (xvfb, xauth)")
    check = cases.Checks()
    with cases.scratch() as parent:
        made = cases.make_cases(malha, report, parent, ["--vtk", "--vtu"])
        r = cases.run(["xvfb-run", "-a", "pvpython", os.path.abspath(__file__), "--inside", parent,
                       *(c.name for c in made)], parent)
        found = {}
        for line in r.stdout.splitlines():
            if line.startswith("{"):
                record = json.loads(line)
                found[record["name"]] = record
        if not check(r.returncode == 0 and len(found) == len(made),
                     f"pvpython ended with {r.returncode}: {r.stderr[-2000:]}"):
            return check.finish()
        for case in made:
            check_case(check, case, found[case.name])
            print(f"{case.name}: ParaView's thresholds keep {found[case.name]['vtu']['side']}")
    return check.finish()


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--inside":
        inside(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(main())

#!/usr/bin/python3
"""CASE.cgns: cgnscheck finds no error in it, and ParaView's CGNS reader
(VTK's) loads the zone with the quality fields of the .vts, value for value,
and the six sides as patches of the right number of edges. A build without
the CGNS library says so in one line.

Usage: test_cgns.py MALHA MALHA_REPORT   (exit 77: no cgnscheck, or no CGNS in the build)
"""
import sys

import cases

try:
    from vtkmodules.vtkIOCGNSReader import vtkCGNSReader
    from vtkmodules.vtkIOXML import vtkXMLStructuredGridReader
except ImportError:
    vtkCGNSReader = None

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()


def blocks(data, path=""):
    """The leaves of a multiblock data set by their path of names."""
    out = {}
    for k in range(data.GetNumberOfBlocks()):
        name = path + "/" + data.GetMetaData(k).Get(data.NAME())
        block = data.GetBlock(k)
        if block is not None and block.IsA("vtkMultiBlockDataSet"):
            out.update(blocks(block, name))
        elif block is not None:
            out[name] = block
    return out


def check_in_vtk(case):
    name = case.name
    r = vtkCGNSReader()
    r.SetFileName(case.path(".cgns"))
    r.UpdateInformation()
    r.EnableAllCellArrays()
    r.SetLoadBndPatch(1)
    r.Update()
    leaves = blocks(r.GetOutput())
    zone = leaves.get("/malha/mesh/Internal")
    check(zone is not None and zone.GetNumberOfCells() == case.cells, f"{name}: CGNS zone cells")
    for side, count in case.sides.items():
        patch = leaves.get("/malha/mesh/Patches/" + side)
        got = patch.GetNumberOfCells() if patch else None
        check(got == count, f"{name}: CGNS patch {side} has {got} edges, expected {count}")
    ours = cases.read_vtk(vtkXMLStructuredGridReader, case.path(".vts")).GetCellData()
    for k in range(zone.GetCellData().GetNumberOfArrays() if zone else 0):
        field = zone.GetCellData().GetArrayName(k)
        theirs = cases.values(zone.GetCellData().GetArray(k))
        check(theirs == cases.values(ours.GetArray(field)),
              f"{name}: CGNS field {field} = the .vts's")
    check(zone and zone.GetCellData().GetNumberOfArrays() >= 6, f"{name}: CGNS quality fields")


def main():
    cases.skip_unless(cases.have_program("cgnscheck"), "cgnscheck (Debian: cgns-convert)")
    with cases.scratch() as parent:
        probe = cases.run([REPORT, "--cgns", "nocase"], parent)
        if "no CGNS support" in probe.stderr:
            lines = probe.stderr.splitlines()
            check(len(lines) == 1 and probe.returncode == 2, f"said in one line: {probe.stderr}")
            print("skipped: this build has no CGNS support (and says so in one line)")
            return check.finish() or cases.SKIPPED
        if not vtkCGNSReader:
            print("the reading by VTK's CGNS reader skipped: python3-vtk9 is not installed")
        for case in cases.make_cases(MALHA, REPORT, parent, ["--cgns", "--vtk"]):
            r = cases.run(["cgnscheck", case.path(".cgns")], case.folder)
            out = r.stdout + r.stderr
            check(r.returncode == 0 and "ERROR" not in out, f"{case.name}: cgnscheck ({out[-500:]})")
            if vtkCGNSReader:
                check_in_vtk(case)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

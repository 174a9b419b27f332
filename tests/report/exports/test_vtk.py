#!/usr/bin/python3
"""CASE.vtu and CASE.vts through VTK's own readers and filters (those of
ParaView): the points and cells; the case name and sizes as field data; each
side selected by a threshold, on the "side" array of the .vtu's lines and on
the "side_NAME" flags of both files; the .vtu's quadrangles carrying the
.vts's arrays value for value (quality_vs_tools.py compares the measures
with VTK's mesh quality filter); and CASE.xyz through the PLOT3D reader
with the settings docs/using-the-mesh.md gives.

Usage: test_vtk.py MALHA MALHA_REPORT   (exit 77: no python3-vtk9)
"""
import sys

import cases

try:
    from vtkmodules.vtkCommonDataModel import vtkDataObject
    from vtkmodules.vtkFiltersCore import vtkThreshold
    from vtkmodules.vtkIOParallel import vtkMultiBlockPLOT3DReader
    from vtkmodules.vtkIOXML import vtkXMLStructuredGridReader, vtkXMLUnstructuredGridReader
except ImportError:
    vtkDataObject = None

MALHA, REPORT = cases.arguments(2)
check = cases.Checks()
VTK_LINE, VTK_QUAD = 3, 9


def selected(grid, name, low, high):
    """How many cells a threshold of the cell array `name` keeps."""
    t = vtkThreshold()
    t.SetInputData(grid)
    t.SetInputArrayToProcess(0, 0, 0, vtkDataObject.FIELD_ASSOCIATION_CELLS, name)
    t.SetLowerThreshold(low)
    t.SetUpperThreshold(high)
    t.Update()
    return t.GetOutput().GetNumberOfCells()


def check_fields(case, grid, what):
    fields = grid.GetFieldData()
    name = bytes(cases.values(fields.GetArray("case_name"))).decode()
    sizes = [fields.GetArray(k).GetValue(0) for k in ("nx", "ny", "nxv", "nyv")]
    check(name == case.name and sizes == [case.nx, case.ny, case.nx + 1, case.ny + 1],
          f"{case.name}: {what} field data ({name}, {sizes})")


def check_vtu(case, vts):
    name = case.name
    grid = cases.read_vtk(vtkXMLUnstructuredGridReader, case.path(".vtu"))
    lines = sum(case.sides.values())
    check(grid.GetNumberOfPoints() == case.vertices, f"{name}: vtu points")
    check(grid.GetNumberOfCells() == case.cells + lines, f"{name}: vtu cells")
    types = [grid.GetCellType(k) for k in range(grid.GetNumberOfCells())]
    check(types == [VTK_QUAD] * case.cells + [VTK_LINE] * lines, f"{name}: quads, then lines")
    check_fields(case, grid, "vtu")
    names = bytes(cases.values(grid.GetFieldData().GetArray("side_names"))).decode().split()
    check(names == cases.SIDES, f"{name}: vtu side_names {names}")
    for code, side in enumerate(cases.SIDES, 1):
        got = selected(grid, "side", code, code)
        check(got == case.sides[side], f"{name}: vtu threshold side = {code} keeps {got} lines")
        # The flag keeps the cells along the side and its lines.
        got = selected(grid, "side_" + side, 1, 1)
        check(got == 2 * case.sides[side], f"{name}: vtu threshold side_{side} keeps {got}")
    data, quads = grid.GetCellData(), vts.GetCellData()
    for k in range(quads.GetNumberOfArrays()):
        key = quads.GetArrayName(k)
        mine = cases.values(data.GetArray(key))[: case.cells]
        check(mine == cases.values(quads.GetArray(key)), f"{name}: vtu {key} = vts {key}")


def check_vts(case):
    name = case.name
    grid = cases.read_vtk(vtkXMLStructuredGridReader, case.path(".vts"))
    check(grid.GetNumberOfCells() == case.cells, f"{name}: vts cells")
    check_fields(case, grid, "vts")
    for side in cases.SIDES:
        got = selected(grid, "side_" + side, 1, 1)
        check(got == case.sides[side], f"{name}: vts threshold side_{side} keeps {got}")
    return grid


def check_plot3d(case):
    r = vtkMultiBlockPLOT3DReader()
    r.SetXYZFileName(case.path(".xyz"))
    r.AutoDetectFormatOff()
    r.BinaryFileOff()
    r.TwoDimensionalGeometryOn()
    r.MultiGridOff()
    r.HasByteCountOff()
    r.IBlankingOff()
    r.DoublePrecisionOn()
    r.Update()
    grid = r.GetOutput().GetBlock(0)
    xy = cases.vertices(case)
    got = grid.GetNumberOfPoints() if grid else 0
    check(got == case.vertices, f"{case.name}: PLOT3D reader finds {got} points")
    if got == case.vertices:
        check(all(grid.GetPoint(k)[:2] == xy[k] for k in range(got)), f"{case.name}: PLOT3D points")


def main():
    cases.skip_unless(vtkDataObject, "python3-vtk9")
    with cases.scratch() as parent:
        for case in cases.make_cases(MALHA, REPORT, parent, ["--vtk", "--vtu", "--plot3d"]):
            vts = check_vts(case)
            check_vtu(case, vts)
            check_plot3d(case)
    return check.finish()


if __name__ == "__main__":
    sys.exit(main())

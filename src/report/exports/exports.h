// The mesh and its cell quality written for other tools: VTK XML grids
// (ParaView, meshio), Gmsh's format, a formatted 2-D Plot3D grid, and a
// picture of one quality field. Each streams what it writes from the mesh.
#pragma once

#include <filesystem>
#include <string>

#include "report/case_data.h"
#include "report/measures/metrics.h"

namespace malha::report {

// CASE.vts: the vertices as points (i fastest); as cell data every metric
// of report/measures/metrics.h, its flags (1 or 0) and for each side "side_NAME", 1 on the
// cells with a face on it; the case name and sizes as field data.
void write_vtk(const std::string& file, const std::string& case_name, const Mesh& mesh,
               const CellTable& cells);

// CASE.vtu: the same as an unstructured grid, with the faces of the sides
// as line cells after the quadrangles and a cell array "side" (export_vtu).
void write_vtu(const std::string& file, const std::string& case_name, const Mesh& mesh,
               const CellTable& cells);

// CASE.msh: Gmsh MSH 4.1 ASCII, the quadrangles and the six sides as line
// elements, each side a physical group of its name and the cells "domain".
void write_msh(const std::string& file, const Mesh& mesh);

// CASE_openfoam/: an OpenFOAM case one cell thick (report/exports/foam.cpp): the
// mesh in constant/polyMesh, the six sides as patches and frontAndBack
// empty, and the system/ files that are missing. Returns what it did with
// the system/ files, for the line that says what was written.
std::string write_foam(const std::filesystem::path& folder, const Mesh& mesh);

// CASE.cgns: a CGNS structured zone, the sides as boundary conditions and
// the quality at the cell centres (report/exports/cgns.cpp, with the CGNS library).
void write_cgns(const std::filesystem::path& file, const std::string& case_name, const Mesh& mesh,
                const CellTable& cells);
// Whether this build has the CGNS library (without it, write_cgns fails).
bool cgns_supported();
// Whether the CGNS library failed to write (a full disk, a size limit): its
// file layer, HDF5, then keeps a file it could not close, and its exit
// handler would crash on it (or loop, and say so). The program ends without
// the exit handlers once its report is out.
bool cgns_failed();

// CASE.xyz: "nxv nyv", then every x, then every y, i fastest.
void write_plot3d(const std::string& file, const Mesh& mesh);

// A picture of `metric` over the mesh with a colour scale (report/maps/map.h): a PNG
// drawn by gnuplot when it is on the PATH and `allow_gnuplot`, otherwise an
// SVG written here. `stem` is the file name without its extension; the title
// names the case. Returns the line that says what was written.
std::string write_map(const std::string& stem, const std::string& case_name, const Mesh& mesh,
                      const CellTable& cells, Metric metric, bool allow_gnuplot);

}  // namespace malha::report

// VTK XML files with their data appended raw after the XML, as ParaView and
// the VTK readers take them: the XML names every array and its place, then
// the arrays follow one another, each after its size in bytes (UInt64). The
// values are streamed from the mesh, never gathered.
//
// What the .vts and the .vtu share is here too: the points, the field data
// (the case and its sizes) and the cell arrays (every metric of report/measures/metrics.h,
// the flags of report/measures/metrics.h, and for each side a flag "side_NAME").
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/case_data.h"
#include "report/output_file.h"

namespace malha::report {

enum class VtkSection { FieldData, Points, Cells, CellData };

struct VtkArray {
  VtkSection section;
  std::string name;  // "" for the points
  const char* type;  // "Float64", "Int64", "Int32" or "UInt8"
  int components;
  std::uint64_t tuples;
  std::function<void(OutputFile&)> write;  // exactly tuples * components values

  std::uint64_t bytes() const;
};

// One value of an array, in the machine's byte order (the file says which).
template <class T>
void put_raw(OutputFile& out, T value) {
  out.put(std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

// grid: "StructuredGrid" or "UnstructuredGrid"; grid_attributes go into its
// element, piece_attributes into the Piece's.
void write_vtk_xml(const std::string& file, const std::string& grid,
                   const std::string& grid_attributes, const std::string& piece_attributes,
                   const std::vector<VtkArray>& arrays);

// A field of the bytes of a text, UInt8: VTK's string arrays are not read
// by every reader of these files (meshio refuses them).
VtkArray text_field(const std::string& name, const std::string& text);
// The case as field data: "case_name" (its bytes, UInt8) and nx, ny, nxv,
// nyv (Int32, one value each).
void add_case_fields(std::vector<VtkArray>& arrays, const std::string& case_name, const Mesh& mesh);
// The vertices as points, i fastest.
void add_points(std::vector<VtkArray>& arrays, const Mesh& mesh);
// The cell arrays over the volumes in their order, then `extra` more cells
// (the boundary lines of the .vtu), which get a NaN for every metric, 0 for
// every flag and, for the side flags, the value extra_side(k, side) of cell k.
using ExtraSideFlag = std::function<bool(std::int64_t k, std::size_t side)>;
void add_cell_arrays(std::vector<VtkArray>& arrays, const Mesh& mesh, const CellTable& cells,
                     std::int64_t extra = 0, const ExtraSideFlag& extra_side = {});

}  // namespace malha::report

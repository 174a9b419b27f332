// CASE.vtu: the mesh as a VTK XML unstructured grid. Cell v is the
// quadrangle of volume v (corners counter-clockwise, VTK_QUAD); the faces of
// the six sides follow as lines (VTK_LINE), side by side in the order of
// report/measures/sides.h. The cell arrays are those of the .vts (a NaN for every metric on
// a line) and "side": 0 on a quadrangle, 1 to 6 on a line, the side's place
// in that order, whose names the field "side_names" lists.
#include <array>

#include "report/exports/exports.h"
#include "report/exports/vtk_xml.h"
#include "report/measures/sides.h"

namespace malha::report {

namespace {

constexpr std::uint8_t kVtkLine = 3;
constexpr std::uint8_t kVtkQuad = 9;

// Where each side's lines start among the lines, and where the last ends.
std::array<std::int64_t, kSideCount + 1> side_starts(const Mesh& mesh) {
  std::array<std::int64_t, kSideCount + 1> starts{};
  for (const SideInfo& s : side_table())
    starts[side_index(s.side) + 1] = starts[side_index(s.side)] + side_cells(mesh, s.side).faces();
  return starts;
}

// Vertex (i, j) as a point number (from 0).
std::int64_t point(const Mesh& mesh, std::int32_t i, std::int32_t j) {
  return static_cast<std::int64_t>(mesh.at(i, j));
}

void add_connectivity(std::vector<VtkArray>& arrays, const Mesh& mesh, std::int64_t lines) {
  const auto quads = static_cast<std::uint64_t>(mesh.volumes());
  const auto all = quads + static_cast<std::uint64_t>(lines);
  arrays.push_back({VtkSection::Cells, "connectivity", "Int64", 1, 4 * quads + 2 * (all - quads),
                    [&mesh](OutputFile& out) {
                      for (std::int32_t j = 1; j <= mesh.ny; ++j)
                        for (std::int32_t i = 1; i <= mesh.nx; ++i)
                          for (const std::int64_t p :
                               {point(mesh, i, j), point(mesh, i + 1, j), point(mesh, i + 1, j + 1),
                                point(mesh, i, j + 1)})
                            put_raw(out, p);
                      for (const SideInfo& s : side_table())
                        for_each_side_face(mesh, s.side, [&](const BoundaryFace& f) {
                          put_raw(out, point(mesh, f.ai, f.aj));
                          put_raw(out, point(mesh, f.bi, f.bj));
                        });
                    }});
  arrays.push_back({VtkSection::Cells, "offsets", "Int64", 1, all, [quads, all](OutputFile& out) {
                      std::int64_t end = 0;
                      for (std::uint64_t k = 0; k < all; ++k)
                        put_raw(out, end += k < quads ? 4 : 2);
                    }});
  arrays.push_back({VtkSection::Cells, "types", "UInt8", 1, all, [quads, all](OutputFile& out) {
                      for (std::uint64_t k = 0; k < all; ++k)
                        put_raw(out, k < quads ? kVtkQuad : kVtkLine);
                    }});
}

}  // namespace

void write_vtu(const std::string& file, const std::string& case_name, const Mesh& mesh,
               const CellTable& cells) {
  const std::array<std::int64_t, kSideCount + 1> starts = side_starts(mesh);
  const std::int64_t lines = starts.back();
  // Line k lies on the side whose lines start at or before it and end after it.
  const auto on_side = [starts](std::int64_t k, std::size_t side) {
    return k >= starts[side] && k < starts[side + 1];
  };
  std::string names;
  for (const SideInfo& s : side_table()) names += std::string(names.empty() ? "" : " ") + s.key;

  std::vector<VtkArray> arrays;
  add_case_fields(arrays, case_name, mesh);
  arrays.push_back(text_field("side_names", names));
  add_points(arrays, mesh);
  add_connectivity(arrays, mesh, lines);
  add_cell_arrays(arrays, mesh, cells, lines, on_side);
  arrays.push_back({VtkSection::CellData, "side", "UInt8", 1,
                    static_cast<std::uint64_t>(mesh.volumes() + lines),
                    [&mesh, starts](OutputFile& out) {
                      for (std::int64_t v = 0; v < mesh.volumes(); ++v)
                        put_raw(out, std::uint8_t{0});
                      // Side s (from 1) holds the lines starts[s - 1] to starts[s].
                      for (std::size_t s = 1; s < starts.size(); ++s)
                        for (std::int64_t k = starts[s - 1]; k < starts[s]; ++k)
                          put_raw(out, static_cast<std::uint8_t>(s));
                    }});
  write_vtk_xml(file, "UnstructuredGrid", "",
                " NumberOfPoints=\"" + std::to_string(mesh.vertices()) + "\" NumberOfCells=\"" +
                    std::to_string(mesh.volumes() + lines) + "\"",
                arrays);
}

}  // namespace malha::report

#include "exports.h"

#include "output_file.h"

namespace malha::report {

namespace {

constexpr int kPerLine = 6;  // numbers per line in the ASCII arrays

std::string extent(const Mesh& mesh) {
  return "0 " + std::to_string(mesh.nx) + " 0 " + std::to_string(mesh.ny) + " 0 0";
}

// One cell-data array: the values of every cell in volume order.
template <class Value>
void cell_array(OutputFile& out, const Mesh& mesh, const CellTable& cells, const std::string& type,
                const std::string& name, Value value) {
  out.put("        <DataArray type=\"" + type + "\" Name=\"" + name + "\" format=\"ascii\">\n");
  for_each_cell(mesh, cells, [&](const CellRef& cell, const CellQuality& q) {
    const bool line_end = cell.i == mesh.nx || cell.volume % kPerLine == 0;
    out.number(value(q), line_end ? '\n' : ' ');
  });
  out.put("        </DataArray>\n");
}

}  // namespace

void write_vtk(const std::filesystem::path& file, const Mesh& mesh, const CellTable& cells) {
  OutputFile out(file);
  out.put(
      "<?xml version=\"1.0\"?>\n"
      "<VTKFile type=\"StructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
      "  <StructuredGrid WholeExtent=\"" +
      extent(mesh) + "\">\n    <Piece Extent=\"" + extent(mesh) +
      "\">\n"
      "      <Points>\n"
      "        <DataArray type=\"Float64\" NumberOfComponents=\"3\" format=\"ascii\">\n");
  for (std::size_t k = 0; k < mesh.xv.size(); ++k) {
    out.number(mesh.xv[k]);
    out.number(mesh.yv[k]);
    out.put("0\n");
  }
  out.put("        </DataArray>\n      </Points>\n      <CellData Scalars=\"skew\">\n");
  for (const MetricInfo& entry : metric_table()) {
    const auto m = static_cast<std::size_t>(entry.metric);
    cell_array(out, mesh, cells, "Float64", entry.key,
               [m](const CellQuality& q) { return q.value[m]; });
  }
  cell_array(out, mesh, cells, "UInt8", "folded",
             [](const CellQuality& q) { return q.folded ? 1.0 : 0.0; });
  out.put("      </CellData>\n    </Piece>\n  </StructuredGrid>\n</VTKFile>\n");
  out.close();
}

void write_plot3d(const std::filesystem::path& file, const Mesh& mesh) {
  OutputFile out(file);
  out.put(std::to_string(mesh.nxv) + " " + std::to_string(mesh.nyv) + "\n");
  for (const std::vector<double>* axis : {&mesh.xv, &mesh.yv}) {
    for (std::size_t k = 0; k < axis->size(); ++k) {
      const bool line_end = (k + 1) % kPerLine == 0 || k + 1 == axis->size();
      out.number((*axis)[k], line_end ? '\n' : ' ');
    }
  }
  out.close();
}

}  // namespace malha::report

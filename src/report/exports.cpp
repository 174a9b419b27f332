#include "exports.h"

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

#include "output_file.h"

namespace malha::report {

namespace {

constexpr int kPerLine = 6;  // numbers per line of the Plot3D file

std::string extent(const Mesh& mesh) {
  return "0 " + std::to_string(mesh.nx) + " 0 " + std::to_string(mesh.ny) + " 0 0";
}

// The arrays of the .vts, in the order their data follow one another.
struct VtkArray {
  std::string name;  // "" for the points
  const char* type;
  std::uint64_t bytes;  // of the data, without the 8-byte size in front
};

std::vector<VtkArray> vtk_arrays(const Mesh& mesh) {
  const auto points = static_cast<std::uint64_t>(mesh.vertices());
  const auto cells = static_cast<std::uint64_t>(mesh.volumes());
  std::vector<VtkArray> arrays = {{"", "Float64", points * 3 * sizeof(double)}};
  for (const MetricInfo& entry : metric_table())
    arrays.push_back({entry.key, "Float64", cells * sizeof(double)});
  arrays.push_back({"folded", "UInt8", cells});
  return arrays;
}

// The XML part: every array refers to its place in the appended data.
std::string vtk_header(const Mesh& mesh) {
  const char* order = std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian";
  std::string xml = std::string("<?xml version=\"1.0\"?>\n") +
                    "<VTKFile type=\"StructuredGrid\" version=\"1.0\" byte_order=\"" + order +
                    "\" header_type=\"UInt64\">\n  <StructuredGrid WholeExtent=\"" + extent(mesh) +
                    "\">\n    <Piece Extent=\"" + extent(mesh) + "\">\n";
  std::uint64_t offset = 0;
  for (const VtkArray& a : vtk_arrays(mesh)) {
    const std::string place = "format=\"appended\" offset=\"" + std::to_string(offset) + "\"/>\n";
    if (a.name.empty()) {
      xml += "      <Points>\n        <DataArray type=\"Float64\" NumberOfComponents=\"3\" " +
             place + "      </Points>\n      <CellData Scalars=\"skew\">\n";
    } else {
      xml += "        <DataArray type=\"" + std::string(a.type) + "\" Name=\"" + a.name + "\" " +
             place;
    }
    offset += sizeof(std::uint64_t) + a.bytes;
  }
  return xml +
         "      </CellData>\n    </Piece>\n  </StructuredGrid>\n"
         "  <AppendedData encoding=\"raw\">\n_";
}

template <class T>
void put_value(OutputFile& out, T value) {
  out.put(std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

}  // namespace

void write_vtk(const std::filesystem::path& file, const Mesh& mesh, const CellTable& cells) {
  OutputFile out(file);
  out.put(vtk_header(mesh));
  const std::vector<VtkArray> arrays = vtk_arrays(mesh);
  put_value(out, arrays[0].bytes);
  for (std::size_t k = 0; k < mesh.xv.size(); ++k) {
    put_value(out, mesh.xv[k]);
    put_value(out, mesh.yv[k]);
    put_value(out, 0.0);
  }
  for (const MetricInfo& entry : metric_table()) {
    const auto m = static_cast<std::size_t>(entry.metric);
    put_value(out, arrays[m + 1].bytes);
    for_each_value(mesh, cells, entry.metric,
                   [&](const CellRef&, double value) { put_value(out, value); });
  }
  put_value(out, arrays.back().bytes);
  for (const std::uint8_t folded : cells.folded) put_value(out, folded);
  out.put("\n  </AppendedData>\n</VTKFile>\n");
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

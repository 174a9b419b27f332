#include "report/exports/vtk_xml.h"

#include <bit>
#include <limits>

#include "report/measures/metrics.h"
#include "report/measures/sides.h"

namespace malha::report {

namespace {

std::uint64_t type_size(std::string_view type) {
  if (type == "UInt8") return 1;
  if (type == "Int32") return 4;
  return 8;  // Float64, Int64
}

// The element of one array, pointing at its place in the appended data.
std::string data_array(const VtkArray& a, std::uint64_t offset) {
  std::string xml = "<DataArray type=\"" + std::string(a.type) + "\"";
  if (!a.name.empty()) xml += " Name=\"" + a.name + "\"";
  if (a.components > 1) xml += " NumberOfComponents=\"" + std::to_string(a.components) + "\"";
  if (a.section == VtkSection::FieldData)
    xml += " NumberOfTuples=\"" + std::to_string(a.tuples) + "\"";
  return xml + " format=\"appended\" offset=\"" + std::to_string(offset) + "\"/>\n";
}

// The arrays of one section, each at the offset its place in the list gives.
std::string section(const std::vector<VtkArray>& arrays, VtkSection which, const std::string& open,
                    const std::string& close, const std::string& indent) {
  std::string xml;
  std::uint64_t offset = 0;
  for (const VtkArray& a : arrays) {
    if (a.section == which) xml += indent + "  " + data_array(a, offset);
    offset += sizeof(std::uint64_t) + a.bytes();
  }
  return xml.empty() ? "" : indent + open + "\n" + xml + indent + close + "\n";
}

VtkArray integer_field(const std::string& name, std::int32_t value) {
  return {VtkSection::FieldData,
          name,
          "Int32",
          1,
          1,
          [value](OutputFile& out) { put_raw(out, value); }};
}

}  // namespace

VtkArray text_field(const std::string& name, const std::string& text) {
  return {VtkSection::FieldData,
          name,
          "UInt8",
          1,
          text.size(),
          [text](OutputFile& out) { out.put(text); }};
}

std::uint64_t VtkArray::bytes() const {
  return tuples * static_cast<std::uint64_t>(components) * type_size(type);
}

void write_vtk_xml(const std::string& file, const std::string& grid,
                   const std::string& grid_attributes, const std::string& piece_attributes,
                   const std::vector<VtkArray>& arrays) {
  const char* order = std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian";
  OutputFile out(file);
  out.put("<?xml version=\"1.0\"?>\n<VTKFile type=\"" + grid + "\" version=\"1.0\" byte_order=\"" +
          order + "\" header_type=\"UInt64\">\n  <" + grid + grid_attributes + ">\n" +
          section(arrays, VtkSection::FieldData, "<FieldData>", "</FieldData>", "    ") +
          "    <Piece" + piece_attributes + ">\n" +
          section(arrays, VtkSection::Points, "<Points>", "</Points>", "      ") +
          section(arrays, VtkSection::Cells, "<Cells>", "</Cells>", "      ") +
          section(arrays, VtkSection::CellData,
                  std::string("<CellData Scalars=\"") + info(Metric::EquiangleSkew).key + "\">",
                  "</CellData>", "      ") +
          "    </Piece>\n  </" + grid + ">\n  <AppendedData encoding=\"raw\">\n_");
  for (const VtkArray& a : arrays) {
    put_raw(out, a.bytes());
    a.write(out);
  }
  out.put("\n  </AppendedData>\n</VTKFile>\n");
  out.close();
}

void add_case_fields(std::vector<VtkArray>& arrays, const std::string& case_name,
                     const Mesh& mesh) {
  arrays.push_back(text_field("case_name", case_name));
  arrays.push_back(integer_field("nx", mesh.nx));
  arrays.push_back(integer_field("ny", mesh.ny));
  arrays.push_back(integer_field("nxv", mesh.nxv));
  arrays.push_back(integer_field("nyv", mesh.nyv));
}

void add_points(std::vector<VtkArray>& arrays, const Mesh& mesh) {
  arrays.push_back({VtkSection::Points, "", "Float64", 3,
                    static_cast<std::uint64_t>(mesh.vertices()), [&mesh](OutputFile& out) {
                      for (std::size_t k = 0; k < mesh.xv.size(); ++k) {
                        put_raw(out, mesh.xv[k]);
                        put_raw(out, mesh.yv[k]);
                        put_raw(out, 0.0);
                      }
                    }});
}

void add_cell_arrays(std::vector<VtkArray>& arrays, const Mesh& mesh, const CellTable& cells,
                     std::int64_t extra, const ExtraSideFlag& extra_side) {
  const auto tuples = static_cast<std::uint64_t>(mesh.volumes() + extra);
  for (const MetricInfo& entry : metric_table()) {
    arrays.push_back({VtkSection::CellData, entry.key, "Float64", 1, tuples,
                      [&mesh, &cells, extra, metric = entry.metric](OutputFile& out) {
                        for_each_value(mesh, cells, metric,
                                       [&](const CellRef&, double v) { put_raw(out, v); });
                        for (std::int64_t k = 0; k < extra; ++k)
                          put_raw(out, std::numeric_limits<double>::quiet_NaN());
                      }});
  }
  for (const FlagInfo& flag : flag_table()) {
    arrays.push_back({VtkSection::CellData, flag.key, "UInt8", 1, tuples,
                      [&cells, extra, bit = flag.bit](OutputFile& out) {
                        for (const std::uint8_t flags : cells.flags)
                          put_raw(out, std::uint8_t{(flags & bit) != 0});
                        for (std::int64_t k = 0; k < extra; ++k) put_raw(out, std::uint8_t{0});
                      }});
  }
  for (const SideInfo& s : side_table()) {
    arrays.push_back({VtkSection::CellData, std::string("side_") + s.key, "UInt8", 1, tuples,
                      [&mesh, extra, extra_side, side = s.side](OutputFile& out) {
                        const SideCells c = side_cells(mesh, side);
                        for (std::int32_t j = 1; j <= mesh.ny; ++j)
                          for (std::int32_t i = 1; i <= mesh.nx; ++i)
                            put_raw(out, std::uint8_t{c.holds(i, j)});
                        for (std::int64_t k = 0; k < extra; ++k)
                          put_raw(out, std::uint8_t{extra_side(k, side_index(side))});
                      }});
  }
}

}  // namespace malha::report

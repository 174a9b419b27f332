#include "report/exports/exports.h"

#include <vector>

#include "report/exports/vtk_xml.h"
#include "report/output_file.h"

namespace malha::report {

namespace {

constexpr int kPerLine = 6;  // numbers per line of the Plot3D file

std::string extent(const Mesh& mesh) {
  return "\"0 " + std::to_string(mesh.nx) + " 0 " + std::to_string(mesh.ny) + " 0 0\"";
}

}  // namespace

void write_vtk(const std::string& file, const std::string& case_name, const Mesh& mesh,
               const CellTable& cells) {
  std::vector<VtkArray> arrays;
  add_case_fields(arrays, case_name, mesh);
  add_points(arrays, mesh);
  add_cell_arrays(arrays, mesh, cells);
  write_vtk_xml(file, "StructuredGrid", " WholeExtent=" + extent(mesh), " Extent=" + extent(mesh),
                arrays);
}

void write_plot3d(const std::string& file, const Mesh& mesh) {
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

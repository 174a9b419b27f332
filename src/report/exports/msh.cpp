// CASE.msh: the mesh in Gmsh's MSH 4.1 ASCII format. One surface entity
// holds every node and the quadrangles; each side is a curve entity holding
// its faces as line elements. The physical groups are the six sides
// (dimension 1, tags 1 to 6 in the order of report/measures/sides.h) and "domain"
// (dimension 2, tag 7). Node k is vertex k, quadrangle v is volume v (corners
// counter-clockwise), the lines follow, side by side.
#include "report/exports/exports.h"
#include "report/exports/text.h"
#include "report/measures/sides.h"

namespace malha::report {

namespace {

constexpr int kDomainTag = kSideCount + 1;  // the physical group of the surface
constexpr int kLineType = 1;                // Gmsh's 2-node line
constexpr int kQuadType = 3;                // Gmsh's 4-node quadrangle

void put_box(Line& line, const Box& box) {
  line.number(box.min_x).number(box.min_y).integer(0);
  line.number(box.max_x).number(box.max_y).integer(0);
}

void write_entities(OutputFile& out, const Mesh& mesh) {
  out.put("$Entities\n0 " + std::to_string(kSideCount) + " 1 0\n");
  Line line(out);
  Box all;
  for (std::size_t k = 0; k < mesh.xv.size(); ++k) all.add(mesh.xv[k], mesh.yv[k]);
  for (const SideInfo& s : side_table()) {
    Box box;
    for_each_side_face(mesh, s.side, [&](const BoundaryFace& f) {
      for (const std::size_t k : {mesh.at(f.ai, f.aj), mesh.at(f.bi, f.bj)})
        box.add(mesh.xv[k], mesh.yv[k]);
    });
    // Curve tag = physical tag; one physical tag, no bounding points.
    const auto tag = static_cast<std::int64_t>(side_index(s.side)) + 1;
    line.integer(tag);
    put_box(line, box);
    line.integer(1).integer(tag).integer(0, '\n');
  }
  // The surface: its physical tag, bounded by the six curves.
  line.integer(1);
  put_box(line, all);
  line.integer(1).integer(kDomainTag).integer(kSideCount);
  for (int tag = 1; tag <= kSideCount; ++tag) line.integer(tag, tag < kSideCount ? ' ' : '\n');
  line.end();
  out.put("$EndEntities\n");
}

void write_nodes(OutputFile& out, const Mesh& mesh) {
  const std::int64_t n = mesh.vertices();
  out.put("$Nodes\n1 " + std::to_string(n) + " 1 " + std::to_string(n) + "\n2 1 0 " +
          std::to_string(n) + "\n");
  Line line(out);
  for (std::int64_t k = 1; k <= n; ++k) line.integer(k, '\n');
  for (std::size_t k = 0; k < mesh.xv.size(); ++k)
    line.number(mesh.xv[k]).number(mesh.yv[k]).integer(0, '\n');
  line.end();
  out.put("$EndNodes\n");
}

// Vertex (i, j) as a node tag.
std::int64_t node(const Mesh& mesh, std::int32_t i, std::int32_t j) {
  return static_cast<std::int64_t>(mesh.at(i, j)) + 1;
}

void write_elements(OutputFile& out, const Mesh& mesh) {
  const std::int64_t total = mesh.volumes() + boundary_face_count(mesh);
  Line line(out);
  line.integer(kSideCount + 1).integer(total).integer(1).integer(total, '\n');
  line.integer(2).integer(1).integer(kQuadType).integer(mesh.volumes(), '\n');
  std::int64_t tag = 0;
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i)
      line.integer(++tag)
          .integer(node(mesh, i, j))
          .integer(node(mesh, i + 1, j))
          .integer(node(mesh, i + 1, j + 1))
          .integer(node(mesh, i, j + 1), '\n');
  for (const SideInfo& s : side_table()) {
    line.integer(1).integer(static_cast<std::int64_t>(side_index(s.side)) + 1).integer(kLineType);
    line.integer(side_cells(mesh, s.side).faces(), '\n');
    for_each_side_face(mesh, s.side, [&](const BoundaryFace& f) {
      line.integer(++tag).integer(node(mesh, f.ai, f.aj)).integer(node(mesh, f.bi, f.bj), '\n');
    });
  }
  line.end();
}

}  // namespace

void write_msh(const std::string& file, const Mesh& mesh) {
  OutputFile out(file);
  out.put("$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$PhysicalNames\n" +
          std::to_string(kSideCount + 1) + "\n");
  for (const SideInfo& s : side_table())
    out.put("1 " + std::to_string(side_index(s.side) + 1) + " \"" + s.key + "\"\n");
  out.put("2 " + std::to_string(kDomainTag) + " \"domain\"\n$EndPhysicalNames\n");
  write_entities(out, mesh);
  write_nodes(out, mesh);
  out.put("$Elements\n");
  write_elements(out, mesh);
  out.put("$EndElements\n");
  out.close();
}

}  // namespace malha::report

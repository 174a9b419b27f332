// CASE.msh: the mesh in Gmsh's MSH 4.1 ASCII format. One surface entity
// holds every node and the quadrangles; each side is a curve entity holding
// its faces as line elements. The physical groups are the six sides
// (dimension 1, tags 1 to 6 in the order of sides.h) and "domain"
// (dimension 2, tag 7). Node k is vertex k, quadrangle v is volume v (corners
// counter-clockwise), the lines follow, side by side.
#include "export_text.h"
#include "exports.h"
#include "sides.h"

namespace malha::report {

namespace {

constexpr int kDomainTag = kSideCount + 1;  // the physical group of the surface
constexpr int kLineType = 1;                // Gmsh's 2-node line
constexpr int kQuadType = 3;                // Gmsh's 4-node quadrangle

void put_box(OutputFile& out, const Box& box) {
  out.number(box.min_x);
  out.number(box.min_y);
  out.put("0 ");
  out.number(box.max_x);
  out.number(box.max_y);
  out.put("0 ");
}

void write_entities(OutputFile& out, const Mesh& mesh) {
  out.put("$Entities\n0 " + std::to_string(kSideCount) + " 1 0\n");
  Box all;
  for (std::size_t k = 0; k < mesh.xv.size(); ++k) all.add(mesh.xv[k], mesh.yv[k]);
  for (const SideInfo& s : side_table()) {
    Box box;
    for_each_side_face(mesh, s.side, [&](const BoundaryFace& f) {
      for (const std::size_t k : {mesh.at(f.ai, f.aj), mesh.at(f.bi, f.bj)})
        box.add(mesh.xv[k], mesh.yv[k]);
    });
    const int tag = static_cast<int>(side_index(s.side)) + 1;
    put_integer(out, tag);  // curve tag = physical tag
    put_box(out, box);
    put_integer(out, 1);
    put_integer(out, tag);
    out.put("0\n");  // no bounding points
  }
  out.put("1 ");
  put_box(out, all);
  out.put("1 " + std::to_string(kDomainTag) + " " + std::to_string(kSideCount) + " ");
  for (int tag = 1; tag <= kSideCount; ++tag) put_integer(out, tag, tag < kSideCount ? ' ' : '\n');
  out.put("$EndEntities\n");
}

void write_nodes(OutputFile& out, const Mesh& mesh) {
  const std::int64_t n = mesh.vertices();
  out.put("$Nodes\n1 " + std::to_string(n) + " 1 " + std::to_string(n) + "\n2 1 0 " +
          std::to_string(n) + "\n");
  for (std::int64_t k = 1; k <= n; ++k) put_integer(out, k, '\n');
  for (std::size_t k = 0; k < mesh.xv.size(); ++k) {
    out.number(mesh.xv[k]);
    out.number(mesh.yv[k]);
    out.put("0\n");
  }
  out.put("$EndNodes\n");
}

// Vertex (i, j) as a node tag.
std::int64_t node(const Mesh& mesh, std::int32_t i, std::int32_t j) {
  return static_cast<std::int64_t>(mesh.at(i, j)) + 1;
}

void write_elements(OutputFile& out, const Mesh& mesh) {
  const std::int64_t total = mesh.volumes() + boundary_face_count(mesh);
  out.put("$Elements\n" + std::to_string(kSideCount + 1) + " " + std::to_string(total) + " 1 " +
          std::to_string(total) + "\n2 1 " + std::to_string(kQuadType) + " " +
          std::to_string(mesh.volumes()) + "\n");
  std::int64_t tag = 0;
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      put_integer(out, ++tag);
      put_integer(out, node(mesh, i, j));
      put_integer(out, node(mesh, i + 1, j));
      put_integer(out, node(mesh, i + 1, j + 1));
      put_integer(out, node(mesh, i, j + 1), '\n');
    }
  for (const SideInfo& s : side_table()) {
    out.put("1 " + std::to_string(side_index(s.side) + 1) + " " + std::to_string(kLineType) + " " +
            std::to_string(side_cells(mesh, s.side).faces()) + "\n");
    for_each_side_face(mesh, s.side, [&](const BoundaryFace& f) {
      put_integer(out, ++tag);
      put_integer(out, node(mesh, f.ai, f.aj));
      put_integer(out, node(mesh, f.bi, f.bj), '\n');
    });
  }
  out.put("$EndElements\n");
}

}  // namespace

void write_msh(const std::filesystem::path& file, const Mesh& mesh) {
  OutputFile out(file);
  out.put("$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$PhysicalNames\n" +
          std::to_string(kSideCount + 1) + "\n");
  for (const SideInfo& s : side_table())
    out.put("1 " + std::to_string(side_index(s.side) + 1) + " \"" + s.key + "\"\n");
  out.put("2 " + std::to_string(kDomainTag) + " \"domain\"\n$EndPhysicalNames\n");
  write_entities(out, mesh);
  write_nodes(out, mesh);
  write_elements(out, mesh);
  out.close();
}

}  // namespace malha::report

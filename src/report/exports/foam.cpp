// CASE_openfoam/: the mesh as an OpenFOAM case one cell thick, in
// constant/polyMesh. Points: the vertices at z = 0 (point k - 1 is vertex k),
// then the same at z = kThickness. Cell v - 1 is volume v. Faces, in
// OpenFOAM's order: the inner faces by owner, each owner's by neighbour
// (upper-triangular: cell c owns its faces towards c + 1 and c + nx), then
// the patches left, bottom, right, top, reentrant_vertical,
// reentrant_horizontal and frontAndBack (empty: the back faces, then the
// front ones). Each face's points run so that its normal points out of its
// owner. Everything is streamed from the vertex arrays.
#include <array>
#include <string>
#include <system_error>

#include "report/checks/records.h"
#include "report/exports/exports.h"
#include "report/exports/foam_case.h"
#include "report/exports/text.h"
#include "report/measures/sides.h"

namespace malha::report {

namespace {

// The extrusion: OpenFOAM meshes are three-dimensional; the empty front
// and back make the case two-dimensional, so the thickness changes no
// result, and a cell's volume is its area.
constexpr double kThickness = 1.0;
constexpr char kPolyMesh[] = "constant/polyMesh";
constexpr int kBack = 5, kFront = 6;  // after the cell's faces 1 to 4

struct Counts {
  std::int64_t points, cells, inner, boundary, faces;
};

Counts counts(const Mesh& mesh) {
  Counts c;
  c.points = 2 * mesh.vertices();
  c.cells = mesh.volumes();
  c.inner = static_cast<std::int64_t>(mesh.nx - 1) * mesh.ny +
            static_cast<std::int64_t>(mesh.nx) * (mesh.ny - 1);
  c.boundary = boundary_face_count(mesh) + 2 * c.cells;
  c.faces = c.inner + c.boundary;
  return c;
}

// Vertex (i, j) on the back (layer 0) or front (layer 1) as a point label.
std::int64_t point(const Mesh& mesh, std::int32_t i, std::int32_t j, int layer) {
  return static_cast<std::int64_t>(mesh.at(i, j)) + layer * mesh.vertices();
}

std::int64_t cell(const Mesh& mesh, std::int32_t i, std::int32_t j) {
  return mesh.volume(i, j) - 1;
}

void open_list(OutputFile& out, std::int64_t size) {
  out.put(std::to_string(size) + "\n(\n");
}

// A face of four points, "4(a b c d)".
void put_face(Line& line, std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d) {
  line.integer(4, '(').integer(a).integer(b).integer(c).integer(d, ')').text("\n");
}

// Calls visit(owner, neighbour or -1, i, j, face) for every face in order;
// face is 1 to 4 (the cell's face), kBack or kFront.
template <class Visit>
void for_each_face(const Mesh& mesh, Visit&& visit) {
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      if (i < mesh.nx) visit(cell(mesh, i, j), cell(mesh, i + 1, j), i, j, 2);
      if (j < mesh.ny) visit(cell(mesh, i, j), cell(mesh, i, j + 1), i, j, 3);
    }
  for (const SideInfo& s : side_table()) {
    const Side side = s.side;
    const int face = side_cells(mesh, side).face;
    for_each_side_face(mesh, side, [&](const BoundaryFace& f) {
      visit(cell(mesh, f.i, f.j), std::int64_t{-1}, f.i, f.j, face);
    });
  }
  for (const int face : {kBack, kFront})
    for (std::int32_t j = 1; j <= mesh.ny; ++j)
      for (std::int32_t i = 1; i <= mesh.nx; ++i)
        visit(cell(mesh, i, j), std::int64_t{-1}, i, j, face);
}

void write_points(OutputFile& out, const Mesh& mesh, const Counts& c) {
  out.put(foam_header("vectorField", kPolyMesh, "points"));
  open_list(out, c.points);
  Line line(out);
  for (const double z : {0.0, kThickness})
    for (std::size_t k = 0; k < mesh.xv.size(); ++k)
      line.text("(").number(mesh.xv[k]).number(mesh.yv[k]).number(z, ')').text("\n");
  line.end();
  out.put(")\n");
  out.finish();
}

void write_faces(OutputFile& out, const Mesh& mesh, const Counts& c) {
  out.put(foam_header("faceList", kPolyMesh, "faces"));
  open_list(out, c.faces);
  Line line(out);
  for_each_face(mesh, [&](std::int64_t, std::int64_t, std::int32_t i, std::int32_t j, int face) {
    // A face of the cell's outline, extruded: the normal of the edge from a
    // to b, (yb - ya, -(xb - xa)), points out of the cell.
    if (face <= 4) {
      const BoundaryFace f = boundary_face(i, j, face);
      put_face(line, point(mesh, f.ai, f.aj, 0), point(mesh, f.bi, f.bj, 0),
               point(mesh, f.bi, f.bj, 1), point(mesh, f.ai, f.aj, 1));
      return;
    }
    // The back looks down z (corners clockwise seen from above), the front up.
    const int layer = face == kBack ? 0 : 1;
    const std::int64_t c1 = point(mesh, i, j, layer), c2 = point(mesh, i + 1, j, layer),
                       c3 = point(mesh, i + 1, j + 1, layer), c4 = point(mesh, i, j + 1, layer);
    if (layer == 0) {
      put_face(line, c1, c4, c3, c2);
    } else {
      put_face(line, c1, c2, c3, c4);
    }
  });
  line.end();
  out.put(")\n");
  out.finish();
}

void write_owners(OutputFile& owner, OutputFile& neighbour, const Mesh& mesh, const Counts& c) {
  const std::string note =
      "nPoints: " + std::to_string(c.points) + " nCells: " + std::to_string(c.cells) +
      " nFaces: " + std::to_string(c.faces) + " nInternalFaces: " + std::to_string(c.inner);
  owner.put(foam_header("labelList", kPolyMesh, "owner", note));
  neighbour.put(foam_header("labelList", kPolyMesh, "neighbour", note));
  open_list(owner, c.faces);
  open_list(neighbour, c.inner);
  Line owners(owner), neighbours(neighbour);
  for_each_face(mesh, [&](std::int64_t p, std::int64_t n, std::int32_t, std::int32_t, int) {
    owners.integer(p, '\n');
    if (n >= 0) neighbours.integer(n, '\n');
  });
  owners.end();
  neighbours.end();
  owner.put(")\n");
  neighbour.put(")\n");
  owner.finish();
  neighbour.finish();
}

void write_boundary(OutputFile& out, const Mesh& mesh, const Counts& c) {
  out.put(foam_header("polyBoundaryMesh", kPolyMesh, "boundary"));
  open_list(out, kSideCount + 1);
  std::int64_t start = c.inner;
  const auto patch = [&](const std::string& name, const char* type, std::int64_t faces) {
    out.put("    " + name + "\n    {\n        type            " + type + ";\n");
    if (std::string(type) == "empty") out.put("        inGroups        List<word> 1(empty);\n");
    out.put("        nFaces          " + std::to_string(faces) + ";\n        startFace       " +
            std::to_string(start) + ";\n    }\n");
    start += faces;
  };
  for (const SideInfo& s : side_table()) patch(s.key, "patch", side_cells(mesh, s.side).faces());
  patch("frontAndBack", "empty", 2 * c.cells);
  out.put(")\n");
  out.finish();
}

// What an earlier mesh may have beside its own five files in polyMesh/:
// zones and sets of its cells, faces and points, and the refinement levels
// of a mesher, each plain or compressed. They number the earlier mesh's
// cells: with the new mesh they would be wrong (checkMesh stops on a zone
// that names cells the mesh does not have), so they go with it.
constexpr std::array<const char*, 9> kEarlierMeshParts = {
    "cellZones",  "faceZones",  "pointZones",        "sets",        "cellLevel",
    "pointLevel", "level0Edge", "refinementHistory", "surfaceIndex"};

// Removes them (a link as a link, never followed); returns their names,
// "cellZones, sets/", for the line that says what was written.
std::string remove_earlier_mesh_parts(const std::filesystem::path& poly) {
  namespace fs = std::filesystem;
  std::string removed;
  for (const char* part : kEarlierMeshParts) {
    for (const std::string& name : {std::string(part), std::string(part) + ".gz"}) {
      std::error_code error;
      const fs::file_status status = fs::symlink_status(poly / name, error);
      if (!fs::exists(status)) continue;
      fs::remove_all(poly / name, error);
      if (error)
        fail((poly / name).string(), 0, "the earlier mesh's " + name + " removed", error.message());
      removed += (removed.empty() ? "" : ", ") + name + (fs::is_directory(status) ? "/" : "");
    }
  }
  return removed;
}

}  // namespace

std::string write_foam(const std::filesystem::path& folder, const Mesh& mesh) {
  const std::filesystem::path poly = folder / "constant" / "polyMesh";
  for (const std::filesystem::path& f : {folder, folder / "constant", poly, folder / "system"})
    make_case_folder(f);
  const Counts c = counts(mesh);
  std::error_code error;
  const bool earlier =
      std::filesystem::exists(std::filesystem::symlink_status(poly / "points", error));
  // The mesh is its five files together: every target is checked and every
  // file written before any takes its name, so that a failure (a target
  // that is a link, a full disk, a size limit) leaves the earlier mesh whole.
  OutputFile points(poly / "points"), faces(poly / "faces"), owner(poly / "owner"),
      neighbour(poly / "neighbour"), boundary(poly / "boundary");
  write_points(points, mesh, c);
  write_faces(faces, mesh, c);
  write_owners(owner, neighbour, mesh, c);
  write_boundary(boundary, mesh, c);
  const std::array<OutputFile*, 5> files = {&points, &faces, &owner, &neighbour, &boundary};
  for (const OutputFile* f : files) f->check();
  for (OutputFile* f : files) f->commit();
  const std::string removed = earlier ? remove_earlier_mesh_parts(poly) : "";
  const int system = write_system_files(folder / "system");
  std::string said = system == 3   ? "with its system/ files"
                     : system == 0 ? "keeping the system/ files that were there"
                                   : "with the system/ files that were missing";
  if (!removed.empty()) said += "; removed the earlier mesh's " + removed;
  return said;
}

}  // namespace malha::report

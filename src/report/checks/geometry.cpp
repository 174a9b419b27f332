// The files of coordinates: the centroid files, the area file and the
// vertices of the nest set, against the vertices of CASE.txt and the cell
// table computed from them.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "mesh/processamento.h"
#include "report/checks/file_checks.h"
#include "report/measures/metrics.h"
#include "textio.h"

namespace malha::report {

namespace {

std::string text(double value) {
  return textio::formatted("%.16g", value);
}

// The largest coordinate of a cell's corners, in magnitude.
double largest_coordinate(const double x[kCorners], const double y[kCorners]) {
  double largest = 0.0;
  for (int c = 0; c < kCorners; ++c)
    largest = std::max({largest, std::fabs(x[c]), std::fabs(y[c])});
  return largest;
}

// The cell table has the centroids and areas from the first corner, as the
// files of a graded mesh have them; an ungraded mesh's files have them in the
// region's coordinates (AreaFrame), which a tiny cell needs to be told apart.
bool agrees(double got, double want, double allowed) {
  return std::fabs(got - want) <= allowed;
}

// One centroid record of a volume against the centroid computed from its corners.
void check_centroid(RecordReader& in, Twin& twin, const Mesh& mesh, const CellTable& cells,
                    std::int32_t i, std::int32_t j) {
  const std::int64_t v = mesh.volume(i, j);
  const std::string_view r =
      in.require([&] { return std::string("the centroid of " + cell_name(v, i, j)); });
  if (twin.same(r)) return;
  in.expect_fields(r, 2, kRealWidth);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  const auto at = static_cast<std::size_t>(v - 1);
  const double xc = cells.xc[at], yc = cells.yc[at];
  const double xr = in.real(r, 0), yr = in.real(r, 1);
  const double allowed = kAgreement * cell_size(x, y) + kWrittenDigits * largest_coordinate(x, y);
  const auto at_centroid = [&](double want_x, double want_y) {
    return agrees(xr, want_x, allowed) && agrees(yr, want_y, allowed);
  };
  if (!std::isfinite(xc) || !std::isfinite(yc)) {
    // A cell of no area has no centroid to compute: its record must be a
    // point of the cell.
    const auto [x0, x1] = std::minmax({x[0], x[1], x[2], x[3]});
    const auto [y0, y1] = std::minmax({y[0], y[1], y[2], y[3]});
    if (xr >= x0 - allowed && xr <= x1 + allowed && yr >= y0 - allowed && yr <= y1 + allowed)
      return;
    in.fail_here("the centroid of " + cell_name(v, i, j) +
                     ", a cell of no area, at a point of it: x from " + text(x0) + " to " +
                     text(x1) + ", y from " + text(y0) + " to " + text(y1),
                 std::string("(") + text(xr) + ", " + text(yr) + ")");
  }
  if (at_centroid(xc, yc)) return;
  const VolumeCentroid region = volume_centroid(x, y);
  if (!at_centroid(region.xc, region.yc))
    in.fail_here("the centroid of " + cell_name(v, i, j) + " computed from its corners, (" +
                     text(xc) + ", " + text(yc) + ")",
                 std::string("(") + text(xr) + ", " + text(yr) + ")");
}

// One centre of the ring against the layout's: the ring's formulas of
// ring_centre, or across a re-entrant edge of an even nx the middle of the
// face (where malha puts it on a graded mesh; the two agree on any other).
void check_ghost(RecordReader& in, const Mesh& mesh, std::int32_t I, std::int32_t J) {
  const std::int32_t nxf = mesh.nx + 2;
  const std::int64_t w = static_cast<std::int64_t>(J - 1) * nxf + I;
  const std::string_view r = in.require(
      [&] { return std::string("the centre of fictitious volume " + std::to_string(w)); });
  in.expect_fields(r, 2, kRealWidth);
  const double xr = in.real(r, 0), yr = in.real(r, 1);
  const RingCentre g = ring_centre(I, J, mesh.nx, mesh.ny);
  const auto near = [&](double x, double y, double size) {
    const double allowed =
        kAgreement * size + kWrittenDigits * std::max({1.0, std::fabs(x), std::fabs(y)});
    return agrees(xr, x, allowed) && agrees(yr, y, allowed);
  };
  if (near(g.x, g.y, 0.0)) return;
  if (J == mesh.ny + 2 && I > 1 && I < nxf && mesh.nx % 2 == 0) {
    const std::size_t a = mesh.at(I - 1, mesh.nyv), b = mesh.at(I, mesh.nyv);
    const double size = std::hypot(mesh.xv[b] - mesh.xv[a], mesh.yv[b] - mesh.yv[a]);
    if (near(0.5 * (mesh.xv[a] + mesh.xv[b]), 0.5 * (mesh.yv[a] + mesh.yv[b]), size)) return;
  }
  in.fail_here("the centre of fictitious volume " + std::to_string(w) +
                   " (I = " + std::to_string(I) + ", J = " + std::to_string(J) +
                   ") where the ring's layout puts it, (" + text(g.x) + ", " + text(g.y) + ")",
               std::string("(") + text(xr) + ", " + text(yr) + ")");
}

}  // namespace

void check_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                     OutputFile file) {
  RecordReader in = open_records(files, file);
  // The second centroid file repeats the first.
  Twin twin = file == OutputFile::Centroids ? Twin() : Twin(files, OutputFile::Centroids, 0);
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i) check_centroid(in, twin, mesh, cells, i, j);
  in.expect_end(mesh.volumes());
}

// CASE_cent_fict.txt: the extended numbering, ring included (nx + 2 by ny + 2);
// the real volumes must hold their centroids.
void check_extended_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                              OutputFile file) {
  RecordReader in = open_records(files, file);
  Twin twin(files, OutputFile::Centroids, 0);
  const std::int32_t nxf = mesh.nx + 2, nyf = mesh.ny + 2;
  for (std::int32_t J = 1; J <= nyf; ++J) {
    for (std::int32_t I = 1; I <= nxf; ++I) {
      if (I == 1 || I == nxf || J == 1 || J == nyf) {
        check_ghost(in, mesh, I, J);
      } else {
        check_centroid(in, twin, mesh, cells, I - 1, J - 1);
      }
    }
  }
  in.expect_end(static_cast<std::int64_t>(nxf) * nyf);
}

void check_areas(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                 OutputFile file) {
  static_assert(file_layout(OutputFile::NestAreas).fields == 1);
  RecordReader in = open_records(files, file);
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::int64_t v = mesh.volume(i, j);
      const std::string_view r =
          in.require([&] { return std::string("the area of " + cell_name(v, i, j)); });
      in.expect_fields(r, 1, kRealWidth);
      double x[kCorners], y[kCorners];
      cell_corners(mesh, i, j, x, y);
      const double size = cell_size(x, y);
      const double want = cells.area[static_cast<std::size_t>(v - 1)];
      const double area = in.real(r, 0);
      const double allowed =
          kAgreement * size * size + kWrittenDigits * largest_coordinate(x, y) * size;
      if (!agrees(area, want, allowed) &&
          !agrees(area, volume_area(x, y, AreaFrame::Region), allowed))
        in.fail_here(
            "the area of " + cell_name(v, i, j) + " computed from its corners, " + text(want),
            text(area));
    }
  }
  in.expect_end(mesh.volumes());
}

// CASE_nest.txt: the header of CASE.txt in 8 columns, then the same vertices.
void check_nest_vertices(const CaseFiles& files, const Mesh& mesh, const CellTable&,
                         OutputFile file) {
  RecordReader in = open_records(files, file);
  Mesh header;
  read_header(in, file, header);
  const std::array<std::int32_t, kHeaderFields> want = {mesh.nx, mesh.ny, mesh.nxv, mesh.nyv,
                                                        mesh.opt_elliptic};
  const std::array<std::int32_t, kHeaderFields> got = {header.nx, header.ny, header.nxv, header.nyv,
                                                       header.opt_elliptic};
  if (got != want)
    in.fail_here("the header of " + files.bare_name(OutputFile::Mesh) + ", " +
                     number_list(want.data(), kHeaderFields),
                 number_list(got.data(), kHeaderFields));
  Twin twin(files, OutputFile::Mesh, 2);  // the vertex records of CASE.txt, read already
  read_vertex_records(in, &twin, mesh, [&](std::int64_t k, double x, double y) {
    if (x != mesh.xv[k - 1] || y != mesh.yv[k - 1])
      in.fail_here("vertex " + std::to_string(k) + " as " + files.bare_name(OutputFile::Mesh) +
                       " has it, (" + text(mesh.xv[k - 1]) + ", " + text(mesh.yv[k - 1]) + ")",
                   "(" + text(x) + ", " + text(y) + ")");
  });
  in.expect_end(1 + mesh.vertices());
}

void read_header(RecordReader& in, OutputFile file, Mesh& mesh) {
  const int width = file_layout(file).header.width;
  const std::string_view r =
      in.require([&] { return std::string("the header record nx ny nxv nyv opt"); });
  in.expect_fields(r, kHeaderFields, width);
  mesh.nx = in.integer(r, 0, width);
  mesh.ny = in.integer(r, 1, width);
  mesh.nxv = in.integer(r, 2, width);
  mesh.nyv = in.integer(r, 3, width);
  mesh.opt_elliptic = in.integer(r, 4, width);
}

void read_vertex_records(RecordReader& in, Twin* twin, const Mesh& mesh,
                         const std::function<void(std::int64_t, double, double)>& vertex) {
  for (std::int64_t k = 1; k <= mesh.vertices(); ++k) {
    const std::string_view r = in.require([&] {
      return std::string("the record of vertex " + std::to_string(k) + " of " +
                         std::to_string(mesh.vertices()) + " (nxv x nyv)");
    });
    if (twin != nullptr && twin->same(r)) continue;
    in.expect_fields(r, 2, kRealWidth);
    vertex(k, in.real(r, 0), in.real(r, 1));
  }
}

}  // namespace malha::report

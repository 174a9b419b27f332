#include <cstdint>
#include <initializer_list>

#include "files/layout.h"
#include "textio.h"

namespace malha {

namespace {

// One write statement of a record of the file, under its record format.
void write(OutputFile file, std::initializer_list<textio::Item> items) {
  const FileLayout& f = file_layout(file);
  textio::write_record(f.unit, f.record.text, items);
}

// One write statement of the file's sizes record.
void write_sizes(OutputFile file, const MeshState& s) {
  const FileLayout& f = file_layout(file);
  textio::write_record(f.unit, f.header.text, {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic});
}

// The vertex coordinates, one record per vertex.
void write_vertex_records(const MeshState& s, OutputFile file) {
  for (std::int32_t j = 1; j <= s.nyv; ++j) {
    for (std::int32_t i = 1; i <= s.nxv; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + i;
      write(file, {s.xv(k), s.yv(k)});
    }
  }
}

}  // namespace

// The records of the seven mesh files (and of the control functions' file
// when the run has them), one write statement each: the reference for
// write_mesh_records_fast.
void write_mesh_records_plain(const MeshState& s) {
  // File 1: sizes, spacings (eta first) and the vertex coordinates.
  write_sizes(OutputFile::Mesh, s);
  write(OutputFile::Mesh, {s.deta, s.dksi});
  write_vertex_records(s, OutputFile::Mesh);

  // File 2: the closed outline of every volume, then a separator record.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      for (int c : {1, 2, 3, 4, 1}) {
        const std::int64_t k = s.conn(v, c);
        write(OutputFile::Outlines, {s.xv(k), s.yv(k)});
      }
      textio::write_free_record(unit_of(OutputFile::Outlines));
    }
  }

  // Files 3, 5 and 7 in one pass.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      write(OutputFile::Corners, {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
      write(OutputFile::Centroids, {s.xc(v), s.yc(v)});
      write(OutputFile::PlotCentroids, {s.xc(v), s.yc(v)});
    }
  }

  // File 4: the real volumes under their extended numbers.
  for (std::int32_t J = 2; J <= s.nyf - 1; ++J) {
    for (std::int32_t I = 2; I <= s.nxf - 1; ++I) {
      const std::int32_t w = (J - 1) * s.nxf + I;
      write(OutputFile::ExtendedCorners,
            {w, s.connf(w, 1), s.connf(w, 2), s.connf(w, 3), s.connf(w, 4)});
    }
  }

  // File 6: every volume of the extended numbering, fictitious ring included.
  for (std::int64_t w = 1; w <= s.nvolf; ++w)
    write(OutputFile::ExtendedCentroids, {s.xcf(w), s.ycf(w)});

  // With --control, the control functions: nxv, nyv and their kind, then P
  // and Q of every vertex.
  if (s.controls) {
    const FileLayout& f = file_layout(OutputFile::Controls);
    textio::write_record(f.unit, f.header.text, {s.nxv, s.nyv, kCornerControls});
    for (std::int64_t k = 1; k <= s.nvert; ++k)
      write(OutputFile::Controls, {s.psrc(k), s.qsrc(k)});
  }
}

// The records of the five nest files, one write statement each: the
// reference for write_nest_records_fast.
void write_nest_records_plain(const MeshState& s) {
  for (std::int64_t v = 1; v <= s.nvol; ++v)
    write(OutputFile::NestNeighbours, {s.nbr(1, v), s.nbr(2, v), s.nbr(3, v), s.nbr(4, v)});
  for (std::int64_t v = 1; v <= s.nvol; ++v)
    write(OutputFile::NestCorners, {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
  for (std::int64_t v = 1; v <= s.nvol; ++v) {
    write(OutputFile::NestCentroids, {s.xc(v), s.yc(v)});
    write(OutputFile::NestAreas, {s.area(v)});
  }
  write_sizes(OutputFile::Nest, s);
  write_vertex_records(s, OutputFile::Nest);
}

}  // namespace malha

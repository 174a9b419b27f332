#include <cstdint>

#include "dados/layout.h"
#include "textio.h"

namespace malha {

// The vertex coordinates, one record per vertex.
void write_vertex_records(const MeshState& s, int unit) {
  for (std::int32_t j = 1; j <= s.nyv; ++j) {
    for (std::int32_t i = 1; i <= s.nxv; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(j - 1) * s.nxv + i;
      textio::write_record(unit, kRealPair.text, {s.xv(k), s.yv(k)});
    }
  }
}

// The records of the seven mesh files, one write statement each: the
// reference for write_mesh_records_fast.
void write_mesh_records_plain(const MeshState& s) {
  // File 1: sizes, spacings (eta first) and the vertex coordinates.
  textio::write_record(kUnitMesh, kIntegers10.text, {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic});
  textio::write_record(kUnitMesh, kRealPair.text, {s.deta, s.dksi});
  write_vertex_records(s, kUnitMesh);

  // File 2: the closed outline of every volume, then a separator record.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      for (int c : {1, 2, 3, 4, 1}) {
        const std::int64_t k = s.conn(v, c);
        textio::write_record(kUnitOutlines, kRealPair.text, {s.xv(k), s.yv(k)});
      }
      textio::write_free_record(kUnitOutlines);
    }
  }

  // Files 3, 5 and 7 in one pass.
  for (std::int32_t j = 1; j <= s.ny; ++j) {
    for (std::int32_t i = 1; i <= s.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * s.nx + i;
      textio::write_record(kUnitCorners, kIntegers10.text,
                           {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
      textio::write_record(kUnitCentroids, kRealPair.text, {s.xc(v), s.yc(v)});
      textio::write_record(kUnitPlotCentroids, kRealPair.text, {s.xc(v), s.yc(v)});
    }
  }

  // File 4: the real volumes under their extended numbers.
  for (std::int32_t J = 2; J <= s.nyf - 1; ++J) {
    for (std::int32_t I = 2; I <= s.nxf - 1; ++I) {
      const std::int32_t w = (J - 1) * s.nxf + I;
      textio::write_record(kUnitExtendedCorners, kIntegers10.text,
                           {w, s.connf(w, 1), s.connf(w, 2), s.connf(w, 3), s.connf(w, 4)});
    }
  }

  // File 6: every volume of the extended numbering, fictitious ring included.
  for (std::int64_t w = 1; w <= s.nvolf; ++w)
    textio::write_record(kUnitExtendedCentroids, kRealPair.text, {s.xcf(w), s.ycf(w)});
}

// The records of the five nest files, one write statement each: the
// reference for write_nest_records_fast.
void write_nest_records_plain(const MeshState& s) {
  for (std::int64_t v = 1; v <= s.nvol; ++v) {
    textio::write_record(kUnitNestNeighbours, kIntegers4x8.text,
                         {s.nbr(1, v), s.nbr(2, v), s.nbr(3, v), s.nbr(4, v)});
  }
  for (std::int64_t v = 1; v <= s.nvol; ++v) {
    textio::write_record(kUnitNestCorners, kIntegers4x8.text,
                         {s.conn(v, 1), s.conn(v, 2), s.conn(v, 3), s.conn(v, 4)});
  }
  for (std::int64_t v = 1; v <= s.nvol; ++v) {
    textio::write_record(kUnitNestCentroids, kRealPair.text, {s.xc(v), s.yc(v)});
    textio::write_record(kUnitNestAreas, kReal.text, {s.area(v)});
  }
  textio::write_record(kUnitNest, kIntegers5x8.text, {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic});
  write_vertex_records(s, kUnitNest);
}

}  // namespace malha

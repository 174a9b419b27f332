// The fast output records rendered: each kind of record assembled directly
// by the put_ functions of textio into a block's buffer, with the fields the
// layout gives.
#include <cstdint>
#include <cstring>

#include "files/layout.h"
#include "files/records_fast.h"
#include "textio.h"

namespace malha::fast_records {

namespace {

// What these records render, checked against the layout as they compile:
// pairs of E25.15 fields through put_real_pair_record, single E25.15 fields
// through put_e25_15, and integer fields of the width the layout gives, four
// a record (five with the extended number).
consteval bool renders(OutputFile file, const Format& format, int fields) {
  const FileLayout& f = file_layout(file);
  return f.record.kind == format.kind && f.record.width == format.width &&
         f.record.decimals == format.decimals && f.fields == fields;
}
static_assert(renders(OutputFile::Mesh, kRealPair, 2) && renders(OutputFile::Nest, kRealPair, 2) &&
              renders(OutputFile::Outlines, kRealPair, 2) &&
              renders(OutputFile::Centroids, kRealPair, 2) &&
              renders(OutputFile::PlotCentroids, kRealPair, 2) &&
              renders(OutputFile::NestCentroids, kRealPair, 2) &&
              renders(OutputFile::ExtendedCentroids, kRealPair, 2) &&
              renders(OutputFile::NestAreas, kReal, 1) &&
              renders(OutputFile::Controls, kRealPair, 2));
static_assert(file_layout(OutputFile::Corners).fields == 4 &&
              file_layout(OutputFile::NestCorners).fields == 4 &&
              file_layout(OutputFile::NestNeighbours).fields == 4 &&
              file_layout(OutputFile::ExtendedCorners).fields == 5);

constexpr int width_of(OutputFile file) {
  return file_layout(file).record.width;
}

char* put_vertex(const MeshState& s, char* out, std::int64_t k) {
  return textio::put_real_pair_record(out, s.xv(k), s.yv(k));
}

// Makes `rows` hold vertex rows j and j + 1 (fewer at the top), reusing the
// upper row it holds when that is row j.
void hold_vertex_rows(const MeshState& s, std::int64_t j, VertexRows& rows) {
  const std::int64_t nxv = s.nxv;
  const std::int64_t first_k = (j - 1) * nxv + 1;
  if (rows.first_k == first_k) return;
  std::int64_t k = first_k;
  char* p = rows.text.data();
  if (rows.first_k + nxv == first_k) {  // the lower row is the old upper one
    std::memcpy(p, p + nxv * kPairRecord, static_cast<std::size_t>(nxv * kPairRecord));
    k += nxv;
    p += nxv * kPairRecord;
  }
  const std::int64_t end_k = std::min<std::int64_t>(first_k + 2 * nxv - 1, s.nvert);
  for (; k <= end_k; ++k) p = put_vertex(s, p, k);
  rows.first_k = first_k;
  rows.count = end_k - first_k + 1;
}

// The outlines of volumes [b.first, b.last]: five vertex records and a
// separator each.
char* put_outline_records(const MeshState& s, const Block& b, char* out, VertexRows& rows) {
  rows.text.resize(static_cast<std::size_t>(2 * s.nxv * kPairRecord));
  rows.first_k = 0;
  for (std::int64_t v = b.first; v <= b.last; ++v) {
    // Volume row j touches vertex rows j and j + 1.
    hold_vertex_rows(s, (v - 1) / s.nx + 1, rows);
    for (int c : {1, 2, 3, 4, 1}) {
      const std::int64_t k = s.conn(v, c);
      if (k >= rows.first_k && k < rows.first_k + rows.count) {
        std::memcpy(out, rows.text.data() + (k - rows.first_k) * kPairRecord, kPairRecord);
        out += kPairRecord;
      } else {
        out = put_vertex(s, out, k);
      }
    }
    std::memcpy(out, textio::kFreeRecord.data(), textio::kFreeRecord.size());
    out += kSeparatorRecord;
  }
  return out;
}

// The records x(n), y(n) for n in [first, last] under "(2(1P,E25.15))".
char* put_pair_records(char* out, const Array1<double>& x, const Array1<double>& y,
                       std::int64_t first, std::int64_t last) {
  for (std::int64_t n = first; n <= last; ++n) out = textio::put_real_pair_record(out, x(n), y(n));
  return out;
}

// The records entry(v, 1..4) for volumes v in [first, last], fields of width w.
template <class Entry>
char* put_four_integer_records(char* out, std::int64_t first, std::int64_t last, int w,
                               Entry entry) {
  for (std::int64_t v = first; v <= last; ++v) {
    for (int c = 1; c <= 4; ++c) out = textio::put_integer_field(out, entry(v, c), w);
    out = textio::put_record_end(out);
  }
  return out;
}

}  // namespace

// Renders the records of one block into `out`; returns the end.
char* render_block(const MeshState& s, const Block& b, char* out, VertexRows& rows) {
  using textio::put_integer_field;
  using textio::put_record_end;
  switch (b.kind) {
    case RecordKind::MeshHeader:
      for (std::int32_t n : {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic})
        out = put_integer_field(out, n, file_layout(OutputFile::Mesh).header.width);
      out = put_record_end(out);
      return textio::put_real_pair_record(out, s.deta, s.dksi);
    case RecordKind::NestHeader:
      for (std::int32_t n : {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic})
        out = put_integer_field(out, n, file_layout(OutputFile::Nest).header.width);
      return put_record_end(out);
    case RecordKind::VertexPairs:
      return put_pair_records(out, s.xv, s.yv, b.first, b.last);
    case RecordKind::Outlines:
      return put_outline_records(s, b, out, rows);
    case RecordKind::Corners:
    case RecordKind::NestCorners:
      return put_four_integer_records(
          out, b.first, b.last,
          width_of(b.kind == RecordKind::Corners ? OutputFile::Corners : OutputFile::NestCorners),
          [&](std::int64_t v, int c) { return s.conn(v, c); });
    case RecordKind::CentroidPairs:
      return put_pair_records(out, s.xc, s.yc, b.first, b.last);
    case RecordKind::ExtendedCorners:
      for (std::int64_t v = b.first; v <= b.last; ++v) {
        // Real volume (i, j) is extended volume (i + 1, j + 1).
        const std::int64_t i = (v - 1) % s.nx + 1, j = (v - 1) / s.nx + 1;
        const auto w = static_cast<std::int32_t>(j * s.nxf + i + 1);
        constexpr int kWidth = width_of(OutputFile::ExtendedCorners);
        out = put_integer_field(out, w, kWidth);
        for (int c = 1; c <= 4; ++c) out = put_integer_field(out, s.connf(w, c), kWidth);
        out = put_record_end(out);
      }
      return out;
    case RecordKind::ExtendedPairs:
      return put_pair_records(out, s.xcf, s.ycf, b.first, b.last);
    case RecordKind::Neighbours:
      return put_four_integer_records(out, b.first, b.last, width_of(OutputFile::NestNeighbours),
                                      [&](std::int64_t v, int f) { return s.nbr(f, v); });
    case RecordKind::Areas:
      for (std::int64_t v = b.first; v <= b.last; ++v)
        out = put_record_end(textio::put_e25_15(out, s.area(v)));
      return out;
    case RecordKind::ControlHeader:
      for (std::int32_t n : {s.nxv, s.nyv, kCornerControls})
        out = put_integer_field(out, n, file_layout(OutputFile::Controls).header.width);
      return put_record_end(out);
    case RecordKind::ControlPairs:
      return put_pair_records(out, s.psrc, s.qsrc, b.first, b.last);
  }
  return out;
}

}  // namespace malha::fast_records

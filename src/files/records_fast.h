// The parts of the fast output records (records_fast.cpp) shared by its
// files: the kinds of record, the blocks they are written in, the rendering
// of a block (records_render.cpp) and the pipeline that writes the blocks
// (records_pipeline.cpp). Nothing outside src/dados/ includes it.
#pragma once

#include <cstdint>
#include <vector>

#include "files/layout.h"
#include "textio.h"

namespace malha::fast_records {

enum class RecordKind : unsigned char {
  MeshHeader,       // file 1: the sizes record, then the spacings record
  NestHeader,       // nest file 4: the sizes record
  VertexPairs,      // xv(k), yv(k) for vertices k
  Outlines,         // five vertex records and a separator for volumes v
  Corners,          // conn(v, 1..4) in the fields of CASE_vert.txt
  CentroidPairs,    // xc(v), yc(v)
  ExtendedCorners,  // w, connf(w, 1..4) for real volumes v
  ExtendedPairs,    // xcf(w), ycf(w) for all w
  Neighbours,       // nbr(1..4, v) in the fields of CASE_nest_conec.txt
  NestCorners,      // conn(v, 1..4) in the fields of CASE_nest_vert.txt
  Areas,            // area(v)
  ControlHeader,    // CASE_controle.txt: nxv, nyv and the kind of the controls
  ControlPairs,     // psrc(k), qsrc(k) for vertices k
};

constexpr std::int64_t kPairRecord = record_length(kRealPair, 2);
constexpr auto kSeparatorRecord = static_cast<std::int64_t>(textio::kFreeRecord.size());

// The most bytes one record (one outline for Outlines) of a kind takes.
constexpr std::int64_t record_bytes(RecordKind kind) {
  switch (kind) {
    case RecordKind::MeshHeader:
      return file_layout(OutputFile::Mesh).header_bytes() + kPairRecord;
    case RecordKind::NestHeader:
      return file_layout(OutputFile::Nest).header_bytes();
    case RecordKind::Outlines:
      return 5 * kPairRecord + kSeparatorRecord;
    case RecordKind::Corners:
      return file_layout(OutputFile::Corners).record_bytes();
    case RecordKind::ExtendedCorners:
      return file_layout(OutputFile::ExtendedCorners).record_bytes();
    case RecordKind::Neighbours:
      return file_layout(OutputFile::NestNeighbours).record_bytes();
    case RecordKind::NestCorners:
      return file_layout(OutputFile::NestCorners).record_bytes();
    case RecordKind::Areas:
      return file_layout(OutputFile::NestAreas).record_bytes();
    case RecordKind::ControlHeader:
      return file_layout(OutputFile::Controls).header_bytes();
    default:
      return kPairRecord;
  }
}

// Records [first, last] of one kind, for one unit or two units that get the
// same bytes (files 5 and 7 of the mesh set).
struct Block {
  RecordKind kind;
  int unit;
  int second_unit;  // 0 for none
  std::int64_t first, last;
};

constexpr std::int64_t kBlockBytes = std::int64_t{1} << 20;

// The rendered vertex records of two consecutive vertex rows, so that the
// outlines of a row of volumes render each vertex once instead of four times.
struct VertexRows {
  std::vector<char> text;
  std::int64_t first_k = 0;  // first vertex held, 0 for none
  std::int64_t count = 0;
};

// Renders the records of one block into `out`; returns the end
// (records_render.cpp).
char* render_block(const MeshState& s, const Block& b, char* out, VertexRows& rows);

// Renders and writes the blocks in order: on two threads with more than a
// few blocks when the helper and the storage can be had (and `threads` is
// not 1), else on this one.
// False, with nothing written, when not even one buffer can be had
// (records_pipeline.cpp).
bool write_blocks(const MeshState& s, const std::vector<Block>& blocks, int threads);

}  // namespace malha::fast_records

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dados/layout.h"
#include "helper_thread.h"
#include "platform.h"
#include "textio.h"

namespace malha {

namespace {

// ---------------------------------------------------------------------------
// Fast path for the output files: the same records, assembled directly by the
// put_ functions of textio (no format text compiled per record) into blocks of
// many records, each block handed to its unit as one write. The files do not
// depend on each other, so while this thread writes one block a helper thread
// renders the next; the blocks reach every unit in the order of the plain
// loops, and the first write to each unit (which truncates an existing file)
// comes in the same order as there, so a file that cannot be written stops
// the run with the same report and the same files left behind. Only this
// thread calls textio.

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
};

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
              renders(OutputFile::NestAreas, kReal, 1));
static_assert(file_layout(OutputFile::Corners).fields == 4 &&
              file_layout(OutputFile::NestCorners).fields == 4 &&
              file_layout(OutputFile::NestNeighbours).fields == 4 &&
              file_layout(OutputFile::ExtendedCorners).fields == 5);

constexpr std::int64_t kPairRecord = record_length(kRealPair, 2);
constexpr auto kSeparatorRecord = static_cast<std::int64_t>(textio::kFreeRecord.size());

constexpr int width_of(OutputFile file) {
  return file_layout(file).record.width;
}

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

void add_blocks(std::vector<Block>& blocks, RecordKind kind, int unit, int second_unit,
                std::int64_t first, std::int64_t last) {
  const std::int64_t per_block = std::max<std::int64_t>(1, kBlockBytes / record_bytes(kind));
  for (std::int64_t a = first; a <= last; a += per_block)
    blocks.push_back({kind, unit, second_unit, a, std::min(last, a + per_block - 1)});
}

// The rendered vertex records of two consecutive vertex rows, so that the
// outlines of a row of volumes render each vertex once instead of four times.
struct VertexRows {
  std::vector<char> text;
  std::int64_t first_k = 0;  // first vertex held, 0 for none
  std::int64_t count = 0;
};

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
  }
  return out;
}

void write_block(const Block& b, const char* data, std::size_t size) {
  textio::write_rendered(b.unit, data, size);
  if (b.second_unit != 0) textio::write_rendered(b.second_unit, data, size);
}

constexpr std::int64_t kSlots = 4;  // buffers of the two-thread pipeline
constexpr auto kBufferBytes =
    static_cast<std::size_t>(kBlockBytes + 2 * record_bytes(RecordKind::Outlines));

// The storage of the block pipeline, had before anything is written: the
// ring of block buffers and each thread's vertex rows. (Storage that failed
// while a block is rendered would leave the other thread waiting for it.)
struct PipelineStorage {
  std::vector<std::unique_ptr<char[]>> buffers;
  std::array<VertexRows, 2> rows;
};

// Storage for `slots` buffers and `threads` sets of vertex rows; false, with
// nothing held, when it cannot be had.
bool get_storage(const MeshState& s, std::int64_t slots, int threads, PipelineStorage& storage) {
  try {
    for (std::int64_t i = 0; i < slots; ++i)
      storage.buffers.push_back(std::make_unique_for_overwrite<char[]>(kBufferBytes));
    for (int k = 0; k < threads; ++k)
      storage.rows[static_cast<std::size_t>(k)].text.resize(
          static_cast<std::size_t>(2 * s.nxv * kPairRecord));
    return true;
  } catch (const std::bad_alloc&) {
    storage = PipelineStorage();
    return false;
  }
}

// Renders and writes the blocks in order on this thread, in one buffer.
void write_blocks_alone(const MeshState& s, const std::vector<Block>& blocks,
                        PipelineStorage& storage) {
  char* const data = storage.buffers[0].get();
  for (const Block& b : blocks) {
    const char* const end = render_block(s, b, data, storage.rows[0]);
    write_block(b, data, static_cast<std::size_t>(end - data));
  }
}

// Renders and writes the blocks in order, the helper rendering blocks ahead
// into the ring of buffers, taking them in order; this thread writes each
// block once it is rendered and, while the next one is not ready yet, renders
// one of those still to be taken itself. False, with nothing written, when
// the job cannot be handed to the helper.
bool write_blocks_together(const MeshState& s, const std::vector<Block>& blocks,
                           PipelineStorage& storage, HelperThread& helper) {
  const auto n = static_cast<std::int64_t>(blocks.size());
  const auto render = [&](std::int64_t i, VertexRows& rows) {
    char* const data = storage.buffers[static_cast<std::size_t>(i % kSlots)].get();
    return static_cast<std::size_t>(
        render_block(s, blocks[static_cast<std::size_t>(i)], data, rows) - data);
  };
  // next: the first block nobody has taken; ready[slot]: the index of the
  // block rendered into that buffer; written: the last block written (kStop
  // tells the helper to give up when this thread leaves early). A block may
  // be taken only once the block before it in the same buffer is written.
  // Changes that the other thread waits for are announced on `signal`.
  constexpr std::int64_t kStop = std::numeric_limits<std::int64_t>::max();
  std::atomic<std::int64_t> next{0};
  std::array<std::atomic<std::int64_t>, kSlots> ready;
  std::array<std::size_t, kSlots> sizes{};
  for (auto& r : ready) r.store(-1);
  std::atomic<std::int64_t> written{-1};
  Signal signal;
  const auto announce = [&](std::atomic<std::int64_t>& value, std::int64_t v) {
    signal.announce([&] { value.store(v); });
  };

  std::optional<HelperJob> job;
  try {
    job.emplace(
        helper,
        [&] {
          for (;;) {
            const std::int64_t i = next.fetch_add(1);
            if (i >= n) return;
            signal.wait([&] { return written.load() >= i - kSlots; });  // kStop passes too
            if (written.load() == kStop) return;
            const auto slot = static_cast<std::size_t>(i % kSlots);
            sizes[slot] = render(i, storage.rows[1]);
            announce(ready[slot], i);
          }
        },
        [&] { announce(written, kStop); });
  } catch (const std::bad_alloc&) {
    return false;
  }

  for (std::int64_t i = 0; i < n; ++i) {
    const auto slot = static_cast<std::size_t>(i % kSlots);
    while (ready[slot].load() != i) {
      // Take the next block if its buffer is free (everything before i is
      // written, so any block below i + kSlots has a free buffer).
      std::int64_t j = next.load();
      if (j < n && j < i + kSlots && next.compare_exchange_strong(j, j + 1)) {
        const auto own = static_cast<std::size_t>(j % kSlots);
        sizes[own] = render(j, storage.rows[0]);
        ready[own].store(j);
        continue;
      }
      if (j < n && j < i + kSlots) continue;  // lost the race for j: look again
      // Block i has been taken by the helper: wait until it is rendered.
      signal.wait([&] { return ready[slot].load() == i; });
    }
    write_block(blocks[static_cast<std::size_t>(i)], storage.buffers[slot].get(), sizes[slot]);
    announce(written, i);
  }
  job->finish();
  return true;
}

// Renders and writes the blocks in order: on two threads with more than a
// few blocks when the helper and the storage can be had (and `threads` is
// not 1), else on this one.
// False, with nothing written, when not even one buffer can be had.
bool write_blocks(const MeshState& s, const std::vector<Block>& blocks, int threads) {
  PipelineStorage storage;
  HelperThread* const helper =
      blocks.size() >= 4 && threads != 1 ? HelperThread::shared() : nullptr;
  if (helper != nullptr && get_storage(s, kSlots, 2, storage) &&
      write_blocks_together(s, blocks, storage, *helper)) {
    return true;
  }
  if (storage.buffers.empty() && !get_storage(s, 1, 1, storage)) return false;
  write_blocks_alone(s, blocks, storage);
  return true;
}

// The block lists of the two file sets; false, with nothing written, when the
// storage for the list or the pipeline cannot be had.

}  // namespace

bool write_mesh_records_fast(const MeshState& s, int threads) {
  const int mesh = unit_of(OutputFile::Mesh), corners = unit_of(OutputFile::Corners),
            centroids = unit_of(OutputFile::Centroids),
            plot_centroids = unit_of(OutputFile::PlotCentroids);
  std::vector<Block> blocks;
  try {
    blocks.push_back({RecordKind::MeshHeader, mesh, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, mesh, 0, 1, s.nvert);
    add_blocks(blocks, RecordKind::Outlines, unit_of(OutputFile::Outlines), 0, 1, s.nvol);
    // Files 3, 5 and 7: the first volume in the order of the plain loop, so
    // that the three units are first written in the same order; then each file
    // on its own (5 and 7 are the same bytes).
    blocks.push_back({RecordKind::Corners, corners, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, centroids, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, plot_centroids, 0, 1, 1});
    add_blocks(blocks, RecordKind::Corners, corners, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::CentroidPairs, centroids, plot_centroids, 2, s.nvol);
    add_blocks(blocks, RecordKind::ExtendedCorners, unit_of(OutputFile::ExtendedCorners), 0, 1,
               s.nvol);
    add_blocks(blocks, RecordKind::ExtendedPairs, unit_of(OutputFile::ExtendedCentroids), 0, 1,
               s.nvolf);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return write_blocks(s, blocks, threads);
}

bool write_nest_records_fast(const MeshState& s, int threads) {
  const int centroids = unit_of(OutputFile::NestCentroids), areas = unit_of(OutputFile::NestAreas),
            nest = unit_of(OutputFile::Nest);
  std::vector<Block> blocks;
  try {
    add_blocks(blocks, RecordKind::Neighbours, unit_of(OutputFile::NestNeighbours), 0, 1, s.nvol);
    add_blocks(blocks, RecordKind::NestCorners, unit_of(OutputFile::NestCorners), 0, 1, s.nvol);
    blocks.push_back({RecordKind::CentroidPairs, centroids, 0, 1, 1});
    blocks.push_back({RecordKind::Areas, areas, 0, 1, 1});
    add_blocks(blocks, RecordKind::CentroidPairs, centroids, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::Areas, areas, 0, 2, s.nvol);
    blocks.push_back({RecordKind::NestHeader, nest, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, nest, 0, 1, s.nvert);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return write_blocks(s, blocks, threads);
}

}  // namespace malha

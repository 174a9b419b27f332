#include "dados.h"

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

#include "helper_thread.h"
#include "platform.h"
#include "textio.h"
#include "usage.h"

namespace malha {

namespace {

constexpr char kCaseFile[] = "entradas.txt";
constexpr char kEllipticFile[] = "entrada_eq_elipticas.txt";

// The unit the input files are read on.
constexpr int kInputUnit = 1;

// The units of the mesh files, in the order they are opened and closed.
constexpr int kUnitMesh = 5;                // <case>.txt: sizes, spacings, vertices
constexpr int kUnitOutlines = 6;            // malha.txt: volume outlines for plotting
constexpr int kUnitCorners = 7;             // <case>_vert.txt
constexpr int kUnitExtendedCorners = 8;     // <case>_vert_fict.txt
constexpr int kUnitCentroids = 9;           // <case>_cent.txt
constexpr int kUnitExtendedCentroids = 10;  // <case>_cent_fict.txt
constexpr int kUnitPlotCentroids = 11;      // centroides.txt: centroids for plotting

// The units of the nest files, in the order they are opened and closed.
constexpr int kUnitNestNeighbours = 5;  // <case>_nest_conec.txt
constexpr int kUnitNestCorners = 6;     // <case>_nest_vert.txt
constexpr int kUnitNestCentroids = 7;   // <case>_nest_cent.txt
constexpr int kUnitNest = 8;            // <case>_nest.txt: sizes and vertices
constexpr int kUnitNestAreas = 9;       // <case>_nest_area.txt

// A format of the output records: its text, which the plain writers compile,
// and the width of each of its fields, from which the fast records take their
// fields and lengths.
struct Format {
  const char* text;
  int width;
};
constexpr Format kIntegers10{"(5(I10))", 10};
constexpr Format kIntegers4x8{"(4(I8))", 8};
constexpr Format kIntegers5x8{"(5(I8))", 8};
constexpr Format kRealPair{"(2(1P,E25.15))", textio::kE25Width};
constexpr Format kReal{"(1P,E25.15)", textio::kE25Width};

// Bytes of one record of `fields` fields under `format`, CR LF included.
constexpr std::int64_t record_length(Format format, int fields) {
  return std::int64_t{fields} * format.width + textio::kRecordEndBytes;
}
constexpr std::int64_t kPairRecord = record_length(kRealPair, 2);         // 52
constexpr std::int64_t kSizes10Record = record_length(kIntegers10, 5);    // 52
constexpr std::int64_t kCorners10Record = record_length(kIntegers10, 4);  // 42
constexpr std::int64_t kSizes8Record = record_length(kIntegers5x8, 5);    // 42
constexpr std::int64_t kCorners8Record = record_length(kIntegers4x8, 4);  // 34
constexpr std::int64_t kAreaRecord = record_length(kReal, 1);             // 27
constexpr auto kSeparatorRecord = static_cast<std::int64_t>(textio::kFreeRecord.size());

[[noreturn]] void reject_case(const std::string& message) {
  textio::fatal_error(textio::kErrCaseValue, textio::Statement::Read, kCaseFile, message);
}

bool is_plain_name_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-' || c == '+';
}

bool is_control_char(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// A printable rendering of a case name for messages: control bytes as \xNN.
std::string shown(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (is_control_char(c)) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void check_count(const char* what, std::int64_t value, const MeshState& s) {
  if (value > std::numeric_limits<std::int32_t>::max()) {
    reject_case("nx = " + std::to_string(s.nx) + " and ny = " + std::to_string(s.ny) + " give " +
                std::to_string(value) + " " + what + ", more than the 2147483647 a run can number");
  }
}

// The case name gives the output file names: it must be one file name in the
// working directory that the platform can use and no fixed file's name.
void check_case_name(const std::string& stem) {
  if (stem.empty()) {
    reject_case("the case name (record 1) is empty: it is the stem of every output file name");
  }
  for (unsigned char c : stem) {
    if (c == '/' || c == '\\') {
      reject_case("the case name '" + shown(stem) + "' (record 1) contains '" +
                  std::string(1, static_cast<char>(c)) +
                  "': it must name files in the working directory");
    }
    if (is_control_char(c)) {
      reject_case("the case name '" + shown(stem) +
                  "' (record 1) contains a control character, which cannot stand in a file name");
    }
    if (const char* reason = platform::refused_name_char(c); reason != nullptr) {
      reject_case("the case name '" + shown(stem) + "' (record 1) contains '" +
                  std::string(1, static_cast<char>(c)) + "', which " + reason);
    }
  }
  if (platform::is_device_name(stem)) {
    reject_case("the case name '" + shown(stem) + "' (record 1) names a device: its output file " +
                stem + ".txt would not be a file");
  }
  // Names whose ".txt" file is one the run reads or writes under a fixed name.
  static constexpr std::array<const char*, 4> kReserved = {"malha", "centroides", "entradas",
                                                           "entrada_eq_elipticas"};
  for (const char* reserved : kReserved) {
    if (platform::same_file_name(stem, reserved)) {
      const std::string_view fixed = reserved;
      reject_case("the case name '" + stem + "' (record 1) is reserved: its output file " + stem +
                  ".txt would overwrite the file of that name that every run " +
                  (fixed == "malha" || fixed == "centroides" ? "writes" : "reads"));
    }
  }
}

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
  Header10,           // file 1: sizes under "(5(I10))", spacings under "(2(1P,E25.15))"
  Header8,            // nest file 4: sizes under "(5(I8))"
  VertexPairs,        // xv(k), yv(k) for vertices k
  Outlines,           // five vertex records and a separator for volumes v
  Corners10,          // conn(v, 1..4) under "(5(I10))"
  CentroidPairs,      // xc(v), yc(v)
  ExtendedCorners10,  // w, connf(w, 1..4) under "(5(I10))" for real volumes v
  ExtendedPairs,      // xcf(w), ycf(w) for all w
  Neighbours8,        // nbr(1..4, v) under "(4(I8))"
  Corners8,           // conn(v, 1..4) under "(4(I8))"
  Areas,              // area(v) under "(1P,E25.15)"
};

// The most bytes one record (one outline for Outlines) of a kind takes.
constexpr std::int64_t record_bytes(RecordKind kind) {
  switch (kind) {
    case RecordKind::Header10:
      return kSizes10Record + kPairRecord;
    case RecordKind::Header8:
      return kSizes8Record;
    case RecordKind::Outlines:
      return 5 * kPairRecord + kSeparatorRecord;
    case RecordKind::Corners10:
      return kCorners10Record;
    case RecordKind::Neighbours8:
    case RecordKind::Corners8:
      return kCorners8Record;
    case RecordKind::Areas:
      return kAreaRecord;
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
    case RecordKind::Header10:
      for (std::int32_t n : {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic})
        out = put_integer_field(out, n, kIntegers10.width);
      out = put_record_end(out);
      return textio::put_real_pair_record(out, s.deta, s.dksi);
    case RecordKind::Header8:
      for (std::int32_t n : {s.nx, s.ny, s.nxv, s.nyv, s.opt_elliptic})
        out = put_integer_field(out, n, kIntegers5x8.width);
      return put_record_end(out);
    case RecordKind::VertexPairs:
      return put_pair_records(out, s.xv, s.yv, b.first, b.last);
    case RecordKind::Outlines:
      return put_outline_records(s, b, out, rows);
    case RecordKind::Corners10:
    case RecordKind::Corners8:
      return put_four_integer_records(
          out, b.first, b.last,
          b.kind == RecordKind::Corners10 ? kIntegers10.width : kIntegers4x8.width,
          [&](std::int64_t v, int c) { return s.conn(v, c); });
    case RecordKind::CentroidPairs:
      return put_pair_records(out, s.xc, s.yc, b.first, b.last);
    case RecordKind::ExtendedCorners10:
      for (std::int64_t v = b.first; v <= b.last; ++v) {
        // Real volume (i, j) is extended volume (i + 1, j + 1).
        const std::int64_t i = (v - 1) % s.nx + 1, j = (v - 1) / s.nx + 1;
        const auto w = static_cast<std::int32_t>(j * s.nxf + i + 1);
        out = put_integer_field(out, w, kIntegers10.width);
        for (int c = 1; c <= 4; ++c) out = put_integer_field(out, s.connf(w, c), kIntegers10.width);
        out = put_record_end(out);
      }
      return out;
    case RecordKind::ExtendedPairs:
      return put_pair_records(out, s.xcf, s.ycf, b.first, b.last);
    case RecordKind::Neighbours8:
      return put_four_integer_records(out, b.first, b.last, kIntegers4x8.width,
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
bool write_mesh_records_fast(const MeshState& s, int threads) {
  std::vector<Block> blocks;
  try {
    blocks.push_back({RecordKind::Header10, kUnitMesh, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, kUnitMesh, 0, 1, s.nvert);
    add_blocks(blocks, RecordKind::Outlines, kUnitOutlines, 0, 1, s.nvol);
    // Files 3, 5 and 7: the first volume in the order of the plain loop, so
    // that the three units are first written in the same order; then each file
    // on its own (5 and 7 are the same bytes).
    blocks.push_back({RecordKind::Corners10, kUnitCorners, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, kUnitCentroids, 0, 1, 1});
    blocks.push_back({RecordKind::CentroidPairs, kUnitPlotCentroids, 0, 1, 1});
    add_blocks(blocks, RecordKind::Corners10, kUnitCorners, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::CentroidPairs, kUnitCentroids, kUnitPlotCentroids, 2, s.nvol);
    add_blocks(blocks, RecordKind::ExtendedCorners10, kUnitExtendedCorners, 0, 1, s.nvol);
    add_blocks(blocks, RecordKind::ExtendedPairs, kUnitExtendedCentroids, 0, 1, s.nvolf);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return write_blocks(s, blocks, threads);
}

bool write_nest_records_fast(const MeshState& s, int threads) {
  std::vector<Block> blocks;
  try {
    add_blocks(blocks, RecordKind::Neighbours8, kUnitNestNeighbours, 0, 1, s.nvol);
    add_blocks(blocks, RecordKind::Corners8, kUnitNestCorners, 0, 1, s.nvol);
    blocks.push_back({RecordKind::CentroidPairs, kUnitNestCentroids, 0, 1, 1});
    blocks.push_back({RecordKind::Areas, kUnitNestAreas, 0, 1, 1});
    add_blocks(blocks, RecordKind::CentroidPairs, kUnitNestCentroids, 0, 2, s.nvol);
    add_blocks(blocks, RecordKind::Areas, kUnitNestAreas, 0, 2, s.nvol);
    blocks.push_back({RecordKind::Header8, kUnitNest, 0, 0, 0});
    add_blocks(blocks, RecordKind::VertexPairs, kUnitNest, 0, 1, s.nvert);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return write_blocks(s, blocks, threads);
}

// A unit and the file it is connected to.
struct UnitFile {
  int unit;
  std::string_view name;
};

void open_units(std::span<const UnitFile> files) {
  for (const UnitFile& f : files) textio::open_unit(f.unit, f.name);
}

void close_units(std::span<const UnitFile> files) {
  for (const UnitFile& f : files) textio::close_unit(f.unit);
}

// Shows the file in the editor.
void show_in_editor(std::string_view file_name) {
  textio::run_command(editor_command(file_name));
}

// Whether the fast writer is to write the files: when it is chosen and the
// units' buffers can be had now. The fast writer needs storage of its own
// as well (write_blocks); whenever storage is lacking before anything is
// written, the plain writer writes the same bytes.
bool fast_writer_ready(std::span<const UnitFile> files, const OutputOptions& options) {
  if (!options.fast) return false;
  for (const UnitFile& f : files)
    if (!textio::reserve_output_buffer(f.unit)) return false;
  return true;
}

// One file of an output set: its unit and its name, which follows the case
// name unless the file is one every case shares.
struct SetFile {
  int unit;
  const char* name;
  bool after_case_name;
};

using FastWriter = bool (*)(const MeshState&, int);
using PlainWriter = void (*)(const MeshState&);

// The output files: the mesh set, in the order its files are opened, then
// the nest set.
constexpr SetFile kOutputFiles[] = {{kUnitMesh, ".txt", true},
                                    {kUnitOutlines, "malha.txt", false},
                                    {kUnitCorners, "_vert.txt", true},
                                    {kUnitExtendedCorners, "_vert_fict.txt", true},
                                    {kUnitCentroids, "_cent.txt", true},
                                    {kUnitExtendedCentroids, "_cent_fict.txt", true},
                                    {kUnitPlotCentroids, "centroides.txt", false},
                                    {kUnitNestNeighbours, "_nest_conec.txt", true},
                                    {kUnitNestCorners, "_nest_vert.txt", true},
                                    {kUnitNestCentroids, "_nest_cent.txt", true},
                                    {kUnitNest, "_nest.txt", true},
                                    {kUnitNestAreas, "_nest_area.txt", true}};
constexpr std::size_t kMeshSetSize = 7;
constexpr std::span<const SetFile> kMeshSet(kOutputFiles, kMeshSetSize);
constexpr std::span<const SetFile> kNestSet(kOutputFiles + kMeshSetSize,
                                            std::size(kOutputFiles) - kMeshSetSize);

// Opens the files of the set in order, writes them (through the fast writer
// when it is chosen and can be had, otherwise the plain one), closes them,
// then shows in the editor the files `shown` names (positions in the set),
// in that order.
void write_file_set(const MeshState& s, std::span<const SetFile> set, std::span<const int> shown,
                    const OutputOptions& options, FastWriter fast, PlainWriter plain) {
  const std::string stem = case_stem(s);
  std::vector<std::string> names;
  std::vector<UnitFile> files;
  names.reserve(set.size());
  for (const SetFile& f : set) {
    names.push_back(f.after_case_name ? stem + f.name : std::string(f.name));
    files.push_back({f.unit, names.back()});
  }
  open_units(files);
  if (!fast_writer_ready(files, options) || !fast(s, options.threads)) plain(s);
  close_units(files);
  for (const int n : shown) show_in_editor(names[n]);
}

}  // namespace

std::string case_stem(const MeshState& s) {
  const std::size_t end = s.case_name.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.case_name.substr(0, end + 1);
}

std::string editor_command(std::string_view file_name) {
  bool plain = !file_name.empty();
  for (unsigned char c : file_name) plain = plain && is_plain_name_char(c);
  std::string command = "notepad ";
  if (plain) {
    command += file_name;
    return command;
  }
  command += platform::quoted_for_interpreter(file_name);
  return command;
}

namespace {

// Shows an input file in the editor and opens it; `holds` says what the file
// must hold, for the report of an empty file.
void open_input(const char* file_name, const char* holds) {
  show_in_editor(file_name);
  textio::open_unit(kInputUnit, file_name);
  textio::set_empty_file_hint(kInputUnit, std::string("it must hold ") + holds +
                                              "; the example files are in " +
                                              example_case_location());
}

}  // namespace

void read_case_file(MeshState& s) {
  open_input(kCaseFile,
             "five values, each first on a line of its own: the case name, nx, ny, 2 to "
             "smooth the mesh, 2 to write the nest files");
  textio::read_text(kInputUnit, s.case_name);
  textio::read_integer(kInputUnit, s.nx);
  textio::read_integer(kInputUnit, s.ny);
  textio::read_integer(kInputUnit, s.opt_elliptic);
  textio::read_integer(kInputUnit, s.opt_nest);
  textio::close_unit(kInputUnit);
}

void check_case_values(const MeshState& s) {
  if (s.nx < 2) {
    reject_case("nx = " + std::to_string(s.nx) +
                " (record 2) is out of range: the mesh needs at least 2 volumes along ksi");
  }
  if (s.ny < 1) {
    reject_case("ny = " + std::to_string(s.ny) +
                " (record 3) is out of range: the mesh needs at least 1 volume along eta");
  }
  const std::int64_t nx = s.nx;
  const std::int64_t ny = s.ny;
  check_count("volumes", nx * ny, s);
  check_count("vertices", (nx + 1) * (ny + 1), s);
  check_count("volumes with the fictitious ring", (nx + 2) * (ny + 2), s);

  check_case_name(case_stem(s));
}

void read_elliptic_file(MeshState& s) {
  open_input(kEllipticFile,
             "seven values, each first on a line of its own: nsweep, niter, an unused real, "
             "dksi, deta, 2 to keep psrc, 2 to keep qsrc");
  double unused = 0.0;
  textio::read_integer(kInputUnit, s.nsweep);
  textio::read_integer(kInputUnit, s.niter);
  textio::read_real(kInputUnit, unused);
  textio::read_real(kInputUnit, s.dksi);
  textio::read_real(kInputUnit, s.deta);
  textio::read_integer(kInputUnit, s.opt_psrc);
  textio::read_integer(kInputUnit, s.opt_qsrc);
  textio::close_unit(kInputUnit);
}

void write_mesh_files(const MeshState& s, const OutputOptions& options) {
  static constexpr int kShown[] = {0, 2, 3, 4, 5};  // the five files of the case
  write_file_set(s, kMeshSet, kShown, options, write_mesh_records_fast, write_mesh_records_plain);
  textio::run_command("wgnuplot malha.gnu");
  textio::run_command("wgnuplot malha_cent.gnu");
}

void write_nest_files(const MeshState& s, const OutputOptions& options) {
  static constexpr int kShown[] = {3, 0, 1, 2, 4};  // the nest file first
  write_file_set(s, kNestSet, kShown, options, write_nest_records_fast, write_nest_records_plain);
}

}  // namespace malha

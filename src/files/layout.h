// The layout of the output files, in one table: for every file its name, the
// set it belongs to, the unit it is written on and the format of its records.
// The plain writers and the fast records of `malha`, its run summary and the
// checks of `malha-report` all take them from here; the width of a field and
// the fields of a record are read from the format's text at compile time. So
// renaming a file, or widening an integer field, is one edit of this table.
// (The real fields are E25.15 throughout: the fast renderer and the report's
// reader know no other, and a text that says otherwise does not compile.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "textio.h"
#include "variaveis.h"

namespace malha {

// ---------------------------------------------------------------------------
// Record formats.

// A format of the output records: its text, which the plain writers compile,
// and what the fast records and the report's checks need of it, read from
// the text. The texts have one of the forms "(Iw)", "(n(Iw))", "(1P,Ew.d)"
// and "(n(1P,Ew.d))".
struct Format {
  std::string_view text;
  int repeat = 0;    // fields one record holds at most
  int width = 0;     // columns of each field
  int decimals = 0;  // d of Ew.d; 0 for Iw
  int scale = 0;     // the scale factor, 1 for 1P
  char kind = ' ';   // 'I' or 'E'
};

namespace layout_text {

// Thrown while a format text is read at compile time: a text outside the
// forms above stops the compilation at this throw.
struct NotALayoutFormat {};

consteval bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The unsigned number at `at` in `text`, moving past it.
consteval int read_number(std::string_view text, std::size_t& at) {
  if (at >= text.size() || !is_digit(text[at])) throw NotALayoutFormat{};
  int n = 0;
  for (; at < text.size() && is_digit(text[at]); ++at) n = n * 10 + (text[at] - '0');
  return n;
}

consteval void expect(std::string_view text, std::size_t& at, std::string_view what) {
  if (text.substr(at, what.size()) != what) throw NotALayoutFormat{};
  at += what.size();
}

}  // namespace layout_text

// The format whose text is `text`, read at compile time.
consteval Format format_of(std::string_view text) {
  using namespace layout_text;
  Format f{.text = text, .repeat = 1};
  std::size_t at = 0;
  expect(text, at, "(");
  // A repeat count is a number before "("; the "1" of "1P" is a scale factor.
  std::size_t after = at;
  while (after < text.size() && is_digit(text[after])) ++after;
  const bool group = after > at && text.substr(after, 1) == "(";
  if (group) {
    f.repeat = read_number(text, at);
    expect(text, at, "(");
  }
  if (text.substr(at, 3) == "1P,") {
    f.scale = 1;
    at += 3;
  }
  if (at >= text.size() || (text[at] != 'I' && text[at] != 'E')) throw NotALayoutFormat{};
  f.kind = text[at++];
  f.width = read_number(text, at);
  if (f.kind == 'E') {
    expect(text, at, ".");
    f.decimals = read_number(text, at);
  }
  if (group) expect(text, at, ")");
  expect(text, at, ")");
  if (at != text.size() || f.repeat < 1 || f.width < 1 || (f.kind == 'I' && f.scale != 0))
    throw NotALayoutFormat{};
  return f;
}

// Bytes of one record of `fields` fields under `format`, CR LF included.
constexpr std::int64_t record_length(const Format& format, int fields) {
  return std::int64_t{fields} * format.width + textio::kRecordEndBytes;
}

// The formats the files use.
inline constexpr Format kIntegers10 = format_of("(5(I10))");
inline constexpr Format kIntegers3x10 = format_of("(3(I10))");
inline constexpr Format kIntegers4x8 = format_of("(4(I8))");
inline constexpr Format kIntegers5x8 = format_of("(5(I8))");
inline constexpr Format kRealPair = format_of("(2(1P,E25.15))");
inline constexpr Format kReal = format_of("(1P,E25.15)");
inline constexpr Format kNoHeader{};

// ---------------------------------------------------------------------------
// The files.

enum class FileSet : unsigned char {
  Mesh,  // the seven files of every run
  Nest,  // the five nest files (opt_nest = 2)
  // The control functions of --control, opened and written with the mesh
  // set (write_mesh_files) when the run has them.
  Controls,
};

// The output files, in the order of the table.
enum class OutputFile : unsigned char {
  Mesh,               // CASE.txt: sizes, spacings, vertices
  Outlines,           // malha.txt: volume outlines for plotting
  Corners,            // CASE_vert.txt
  ExtendedCorners,    // CASE_vert_fict.txt
  Centroids,          // CASE_cent.txt
  ExtendedCentroids,  // CASE_cent_fict.txt
  PlotCentroids,      // centroides.txt: centroids for plotting
  NestNeighbours,     // CASE_nest_conec.txt
  NestCorners,        // CASE_nest_vert.txt
  NestCentroids,      // CASE_nest_cent.txt
  Nest,               // CASE_nest.txt: sizes and vertices
  NestAreas,          // CASE_nest_area.txt
  Controls,           // CASE_controle.txt: sizes and kind, P and Q of every vertex
};

struct FileLayout {
  // What follows the case name ("_vert.txt"), or the whole name of a file
  // every case shares ("malha.txt").
  std::string_view name;
  Format record;                 // the format of its records
  Format header;                 // the record of the sizes before them, or kNoHeader
  int fields = 0;                // fields of each record
  int unit = 0;                  // the unit it is written on
  OutputFile file{};             // its place in the table
  FileSet set{};                 // the set it is written with
  bool after_case_name = false;  // the name follows the case name

  // Bytes of one record, CR LF included.
  constexpr std::int64_t record_bytes() const { return record_length(record, fields); }
  // Columns of one record, CR LF not counted.
  constexpr int record_columns() const { return fields * record.width; }
  constexpr bool has_header() const { return !header.text.empty(); }
  // Bytes of the sizes record, CR LF included.
  constexpr std::int64_t header_bytes() const { return record_length(header, header.repeat); }
};

// Every output file: the mesh set in the order its files are opened, then
// the nest set in the order its files are opened. Columns: name, record
// format, sizes record, fields of a record, unit, file, set, whether the
// name follows the case name.
// clang-format off
inline constexpr FileLayout kOutputFiles[] = {
    {".txt",            kRealPair,    kIntegers10,  2, 5,  OutputFile::Mesh,              FileSet::Mesh, true},
    {"malha.txt",       kRealPair,    kNoHeader,    2, 6,  OutputFile::Outlines,          FileSet::Mesh, false},
    {"_vert.txt",       kIntegers10,  kNoHeader,    4, 7,  OutputFile::Corners,           FileSet::Mesh, true},
    {"_vert_fict.txt",  kIntegers10,  kNoHeader,    5, 8,  OutputFile::ExtendedCorners,   FileSet::Mesh, true},
    {"_cent.txt",       kRealPair,    kNoHeader,    2, 9,  OutputFile::Centroids,         FileSet::Mesh, true},
    {"_cent_fict.txt",  kRealPair,    kNoHeader,    2, 10, OutputFile::ExtendedCentroids, FileSet::Mesh, true},
    {"centroides.txt",  kRealPair,    kNoHeader,    2, 11, OutputFile::PlotCentroids,     FileSet::Mesh, false},
    {"_nest_conec.txt", kIntegers4x8, kNoHeader,    4, 5,  OutputFile::NestNeighbours,    FileSet::Nest, true},
    {"_nest_vert.txt",  kIntegers4x8, kNoHeader,    4, 6,  OutputFile::NestCorners,       FileSet::Nest, true},
    {"_nest_cent.txt",  kRealPair,    kNoHeader,    2, 7,  OutputFile::NestCentroids,     FileSet::Nest, true},
    {"_nest.txt",       kRealPair,    kIntegers5x8, 2, 8,  OutputFile::Nest,              FileSet::Nest, true},
    {"_nest_area.txt",  kReal,        kNoHeader,    1, 9,  OutputFile::NestAreas,         FileSet::Nest, true},
    {"_controle.txt",   kRealPair,    kIntegers3x10, 2, 12, OutputFile::Controls,         FileSet::Controls, true},
};
// clang-format on

constexpr const FileLayout& file_layout(OutputFile file) {
  return kOutputFiles[static_cast<std::size_t>(file)];
}

constexpr int unit_of(OutputFile file) {
  return file_layout(file).unit;
}

// The files of a set, in the order they are opened.
constexpr std::span<const FileLayout> file_set(FileSet set) {
  std::size_t first = 0;
  while (kOutputFiles[first].set != set) ++first;
  std::size_t end = first;
  while (end < std::size(kOutputFiles) && kOutputFiles[end].set == set) ++end;
  return std::span<const FileLayout>(kOutputFiles).subspan(first, end - first);
}

// The files of a set named after the case, in the order the run shows them in
// the editor and its messages list them: the set's file of sizes and
// vertices first, then the others in the order they are opened.
inline std::vector<OutputFile> case_files_listed(FileSet set) {
  std::vector<OutputFile> files;
  for (const bool header : {true, false})
    for (const FileLayout& f : file_set(set))
      if (f.after_case_name && f.has_header() == header) files.push_back(f.file);
  return files;
}

// What the table promises the code that reads it, checked as it compiles.
consteval bool layout_is_sound() {
  for (std::size_t n = 0; n < std::size(kOutputFiles); ++n) {
    const FileLayout& f = kOutputFiles[n];
    // In the order of the enumeration; the sets each in one piece.
    if (static_cast<std::size_t>(f.file) != n) return false;
    if (n > 0 && f.set < kOutputFiles[n - 1].set) return false;
    // One write statement, one record; the sizes record holds nx ny nxv nyv
    // opt, that of the control functions nxv nyv and their kind.
    if (f.fields < 1 || f.fields > f.record.repeat) return false;
    const int sizes = f.set == FileSet::Controls ? 3 : 5;
    if (f.has_header() && (f.header.kind != 'I' || f.header.repeat != sizes)) return false;
    // The real fields are the ones put_e25_15 renders and the report reads.
    if (f.record.kind == 'E' &&
        (f.record.width != textio::kE25Width || f.record.decimals != 15 || f.record.scale != 1))
      return false;
    // A unit holds one file of a set, and the control functions' file none
    // of the mesh set it is opened with.
    for (std::size_t m = 0; m < n; ++m) {
      const bool together = kOutputFiles[m].set == f.set ||
                            (f.set == FileSet::Controls && kOutputFiles[m].set == FileSet::Mesh);
      if (together && kOutputFiles[m].unit == f.unit) return false;
    }
  }
  return true;
}
static_assert(layout_is_sound());

// ---------------------------------------------------------------------------
// The writers of the two sets.

// The records of the seven mesh files (and of CASE_controle.txt when the run
// has control functions: nxv, nyv and their kind, then P and Q of every
// vertex in vertex order) and of the five nest files, one write statement
// each: the statement of the layout (records_plain.cpp).
void write_mesh_records_plain(const MeshState& s);
void write_nest_records_plain(const MeshState& s);

// The code of the kind of control functions in the sizes record of
// CASE_controle.txt: those of smoothing/controls.h, at the outer corner.
inline constexpr std::int32_t kCornerControls = 1;


// The same records assembled directly into blocks (records_fast.cpp); false
// when the storage or the helper thread they need cannot be had, before
// anything is written.
bool write_mesh_records_fast(const MeshState& s, int threads);
bool write_nest_records_fast(const MeshState& s, int threads);

// Shows the file in the editor.
void show_in_editor(std::string_view file_name);

}  // namespace malha

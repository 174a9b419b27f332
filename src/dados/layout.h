// The layout of the output files, shared by the plain writers and the fast
// records: the units each file is written on and the formats and lengths of
// their records; and the two writers of each file set.
#pragma once

#include <cstdint>
#include <string_view>

#include "textio.h"
#include "variaveis.h"

namespace malha {

// The units of the mesh files, in the order they are opened and closed.
inline constexpr int kUnitMesh = 5;                // <case>.txt: sizes, spacings, vertices
inline constexpr int kUnitOutlines = 6;            // malha.txt: volume outlines for plotting
inline constexpr int kUnitCorners = 7;             // <case>_vert.txt
inline constexpr int kUnitExtendedCorners = 8;     // <case>_vert_fict.txt
inline constexpr int kUnitCentroids = 9;           // <case>_cent.txt
inline constexpr int kUnitExtendedCentroids = 10;  // <case>_cent_fict.txt
inline constexpr int kUnitPlotCentroids = 11;      // centroides.txt: centroids for plotting

// The units of the nest files, in the order they are opened and closed.
inline constexpr int kUnitNestNeighbours = 5;  // <case>_nest_conec.txt
inline constexpr int kUnitNestCorners = 6;     // <case>_nest_vert.txt
inline constexpr int kUnitNestCentroids = 7;   // <case>_nest_cent.txt
inline constexpr int kUnitNest = 8;            // <case>_nest.txt: sizes and vertices
inline constexpr int kUnitNestAreas = 9;       // <case>_nest_area.txt

// A format of the output records: its text, which the plain writers compile,
// and the width of each of its fields, from which the fast records take their
// fields and lengths.
struct Format {
  const char* text;
  int width;
};
inline constexpr Format kIntegers10{"(5(I10))", 10};
inline constexpr Format kIntegers4x8{"(4(I8))", 8};
inline constexpr Format kIntegers5x8{"(5(I8))", 8};
inline constexpr Format kRealPair{"(2(1P,E25.15))", textio::kE25Width};
inline constexpr Format kReal{"(1P,E25.15)", textio::kE25Width};

// Bytes of one record of `fields` fields under `format`, CR LF included.
constexpr std::int64_t record_length(Format format, int fields) {
  return std::int64_t{fields} * format.width + textio::kRecordEndBytes;
}
inline constexpr std::int64_t kPairRecord = record_length(kRealPair, 2);         // 52
inline constexpr std::int64_t kSizes10Record = record_length(kIntegers10, 5);    // 52
inline constexpr std::int64_t kCorners10Record = record_length(kIntegers10, 4);  // 42
inline constexpr std::int64_t kSizes8Record = record_length(kIntegers5x8, 5);    // 42
inline constexpr std::int64_t kCorners8Record = record_length(kIntegers4x8, 4);  // 34
inline constexpr std::int64_t kAreaRecord = record_length(kReal, 1);             // 27
inline constexpr auto kSeparatorRecord = static_cast<std::int64_t>(textio::kFreeRecord.size());

// The records of the seven mesh files and of the five nest files, one write
// statement each: the statement of the layout (records_plain.cpp).
void write_mesh_records_plain(const MeshState& s);
void write_nest_records_plain(const MeshState& s);

// The same records assembled directly into blocks (records_fast.cpp); false
// when the storage or the helper thread they need cannot be had, before
// anything is written.
bool write_mesh_records_fast(const MeshState& s, int threads);
bool write_nest_records_fast(const MeshState& s, int threads);

// Shows the file in the editor.
void show_in_editor(std::string_view file_name);

}  // namespace malha

// The checks of the files of a case other than CASE.txt, one function a
// kind of file, and what they share with the reading of CASE.txt. Each
// throws CheckFailure at the first record that is not what it should be.
// The names of the files, the widths of their fields and the fields of their
// records come from malha's own layout table (files/layout.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "files/layout.h"
#include "platform.h"
#include "report/case_data.h"
#include "report/checks/records.h"

namespace malha::report {

inline constexpr int kCorners = 4;  // of a volume; also its sides, and its neighbours
// The sizes record, "nx ny nxv nyv opt", of CASE.txt and CASE_nest.txt.
inline constexpr int kHeaderFields = file_layout(OutputFile::Mesh).header.repeat;
// A record of x and y, CR LF not counted (the vertex and centroid files).
inline constexpr int kPairLength = file_layout(OutputFile::Mesh).record_columns();
static_assert(kPairLength == 2 * kRealWidth);

// The records of file `file` of the case, looked for by their columns.
inline RecordReader open_records(const CaseFiles& files, OutputFile file) {
  return RecordReader(files.path(file), files.name(file), file_layout(file).record_columns());
}

// How far a centroid or an area read from a file may be from the one computed
// from the vertices, relative to the cell's size (its square for the area;
// cell_size in report/measures/metrics.h): the vertex file holds 16 significant digits, not
// the exact doubles.
inline constexpr double kAgreement = 1e-9;

// Those 16 digits, relative to the coordinates: the last digit's unit is at
// most 1e-15 of a coordinate, so that a vertex, and a centroid written in the
// file, may be half of that from the double the program had. Once a cell is
// as small as a graded mesh's at the re-entrant corner (1e-6 and less),
// that, not the cell's size, bounds the agreement: a centroid within
// kWrittenDigits times the largest coordinate of the cell, an area within
// that times the cell's size (each corner moved that far).
inline constexpr double kWrittenDigits = 2e-15;

// "volume v (i = .., j = ..)" and "a b c d" for messages.
std::string cell_name(std::int64_t v, std::int32_t i, std::int32_t j);
std::string number_list(const std::int32_t* values, int count);

// The records of a file checked on its own that this file repeats: a record
// equal to its twin's needs no second look. Without the twin (not there, or
// out of step with this file) every record is looked at.
class Twin {
 public:
  Twin() = default;
  // The twin is file `file` of the case from its record `skip` + 1 on.
  Twin(const CaseFiles& files, OutputFile file, int skip) {
    if (!platform::file_exists(files.path(file))) return;
    try {
      reader_.emplace(files.path(file), files.name(file), kPairLength);
      for (int k = 0; k < skip && reader_; ++k) {
        std::string_view r;
        if (!reader_->next(r)) reader_.reset();
      }
    } catch (const CheckFailure&) {
      reader_.reset();
    }
  }
  bool same(std::string_view record) {
    if (!reader_) return false;
    try {
      std::string_view r;
      if (reader_->next(r) && r == record) return true;
    } catch (const CheckFailure&) {
    }
    reader_.reset();
    return false;
  }

 private:
  std::optional<RecordReader> reader_;
};

// Reads the sizes record "nx ny nxv nyv opt" of `file` (CASE.txt or CASE_nest.txt).
void read_header(RecordReader& in, OutputFile file, Mesh& mesh);

// The vertex records of CASE.txt or CASE_nest.txt: x and y of every vertex
// handed to `vertex(k, x, y)`, but for a record the same as its twin's.
void read_vertex_records(RecordReader& in, Twin* twin, const Mesh& mesh,
                         const std::function<void(std::int64_t, double, double)>& vertex);

// The check of one file of the case: each of the functions below checks the
// files of one kind, `file` naming which.
using FileCheck = void (*)(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                           OutputFile file);

// CASE_vert.txt and CASE_nest_vert.txt, CASE_vert_fict.txt (its extended
// number first).
void check_corner_records(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                          OutputFile file);
// CASE_nest_conec.txt.
void check_neighbours(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                      OutputFile file);
// CASE_cent.txt and CASE_nest_cent.txt.
void check_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                     OutputFile file);
// CASE_cent_fict.txt.
void check_extended_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                              OutputFile file);
// CASE_nest_area.txt.
void check_areas(const CaseFiles& files, const Mesh& mesh, const CellTable& cells, OutputFile file);
// CASE_nest.txt.
void check_nest_vertices(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                         OutputFile file);

// CASE_controle.txt, when it is there (controls.cpp): its sizes those of
// CASE.txt, a kind of control functions the report knows, a smoothed mesh
// beside it, and P and Q for every vertex, kept in the mesh.
void read_controls(const CaseFiles& files, Mesh& mesh);

}  // namespace malha::report

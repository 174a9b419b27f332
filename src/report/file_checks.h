// The checks of the files of a case other than CASE.txt, one function a
// file, and what they share with the reading of CASE.txt. Each throws
// CheckFailure at the first record that is not what it should be.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "case_data.h"
#include "records.h"

namespace malha::report {

inline constexpr int kWide = 10;   // I10: CASE.txt header and the connectivity files
inline constexpr int kNarrow = 8;  // I8: the nest files
inline constexpr int kHeaderFields = 5;
inline constexpr int kCorners = 4;
inline constexpr int kPairLength = 2 * kRealWidth;  // a record of x and y

// How far a centroid or an area read from a file may be from the one computed
// from the vertices, relative to the cell's size (its square for the area;
// cell_size in metrics.h): the vertex file holds 16 significant digits, not
// the exact doubles.
inline constexpr double kAgreement = 1e-9;

// "volume v (i = .., j = ..)" and "a b c d" for messages.
std::string cell_name(std::int64_t v, std::int32_t i, std::int32_t j);
std::string number_list(const std::int32_t* values, int count);

// The records of a file checked on its own that this file repeats: a record
// equal to its twin's needs no second look. Without the twin (not there, or
// out of step with this file) every record is looked at.
class Twin {
 public:
  Twin() = default;
  // The twin is file `suffix` of the case from its record `skip` + 1 on.
  Twin(const CaseFiles& files, const std::string& suffix, int skip) {
    if (!std::filesystem::exists(files.path(suffix))) return;
    try {
      reader_.emplace(files.path(suffix), files.name(suffix), kPairLength);
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

// Reads the header "nx ny nxv nyv opt" of `width`-column fields.
void read_header(RecordReader& in, int width, Mesh& mesh);

// The vertex records of CASE.txt or CASE_nest.txt: x and y of every vertex
// handed to `vertex(k, x, y)`, but for a record the same as its twin's.
void read_vertex_records(RecordReader& in, Twin* twin, const Mesh& mesh,
                         const std::function<void(std::int64_t, double, double)>& vertex);

// CASE_vert.txt and CASE_nest_vert.txt (`width` 10 or 8), CASE_vert_fict.txt
// (`extended`: the extended number first).
void check_corner_records(const CaseFiles& files, const Mesh& mesh, const std::string& suffix,
                          int width, bool extended);
void check_neighbours(const CaseFiles& files, const Mesh& mesh, const CellTable& cells);
void check_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                     const std::string& suffix);
void check_extended_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells);
void check_areas(const CaseFiles& files, const Mesh& mesh, const CellTable& cells);
void check_nest_vertices(const CaseFiles& files, const Mesh& mesh, const CellTable& cells);

}  // namespace malha::report

// The files of numbers: the corners of every volume and the neighbour table.
#include <algorithm>
#include <array>
#include <initializer_list>
#include <vector>

#include "report/checks/file_checks.h"
#include "textio.h"

namespace malha::report {

std::string cell_name(std::int64_t v, std::int32_t i, std::int32_t j) {
  return "volume " + std::to_string(v) + " (i = " + std::to_string(i) +
         ", j = " + std::to_string(j) + ")";
}

std::string number_list(const std::int32_t* values, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) {
    if (k > 0) out += ' ';
    out += std::to_string(values[k]);
  }
  return out;
}

namespace {

// Whether the record is exactly the four fields, each `width` columns wide.
bool holds(std::string_view record, int width, const std::array<std::int32_t, kCorners>& four) {
  if (record.size() != static_cast<std::size_t>(kCorners) * static_cast<std::size_t>(width))
    return false;
  const char* p = record.data();
  std::int32_t value = 0;
  for (std::int32_t want : four) {
    if (!parse_integer_field(p, width, value) || value != want) return false;
    p += width;
  }
  return true;
}

// Integer fields of one record kept as text and counted up in place: the
// records of the connectivity files follow one another by steps of 1 to 3.
class CountedRecord {
 public:
  CountedRecord(std::initializer_list<std::int32_t> values, int width) : width_(width) {
    text_.resize(values.size() * static_cast<std::size_t>(width));
    char* p = text_.data();
    for (std::int32_t v : values) p = textio::put_integer_field(p, v, width);
  }
  void add(std::size_t field, int steps) {
    for (; steps > 0; --steps) increment(text_.data() + field * static_cast<std::size_t>(width_));
  }
  std::string_view text() const { return text_; }

 private:
  // Adds one to the non-negative number right-aligned in the field; a number
  // that outgrows the field leaves it all '*', as malha writes it then.
  void increment(char* field) {
    for (int k = width_ - 1; k >= 0; --k) {
      if (field[k] == ' ') {
        field[k] = '1';
        return;
      }
      if (field[k] != '9' && field[k] != '*') {
        ++field[k];
        return;
      }
      field[k] = '0';
    }
    std::fill(field, field + width_, '*');
  }
  std::string text_;
  int width_;
};

}  // namespace

// The four corners of every volume (CASE_vert.txt, CASE_nest_vert.txt, and
// CASE_vert_fict.txt after the extended number): the vertices (i, j),
// (i+1, j), (i+1, j+1), (i, j+1), which run counter-clockwise.
void check_corner_records(const CaseFiles& files, const Mesh& mesh, const CellTable&,
                          OutputFile file) {
  const int fields = file_layout(file).fields;
  const int width = file_layout(file).record.width;
  const bool extended = fields == kCorners + 1;  // the extended number first
  RecordReader in = open_records(files, file);
  const std::int32_t nxf = mesh.nx + 2;
  // The record of volume 1, counted on from volume to volume: every field
  // grows by 1, and from the end of a row to the next by 2 (vertices) or 3
  // (extended numbers).
  const std::int32_t nxv = mesh.nxv;
  CountedRecord expected = extended ? CountedRecord({nxf + 2, 1, 2, nxv + 2, nxv + 1}, width)
                                    : CountedRecord({1, 2, nxv + 2, nxv + 1}, width);
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::int64_t v = mesh.volume(i, j);
      const std::string_view r =
          in.require([&] { return std::string("the corners of " + cell_name(v, i, j)); });
      const bool as_written = r == expected.text();
      for (int f = 0; f < fields; ++f)
        expected.add(static_cast<std::size_t>(f), i < mesh.nx ? 1 : f < fields - kCorners ? 3 : 2);
      if (as_written) continue;

      const auto k1 = static_cast<std::int32_t>(mesh.at(i, j) + 1);
      const std::array<std::int32_t, kCorners> want = {k1, k1 + 1, k1 + 1 + mesh.nxv,
                                                       k1 + mesh.nxv};
      const std::int32_t w = j * nxf + i + 1;
      in.expect_fields(r, fields, width);
      if (extended) {
        const std::int32_t found = in.integer(r, 0, width);
        if (found != w)
          in.fail_here("the extended number " + std::to_string(w) + " of " + cell_name(v, i, j),
                       std::to_string(found));
      }
      std::array<std::int32_t, kCorners> got{};
      for (int c = 0; c < kCorners; ++c) {
        got[c] = in.integer(r, c + fields - kCorners, width);
        if (got[c] < 1 || got[c] > mesh.vertices())
          in.fail_here("vertex numbers from 1 to " + std::to_string(mesh.vertices()),
                       std::to_string(got[c]));
      }
      if (got == want) continue;
      auto reversed = want;
      std::reverse(reversed.begin(), reversed.end());
      bool clockwise = false;
      for (int turn = 0; turn < kCorners; ++turn) {
        std::rotate(reversed.begin(), reversed.begin() + 1, reversed.end());
        clockwise = clockwise || reversed == got;
      }
      in.fail_here("the corners of " + cell_name(v, i, j) + " counter-clockwise, " +
                       number_list(want.data(), kCorners),
                   number_list(got.data(), kCorners) + (clockwise ? " (clockwise)" : ""));
    }
  }
  in.expect_end(mesh.volumes());
}

namespace {

// CASE_nest_conec.txt: the neighbours across the eta-, ksi+, eta+ and ksi-
// sides, 0 on the boundary. Checked in three steps: numbers in range, the
// table symmetric (u names v across the opposite side when v names u), and
// each neighbour the one the structure of the mesh puts there.
// The neighbours of volume (i, j) across the four sides, 0 on the boundary.
std::array<std::int32_t, kCorners> structured_neighbours(const Mesh& mesh, std::int32_t i,
                                                         std::int32_t j) {
  const auto v = static_cast<std::int32_t>(mesh.volume(i, j));
  return {j > 1 ? v - mesh.nx : 0, i < mesh.nx ? v + 1 : 0, j < mesh.ny ? v + mesh.nx : 0,
          i > 1 ? v - 1 : 0};
}

void check_neighbour_table(const CaseFiles& files, const Mesh& mesh, OutputFile file) {
  static constexpr std::array<const char*, kCorners> kSide = {"eta-", "ksi+", "eta+", "ksi-"};
  const int width = file_layout(file).record.width;
  RecordReader in = open_records(files, file);
  const std::int64_t nvol = mesh.volumes();
  std::vector<std::int32_t> table(static_cast<std::size_t>(nvol) * kCorners);
  for (std::int64_t v = 1; v <= nvol; ++v) {
    const std::string_view r =
        in.require([&] { return std::string("the neighbours of volume " + std::to_string(v)); });
    in.expect_fields(r, kCorners, width);
    for (int f = 0; f < kCorners; ++f) {
      const std::int32_t u = in.integer(r, f, width);
      if (u < 0 || u > nvol)
        in.fail_here("volume numbers from 0 (the boundary) to " + std::to_string(nvol),
                     std::to_string(u));
      table[static_cast<std::size_t>((v - 1) * kCorners + f)] = u;
    }
  }
  in.expect_end(nvol);
  const auto entry = [&](std::int64_t v, int f) {
    return table[static_cast<std::size_t>((v - 1) * kCorners + f)];
  };
  const std::string name = files.name(file);
  for (std::int64_t v = 1; v <= nvol; ++v) {
    for (int f = 0; f < kCorners; ++f) {
      const std::int32_t u = entry(v, f);
      const int back = (f + 2) % kCorners;
      if (u != 0 && entry(u, back) != v)
        fail(name, u,
             "volume " + std::to_string(u) + " to name volume " + std::to_string(v) + " as its " +
                 kSide[back] + " neighbour (line " + std::to_string(v) + " names " +
                 std::to_string(u) + " as its " + kSide[f] + " neighbour)",
             std::to_string(entry(u, back)));
    }
  }
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::int64_t v = mesh.volume(i, j);
      const std::array<std::int32_t, kCorners> want = structured_neighbours(mesh, i, j);
      for (int f = 0; f < kCorners; ++f)
        if (entry(v, f) != want[f])
          fail(name, v,
               "the " + std::string(kSide[f]) + " neighbour of " + cell_name(v, i, j) + " to be " +
                   std::to_string(want[f]) + (want[f] == 0 ? " (the boundary)" : ""),
               std::to_string(entry(v, f)));
    }
  }
}

}  // namespace

// A table that holds exactly the records malha writes is right; any other
// goes through check_neighbour_table, which says what is wrong.
void check_neighbours(const CaseFiles& files, const Mesh& mesh, const CellTable&, OutputFile file) {
  static_assert(file_layout(OutputFile::NestNeighbours).fields == kCorners);
  const int width = file_layout(file).record.width;
  bool as_written = true;
  {
    RecordReader in = open_records(files, file);
    std::string_view r;
    for (std::int32_t j = 1; j <= mesh.ny && as_written; ++j)
      for (std::int32_t i = 1; i <= mesh.nx && as_written; ++i)
        as_written = in.next(r) && holds(r, width, structured_neighbours(mesh, i, j));
    as_written = as_written && !in.next(r);
  }
  if (!as_written) check_neighbour_table(files, mesh, file);
}

}  // namespace malha::report

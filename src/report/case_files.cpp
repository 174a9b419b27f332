#include "case_files.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <future>
#include <limits>
#include <optional>
#include <thread>

#include "metrics.h"
#include "records.h"
#include "textio.h"

namespace malha::report {

namespace {

constexpr int kWide = 10;   // I10: CASE.txt header and the connectivity files
constexpr int kNarrow = 8;  // I8: the nest files
constexpr int kHeaderFields = 5;
constexpr int kCorners = 4;
constexpr int kPairLength = 2 * kRealWidth;  // a record of x and y

std::string text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.16g", value);
  return buffer;
}

std::string cell_name(std::int64_t v, std::int32_t i, std::int32_t j) {
  return "volume " + std::to_string(v) + " (i = " + std::to_string(i) +
         ", j = " + std::to_string(j) + ")";
}

std::string list(const std::int32_t* values, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) {
    if (k > 0) out += ' ';
    out += std::to_string(values[k]);
  }
  return out;
}

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
      std::string_view r;
      for (int k = 0; k < skip; ++k)
        if (!reader_->next(r)) reader_.reset();
    } catch (const CheckFailure&) {
      reader_.reset();
    }
  }
  bool same(std::string_view record) {
    if (!reader_) return false;
    std::string_view r;
    try {
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
void read_header(RecordReader& in, int width, Mesh& mesh) {
  const std::string_view r =
      in.require([&] { return std::string("the header record nx ny nxv nyv opt"); });
  in.expect_fields(r, kHeaderFields, width);
  mesh.nx = in.integer(r, 0, width);
  mesh.ny = in.integer(r, 1, width);
  mesh.nxv = in.integer(r, 2, width);
  mesh.nyv = in.integer(r, 3, width);
  mesh.opt_elliptic = in.integer(r, 4, width);
}

// The vertex records of CASE.txt or CASE_nest.txt: x and y of every vertex.
template <class Vertex>
void read_vertices(RecordReader& in, Twin* twin, const Mesh& mesh, Vertex vertex) {
  for (std::int64_t k = 1; k <= mesh.vertices(); ++k) {
    const std::string_view r = in.require([&] {
      return std::string("the record of vertex " + std::to_string(k) + " of " +
                         std::to_string(mesh.vertices()) + " (nxv x nyv)");
    });
    if (twin != nullptr && twin->same(r)) continue;
    in.expect_fields(r, 2, kRealWidth);
    vertex(k, in.real(r, 0), in.real(r, 1));
  }
}

// Whether the record is exactly the four fields, each `width` columns wide.
bool holds(std::string_view record, int width, const std::array<std::int32_t, kCorners>& four) {
  if (record.size() != static_cast<std::size_t>(kCorners * width)) return false;
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

// The four corners of every volume (CASE_vert.txt, CASE_nest_vert.txt, and
// CASE_vert_fict.txt after the extended number): the vertices (i, j),
// (i+1, j), (i+1, j+1), (i, j+1), which run counter-clockwise.
void check_corner_records(const CaseFiles& files, const Mesh& mesh, const std::string& suffix,
                          int width, bool extended) {
  const int fields = extended ? kCorners + 1 : kCorners;
  RecordReader in(files.path(suffix), files.name(suffix), fields * width);
  const std::int32_t nxf = mesh.nx + 2;
  // The record of volume 1, counted on from volume to volume: every field
  // grows by 1, and from the end of a row to the next by 2 (vertices) or 3
  // (extended numbers).
  const std::int32_t nxv = mesh.nxv;
  CountedRecord expected = extended ? CountedRecord({nxf + 2, 1, 2, nxv + 2, nxv + 1}, width)
                                    : CountedRecord({1, 2, nxv + 2, nxv + 1}, width);
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * mesh.nx + i;
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
                       list(want.data(), kCorners),
                   list(got.data(), kCorners) + (clockwise ? " (clockwise)" : ""));
    }
  }
  in.expect_end(mesh.volumes());
}

// One centroid record of a volume against the centroid computed from its corners.
void check_centroid(RecordReader& in, Twin& twin, const Mesh& mesh, const CellTable& cells,
                    std::int32_t i, std::int32_t j) {
  const std::int64_t v = static_cast<std::int64_t>(j - 1) * mesh.nx + i;
  const std::string_view r =
      in.require([&] { return std::string("the centroid of " + cell_name(v, i, j)); });
  if (twin.same(r)) return;
  in.expect_fields(r, 2, kRealWidth);
  double x[kCorners], y[kCorners];
  cell_corners(mesh, i, j, x, y);
  const auto at = static_cast<std::size_t>(v - 1);
  const double xc = cells.xc[at], yc = cells.yc[at];
  const double xr = in.real(r, 0), yr = in.real(r, 1);
  const double allowed = kAgreement * cell_size(x, y);
  if (!(std::fabs(xr - xc) <= allowed && std::fabs(yr - yc) <= allowed))
    in.fail_here("the centroid of " + cell_name(v, i, j) + " computed from its corners, (" +
                     text(xc) + ", " + text(yc) + ")",
                 "(" + text(xr) + ", " + text(yr) + ")");
}

void check_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells,
                     const std::string& suffix) {
  RecordReader in(files.path(suffix), files.name(suffix), kPairLength);
  // The second centroid file repeats the first.
  Twin twin = suffix == "_cent.txt" ? Twin() : Twin(files, "_cent.txt", 0);
  for (std::int32_t j = 1; j <= mesh.ny; ++j)
    for (std::int32_t i = 1; i <= mesh.nx; ++i) check_centroid(in, twin, mesh, cells, i, j);
  in.expect_end(mesh.volumes());
}

// CASE_cent_fict.txt: the extended numbering, ring included (nx + 2 by ny + 2);
// the real volumes must hold their centroids.
void check_extended_centroids(const CaseFiles& files, const Mesh& mesh, const CellTable& cells) {
  const std::string suffix = "_cent_fict.txt";
  RecordReader in(files.path(suffix), files.name(suffix), kPairLength);
  Twin twin(files, "_cent.txt", 0);
  const std::int32_t nxf = mesh.nx + 2, nyf = mesh.ny + 2;
  for (std::int32_t J = 1; J <= nyf; ++J) {
    for (std::int32_t I = 1; I <= nxf; ++I) {
      if (I == 1 || I == nxf || J == 1 || J == nyf) {
        const std::int64_t w = static_cast<std::int64_t>(J - 1) * nxf + I;
        const std::string_view r = in.require(
            [&] { return std::string("the centre of fictitious volume " + std::to_string(w)); });
        in.expect_fields(r, 2, kRealWidth);
        in.real(r, 0);
        in.real(r, 1);
      } else {
        check_centroid(in, twin, mesh, cells, I - 1, J - 1);
      }
    }
  }
  in.expect_end(static_cast<std::int64_t>(nxf) * nyf);
}

void check_areas(const CaseFiles& files, const Mesh& mesh, const CellTable& cells) {
  const std::string suffix = "_nest_area.txt";
  RecordReader in(files.path(suffix), files.name(suffix), kRealWidth);
  for (std::int32_t j = 1; j <= mesh.ny; ++j) {
    for (std::int32_t i = 1; i <= mesh.nx; ++i) {
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * mesh.nx + i;
      const std::string_view r =
          in.require([&] { return std::string("the area of " + cell_name(v, i, j)); });
      in.expect_fields(r, 1, kRealWidth);
      double x[kCorners], y[kCorners];
      cell_corners(mesh, i, j, x, y);
      const double size = cell_size(x, y);
      const double want = cells.area[static_cast<std::size_t>(v - 1)];
      const double area = in.real(r, 0);
      if (!(std::fabs(area - want) <= kAgreement * size * size))
        in.fail_here(
            "the area of " + cell_name(v, i, j) + " computed from its corners, " + text(want),
            text(area));
    }
  }
  in.expect_end(mesh.volumes());
}

// CASE_nest.txt: the header of CASE.txt in 8 columns, then the same vertices.
void check_nest_vertices(const CaseFiles& files, const Mesh& mesh, const CellTable&) {
  const std::string suffix = "_nest.txt";
  RecordReader in(files.path(suffix), files.name(suffix), kPairLength);
  Mesh header;
  read_header(in, kNarrow, header);
  const std::array<std::int32_t, kHeaderFields> want = {mesh.nx, mesh.ny, mesh.nxv, mesh.nyv,
                                                        mesh.opt_elliptic};
  const std::array<std::int32_t, kHeaderFields> got = {header.nx, header.ny, header.nxv, header.nyv,
                                                       header.opt_elliptic};
  if (got != want)
    in.fail_here("the header of " + files.name(".txt") + ", " + list(want.data(), kHeaderFields),
                 list(got.data(), kHeaderFields));
  Twin twin(files, ".txt", 2);  // the vertex records of CASE.txt, read already
  read_vertices(in, &twin, mesh, [&](std::int64_t k, double x, double y) {
    if (x != mesh.xv[k - 1] || y != mesh.yv[k - 1])
      in.fail_here("vertex " + std::to_string(k) + " as " + files.name(".txt") + " has it, (" +
                       text(mesh.xv[k - 1]) + ", " + text(mesh.yv[k - 1]) + ")",
                   "(" + text(x) + ", " + text(y) + ")");
  });
  in.expect_end(1 + mesh.vertices());
}

// CASE_nest_conec.txt: the neighbours across the eta-, ksi+, eta+ and ksi-
// sides, 0 on the boundary. Checked in three steps: numbers in range, the
// table symmetric (u names v across the opposite side when v names u), and
// each neighbour the one the structure of the mesh puts there.
// The neighbours of volume (i, j) across the four sides, 0 on the boundary.
std::array<std::int32_t, kCorners> structured_neighbours(const Mesh& mesh, std::int32_t i,
                                                         std::int32_t j) {
  const std::int32_t v = (j - 1) * mesh.nx + i;
  return {j > 1 ? v - mesh.nx : 0, i < mesh.nx ? v + 1 : 0, j < mesh.ny ? v + mesh.nx : 0,
          i > 1 ? v - 1 : 0};
}

void check_neighbour_table(const CaseFiles& files, const Mesh& mesh) {
  static constexpr std::array<const char*, kCorners> kSide = {"eta-", "ksi+", "eta+", "ksi-"};
  const std::string suffix = "_nest_conec.txt";
  RecordReader in(files.path(suffix), files.name(suffix), kCorners * kNarrow);
  const std::int64_t nvol = mesh.volumes();
  std::vector<std::int32_t> table(static_cast<std::size_t>(nvol) * kCorners);
  for (std::int64_t v = 1; v <= nvol; ++v) {
    const std::string_view r =
        in.require([&] { return std::string("the neighbours of volume " + std::to_string(v)); });
    in.expect_fields(r, kCorners, kNarrow);
    for (int f = 0; f < kCorners; ++f) {
      const std::int32_t u = in.integer(r, f, kNarrow);
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
  const std::string name = files.name(suffix);
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
      const std::int64_t v = static_cast<std::int64_t>(j - 1) * mesh.nx + i;
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

// A table that holds exactly the records malha writes is right; any other
// goes through check_neighbour_table, which says what is wrong.
void check_neighbours(const CaseFiles& files, const Mesh& mesh, const CellTable&) {
  const std::string suffix = "_nest_conec.txt";
  bool as_written = true;
  {
    RecordReader in(files.path(suffix), files.name(suffix), kCorners * kNarrow);
    std::string_view r;
    for (std::int32_t j = 1; j <= mesh.ny && as_written; ++j)
      for (std::int32_t i = 1; i <= mesh.nx && as_written; ++i)
        as_written = in.next(r) && holds(r, kNarrow, structured_neighbours(mesh, i, j));
    as_written = as_written && !in.next(r);
  }
  if (!as_written) check_neighbour_table(files, mesh);
}

// What a task waits for: the sizes of the header (read before any task
// starts), the vertices, or the cell table computed from them.
enum class Needs { Sizes, Vertices, Cells };

struct Check {
  std::string suffix;
  Needs needs;
  std::function<void(const CaseFiles&, const Mesh&, const CellTable&)> run;
};

std::vector<Check> checks() {
  const auto corners = [](const char* suffix, int width, bool extended) {
    return [=](auto& f, auto& m, auto&) { check_corner_records(f, m, suffix, width, extended); };
  };
  const auto centroids = [](const char* suffix) {
    return [=](auto& f, auto& m, auto& c) { check_centroids(f, m, c, suffix); };
  };
  return {
      {"_vert.txt", Needs::Sizes, corners("_vert.txt", kWide, false)},
      {"_vert_fict.txt", Needs::Sizes, corners("_vert_fict.txt", kWide, true)},
      {"_cent.txt", Needs::Cells, centroids("_cent.txt")},
      {"_cent_fict.txt", Needs::Cells, check_extended_centroids},
      {"_nest.txt", Needs::Vertices, check_nest_vertices},
      {"_nest_conec.txt", Needs::Sizes, check_neighbours},
      {"_nest_vert.txt", Needs::Sizes, corners("_nest_vert.txt", kNarrow, false)},
      {"_nest_cent.txt", Needs::Cells, centroids("_nest_cent.txt")},
      {"_nest_area.txt", Needs::Cells, check_areas},
  };
}

// CASE.txt up to its vertices: the sizes and the spacings.
void read_sizes(RecordReader& in, Mesh& mesh) {
  read_header(in, kWide, mesh);
  if (mesh.nx < 2 || mesh.ny < 1)
    in.fail_here("nx of at least 2 and ny of at least 1",
                 "nx = " + std::to_string(mesh.nx) + ", ny = " + std::to_string(mesh.ny));
  if (mesh.nxv != mesh.nx + 1 || mesh.nyv != mesh.ny + 1)
    in.fail_here("nxv = nx + 1 = " + std::to_string(mesh.nx + 1) +
                     " and nyv = ny + 1 = " + std::to_string(mesh.ny + 1),
                 "nxv = " + std::to_string(mesh.nxv) + ", nyv = " + std::to_string(mesh.nyv));
  const std::int64_t ring = static_cast<std::int64_t>(mesh.nx + 2) * (mesh.ny + 2);
  if (ring > std::numeric_limits<std::int32_t>::max())
    in.fail_here("a mesh whose volumes can be numbered in 32 bits",
                 std::to_string(mesh.nx) + " x " + std::to_string(mesh.ny) + " volumes");
  const std::string_view r = in.require([] { return std::string("the spacings deta dksi"); });
  in.expect_fields(r, 2, kRealWidth);
  mesh.deta = in.real(r, 0);
  mesh.dksi = in.real(r, 1);
}

void read_coordinates(RecordReader& in, Mesh& mesh) {
  mesh.xv.resize(static_cast<std::size_t>(mesh.vertices()));
  mesh.yv.resize(static_cast<std::size_t>(mesh.vertices()));
  read_vertices(in, nullptr, mesh, [&](std::int64_t k, double x, double y) {
    mesh.xv[static_cast<std::size_t>(k - 1)] = x;
    mesh.yv[static_cast<std::size_t>(k - 1)] = y;
  });
  in.expect_end(2 + mesh.vertices());
}

}  // namespace

CaseFiles case_from_argument(const std::string& argument) {
  const std::filesystem::path path(argument);
  const std::string name = path.filename().string();
  constexpr std::string_view kExtension = ".txt";
  if (name.size() > kExtension.size() && name.ends_with(kExtension))
    return {path.parent_path(), name.substr(0, name.size() - kExtension.size())};
  return {path.parent_path(), name};
}

CheckedCase read_case(const CaseFiles& files, const std::vector<CaseTask>& beside) {
  CheckedCase result;
  Mesh& mesh = result.mesh;
  RecordReader in(files.path(".txt"), files.name(".txt"), kPairLength);
  read_sizes(in, mesh);
  // Sizes that promise more records than the file can hold stop here, before
  // anything is allocated for them.
  std::error_code error;
  const auto bytes = std::filesystem::file_size(files.path(".txt"), error);
  const auto least = static_cast<std::uintmax_t>(mesh.vertices()) * (kPairLength + 1);
  if (!error && bytes < least)
    fail(files.name(".txt"), 0,
         std::to_string(mesh.vertices()) + " vertex records (nxv x nyv), at least " +
             std::to_string(least) + " bytes",
         std::to_string(bytes) + " bytes");

  std::vector<Check> todo;
  for (Check& c : checks())
    if (c.suffix == "_vert.txt" || std::filesystem::exists(files.path(c.suffix)))
      todo.push_back(std::move(c));
  const std::size_t files_to_check = todo.size();

  // Two threads take the tasks in the order of what they wait for: the files
  // that need only the sizes (a helper thread starts on them while this one
  // reads the vertices), the two halves of the cell table, the rest. The
  // first failure in the order of the list is reported, CASE.txt before all.
  std::promise<bool> vertices_read, cells_measured;
  std::shared_future<bool> vertices = vertices_read.get_future().share();
  std::shared_future<bool> cells = cells_measured.get_future().share();
  std::atomic<int> halves_left{2};
  for (int half = 0; half < 2; ++half) {
    todo.push_back({"", Needs::Vertices, [&, half](auto&, auto& m, auto&) {
                      const std::int32_t middle = m.ny / 2;
                      measure_rows(m, result.cells, half == 0 ? 1 : middle + 1,
                                   half == 0 ? middle : m.ny);
                      if (--halves_left == 0) cells_measured.set_value(true);
                    }});
  }
  for (const CaseTask& task : beside)
    todo.push_back({"", Needs::Cells, [&task](auto&, auto& m, auto& c) { task(m, c); }});
  std::vector<std::size_t> order(todo.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto rank = [&](std::size_t k) {  // the cell table before other work on the vertices
      return 2 * static_cast<int>(todo[k].needs) + (k >= files_to_check ? 0 : 1);
    };
    return rank(a) < rank(b);
  });
  std::vector<std::exception_ptr> failures(todo.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t n = next++; n < order.size(); n = next++) {
      const Check& c = todo[order[n]];
      if (c.needs != Needs::Sizes && !vertices.get()) return;
      if (c.needs == Needs::Cells && !cells.get()) return;
      try {
        c.run(files, mesh, result.cells);
      } catch (...) {
        failures[order[n]] = std::current_exception();
      }
    }
  };
  std::thread helper(work);
  try {
    read_coordinates(in, mesh);
    result.cells = sized_cell_table(mesh);
  } catch (...) {
    vertices_read.set_value(false);
    cells_measured.set_value(false);
    helper.join();
    throw;
  }
  vertices_read.set_value(true);
  work();
  helper.join();

  result.checked = {files.name(".txt")};
  for (std::size_t k = 0; k < files_to_check; ++k) {
    if (failures[k]) std::rethrow_exception(failures[k]);
    result.checked.push_back(files.name(todo[k].suffix));
  }
  return result;
}

}  // namespace malha::report

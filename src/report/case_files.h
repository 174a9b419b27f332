// The files of one case as `malha` writes them, read and checked against each
// other. Nothing here writes to them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace malha::report {

// Where the files of a case are: CASE.txt, CASE_vert.txt, ... in `folder`.
struct CaseFiles {
  std::filesystem::path folder;
  std::string stem;

  std::filesystem::path path(const std::string& suffix) const { return folder / (stem + suffix); }
  // The file name as messages show it.
  std::string name(const std::string& suffix) const { return stem + suffix; }
};

// The case named by the command line: a case name, or a path to CASE.txt.
CaseFiles case_from_argument(const std::string& argument);

// The vertex file CASE.txt: sizes, spacings and coordinates.
struct Mesh {
  std::int32_t nx = 0, ny = 0, nxv = 0, nyv = 0;
  std::int32_t opt_elliptic = 0;  // 2 when the mesh was smoothed
  double deta = 1.0, dksi = 1.0;
  std::vector<double> xv, yv;  // vertex k = (j-1)*nxv + i at [k-1]

  std::int64_t volumes() const { return static_cast<std::int64_t>(nx) * ny; }
  std::int64_t vertices() const { return static_cast<std::int64_t>(nxv) * nyv; }
  // Vertex (i, j), 1-based, as an index of xv and yv.
  std::size_t at(std::int32_t i, std::int32_t j) const {
    return static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * nxv + i - 1);
  }
};

// What the checks and the measures need of every cell (volume v at [v-1]),
// computed from the vertices once: centroid and area as the centroid and
// area files have them, and the shape the quality module gives.
struct CellTable {
  std::vector<double> xc, yc, area;
  std::vector<double> skew, shortest_edge, longest_edge;
  std::vector<std::uint8_t> folded;
};

struct CheckedCase {
  Mesh mesh;
  CellTable cells;
  std::vector<std::string> checked;  // the files found consistent, CASE.txt first
};

// Reads CASE.txt and checks it (header counts against the records, fixed
// columns), then checks CASE_vert.txt, which must be there, and every other
// file of the case that is there against it; two threads share the files.
// Throws CheckFailure, which names the file, the line, what was expected and
// what was found.
// `beside` is work of the caller that needs the mesh and the cell table and
// runs on the same two threads as the checks, once the table is there.
using CaseTask = std::function<void(const Mesh&, const CellTable&)>;
CheckedCase read_case(const CaseFiles& files, const std::vector<CaseTask>& beside = {});

// How far a centroid or an area read from a file may be from the one computed
// from the vertices, relative to the cell's size (its square for the area;
// cell_size in metrics.h): the vertex file holds 16 significant digits, not
// the exact doubles.
inline constexpr double kAgreement = 1e-9;

}  // namespace malha::report

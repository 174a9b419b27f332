// What the files of one case hold once read: where they are, the mesh of
// CASE.txt and the table of its cells. The ground floor of malha-report:
// the checks, the measures, the exports and the report all take these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "option_flags.h"

namespace malha {
enum class OutputFile : unsigned char;  // the files of malha's layout (files/layout.h)
}

namespace malha::report {

// Where the files of a case are: CASE.txt, CASE_vert.txt, ... in `folder`.
// Names are the bytes given, never converted (std::filesystem::path would
// convert them on Windows through the C library's locale, where the program
// runs with UTF-8 as its code page): the platform layer opens them as they are.
struct CaseFiles {
  std::string folder;  // "" for the current folder
  std::string stem;

  // The file of the case whose name ends in `suffix` (".vts").
  std::string path(std::string_view suffix) const;
  // A file of malha's layout (one named after the case).
  std::string path(OutputFile file) const;
  // The file as messages show it: its path, the folder as given included.
  std::string name(OutputFile file) const;
  // The file's name alone, without the folder (the report's list of files).
  std::string bare_name(OutputFile file) const;
};

// The vertex file CASE.txt: sizes, spacings and coordinates.
struct Mesh {
  std::int32_t nx = 0, ny = 0, nxv = 0, nyv = 0;
  std::int32_t opt_elliptic = 0;  // on (option_flags.h) when the mesh was smoothed
  double deta = 1.0, dksi = 1.0;
  std::vector<double> xv, yv;  // vertex k = (j-1)*nxv + i at [k-1]
  // The control functions of CASE_controle.txt: their kind (0 without them)
  // and P and Q of every vertex, as xv and yv.
  std::int32_t controls = 0;
  std::vector<double> psrc, qsrc;

  bool smoothed() const { return option_on(opt_elliptic); }
  std::int64_t volumes() const { return static_cast<std::int64_t>(nx) * ny; }
  std::int64_t vertices() const { return static_cast<std::int64_t>(nxv) * nyv; }
  // Vertex (i, j), 1-based, as an index of xv and yv.
  std::size_t at(std::int32_t i, std::int32_t j) const {
    return static_cast<std::size_t>(static_cast<std::int64_t>(j - 1) * nxv + i - 1);
  }
  // Volume (i, j), 1-based: its number v = (j-1)*nx + i, as the files count
  // volumes, and its index v - 1 in the cell table and the cell arrays.
  std::int64_t volume(std::int32_t i, std::int32_t j) const {
    return static_cast<std::int64_t>(j - 1) * nx + i;
  }
  std::size_t cell(std::int32_t i, std::int32_t j) const {
    return static_cast<std::size_t>(volume(i, j) - 1);
  }
};

// What the checks and the measures need of every cell (volume v at [v-1]),
// computed from the vertices once: centroid and area as the centroid and
// area files have them, and the flags below.
// The name the report gives a kind of control functions ("corner"), or ""
// for a kind it does not know (checks/controls.cpp).
std::string_view control_kind_name(std::int32_t kind);

struct CellTable {
  std::vector<double> xc, yc, area;
  std::vector<std::uint8_t> flags;
};
// The flags of a cell: the quality module's is_inverted and is_concave, and
// degenerate: an edge of length zero, or no centroid (an area of zero).
inline constexpr std::uint8_t kInverted = 1, kConcave = 2, kDegenerate = 4;

}  // namespace malha::report

#include "report/measures/region.h"

#include <cmath>
#include <cstdio>

#include "report/measures/sides.h"
#include "textio.h"

namespace malha::report {

namespace {

std::string text(double value) {
  return textio::formatted("%.6g", value);
}

// A side of the region: the vertices (i, j) from `first` to `last` along
// one row or column lie on x = at (or y = at), the other coordinate from
// `low` to `high`.
struct RegionSide {
  const char* name;
  std::int32_t first_i, last_i, first_j, last_j;
  bool on_x;  // the line is x = at, else y = at
  double at, low, high;
};

std::string vertex_off(const Mesh& mesh, const RegionSide& s) {
  for (std::int32_t j = s.first_j; j <= s.last_j; ++j)
    for (std::int32_t i = s.first_i; i <= s.last_i; ++i) {
      const double x = mesh.xv[mesh.at(i, j)], y = mesh.yv[mesh.at(i, j)];
      const double on = s.on_x ? x : y, along = s.on_x ? y : x;
      if (std::fabs(on - s.at) <= kSideAgreement && along >= s.low - kSideAgreement &&
          along <= s.high + kSideAgreement)
        continue;
      return std::string("the ") + s.name + " side: vertex (" + std::to_string(i) + ", " +
             std::to_string(j) + ") at (" + text(x) + ", " + text(y) + "), not on " +
             (s.on_x ? "x = " : "y = ") + text(s.at) + " with " + (s.on_x ? "y" : "x") + " from " +
             text(s.low) + " to " + text(s.high);
    }
  return "";
}

}  // namespace

std::string region_fault(const Mesh& mesh, const CellTable& cells) {
  // The vertex at the corner (0, 0), and of the re-entrant corner.
  const std::int32_t m = first_bottom_arm_column(mesh.nx), last = mesh.nxv, top = mesh.nyv;
  const RegionSide sides[] = {
      {"left", 1, m, 1, 1, true, 0.0, 0.0, 1.0},
      {"bottom", m, last, 1, 1, false, 0.0, 0.0, 1.0},
      {"reentrant_vertical", 1, m, top, top, true, 0.5, 0.5, 1.0},
      {"reentrant_horizontal", m, last, top, top, false, 0.5, 0.5, 1.0},
      {"top", 1, 1, 1, top, false, 1.0, 0.0, 0.5},
      {"right", last, last, 1, top, true, 1.0, 0.0, 0.5},
  };
  std::string fault;
  for (const RegionSide& s : sides) {
    fault = vertex_off(mesh, s);
    if (!fault.empty()) break;
  }
  double area = 0.0;
  for (const double a : cells.area) area += a;
  if (std::isfinite(area) && std::fabs(area - kRegionArea) > kRegionAreaAgreement)
    fault += std::string(fault.empty() ? "" : "; ") + "the cells cover " + text(area) +
             ", not the region's " + text(kRegionArea);
  if (!fault.empty() && mesh.nx % 2 != 0)
    fault += " (an odd nx leans the mesh past x = 1; malha warns of it)";
  return fault;
}

}  // namespace malha::report

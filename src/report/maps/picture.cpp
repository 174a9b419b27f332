#include "report/maps/map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "report/checks/records.h"

namespace malha::report {

namespace {

// The worse of two values of a metric; a NaN (a degenerate cell) is the
// worst of all.
double worse(double a, double b, bool low_is_worst) {
  if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<double>::quiet_NaN();
  return low_is_worst ? std::min(a, b) : std::max(a, b);
}

// The worst value of the cells of patch (c, r).
double patch_value(const Mesh& mesh, const CellTable& cells, Metric metric, std::int32_t block,
                   std::int32_t c, std::int32_t r) {
  const bool low_is_worst = info(metric).low_is_worst;
  const std::int32_t i0 = c * block + 1, j0 = r * block + 1;
  const std::int32_t i1 = std::min(i0 + block - 1, mesh.nx), j1 = std::min(j0 + block - 1, mesh.ny);
  double value = cell_value(mesh, cells, metric, i0, j0);
  for (std::int32_t j = j0; j <= j1; ++j)
    for (std::int32_t i = i0; i <= i1; ++i)
      value = worse(value, cell_value(mesh, cells, metric, i, j), low_is_worst);
  return value;
}

std::string title_of(const MapPicture& p, const Mesh& mesh, const std::string& case_name) {
  std::string title = printable_utf8(case_name) + ": " + p.label;
  if (p.block > 1)
    title += " (" + std::to_string(mesh.nx) + " x " + std::to_string(mesh.ny) +
             " cells drawn in blocks of " + std::to_string(p.block) + " x " +
             std::to_string(p.block) + ", each the worst of its cells)";
  return title;
}

}  // namespace

std::int32_t block_side(std::int64_t cells) {
  std::int32_t b = 1;
  while (cells > kMostPatches * static_cast<std::int64_t>(b) * b) ++b;
  return b;
}

void MapPicture::corners(const Mesh& mesh, std::int32_t c, std::int32_t r, double x[4],
                         double y[4]) const {
  const std::int32_t i0 = c * block + 1, j0 = r * block + 1;
  const std::int32_t i1 = std::min(i0 + block, mesh.nxv), j1 = std::min(j0 + block, mesh.nyv);
  const std::size_t k[4] = {mesh.at(i0, j0), mesh.at(i1, j0), mesh.at(i1, j1), mesh.at(i0, j1)};
  for (int n = 0; n < 4; ++n) {
    x[n] = mesh.xv[k[n]];
    y[n] = mesh.yv[k[n]];
  }
}

double scale_position(const MapPicture& p, double v) {
  if (!(p.high > p.low)) return std::isnan(v) ? v : 0.0;
  if (p.logarithmic) return std::log(v / p.low) / std::log(p.high / p.low);
  return (v - p.low) / (p.high - p.low);
}

MapPicture map_picture(const Mesh& mesh, const CellTable& cells, Metric metric,
                       const std::string& case_name) {
  MapPicture p;
  p.metric = metric;
  p.label = info(metric).label;
  p.block = block_side(mesh.volumes());
  p.columns = (mesh.nx + p.block - 1) / p.block;
  p.rows = (mesh.ny + p.block - 1) / p.block;
  p.values.resize(static_cast<std::size_t>(p.columns) * static_cast<std::size_t>(p.rows));
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (std::int32_t r = 0; r < p.rows; ++r) {
    for (std::int32_t c = 0; c < p.columns; ++c) {
      const double v = patch_value(mesh, cells, metric, p.block, c, r);
      p.values[static_cast<std::size_t>(r) * p.columns + c] = v;
      if (!std::isfinite(v)) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (low <= high) {
    p.low = low;
    p.high = high;
    // The cells' sizes grade by factors; the shape measures have no such
    // spread to show.
    p.logarithmic = metric == Metric::Area && low > 0.0 && high >= low * kLogarithmicSpan;
  }
  if (p.logarithmic) p.label += " (logarithmic scale)";
  const auto xs = std::minmax_element(mesh.xv.begin(), mesh.xv.end());
  const auto ys = std::minmax_element(mesh.yv.begin(), mesh.yv.end());
  p.xmin = *xs.first;
  p.xmax = *xs.second;
  p.ymin = *ys.first;
  p.ymax = *ys.second;
  p.title = title_of(p, mesh, case_name);
  return p;
}

}  // namespace malha::report

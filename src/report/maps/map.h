// Quality maps. What a map draws: one patch per cell, or, for a mesh with more
// cells than a picture can show, one patch per block of b x b cells (the
// block's corner vertices, the worst value of its cells), so that neither
// gnuplot nor an SVG is ever handed more than about kMostPatches shapes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/checks/case_files.h"
#include "report/measures/metrics.h"

namespace malha::report {

// About the pixels of the drawing area of a map: more patches than this show
// nothing more, and cost gnuplot memory in proportion.
inline constexpr std::int64_t kMostPatches = 250'000;

struct MapPicture {
  Metric metric;
  std::int32_t block = 1;              // cells per side of a patch
  std::int32_t columns = 0, rows = 0;  // patches along i and j
  std::vector<double> values;          // patch (c, r) at [r * columns + c], 0-based
  double low = 0.0, high = 0.0;        // of the finite values (0, 0 when there is none)
  // Colours by the logarithm of the value: a map of the area whose values
  // are all above 0 and span kLogarithmicSpan or more (a graded mesh), where
  // a linear scale would give all but the largest cells one colour.
  bool logarithmic = false;
  double xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;  // of the vertices
  std::string title;                                      // printable: no control byte, valid UTF-8
  std::string label;                                      // of the colour scale

  // Corners of patch (c, r), counter-clockwise from its lowest i and j.
  void corners(const Mesh& mesh, std::int32_t c, std::int32_t r, double x[4], double y[4]) const;
};

// The ratio of the largest value to the smallest from which a map takes a
// logarithmic colour scale: two decades.
inline constexpr double kLogarithmicSpan = 100.0;

// Where value v stands on the colour scale of the picture, from 0 (low) to 1
// (high); 0 when the values are all the same, NaN for NaN.
double scale_position(const MapPicture& picture, double v);

// The side of the blocks a mesh of `cells` cells is drawn in: 1 up to
// kMostPatches cells, then the least b with cells / b^2 <= kMostPatches.
std::int32_t block_side(std::int64_t cells);

// The picture of `metric` over the mesh, titled for case `case_name`.
MapPicture map_picture(const Mesh& mesh, const CellTable& cells, Metric metric,
                       const std::string& case_name);

// Writes the picture as an SVG (report/maps/svg.cpp).
void write_svg_map(const std::string& target, const Mesh& mesh, const MapPicture& picture);

// Has gnuplot draw the picture into the PNG `target` (report/maps/map.cpp): "" when it
// did, else why not (nothing is then written). Should the user stop gnuplot
// (Ctrl-C), the process stops, by the same signal, with nothing written.
std::string draw_png_map(const std::string& target, const Mesh& mesh, const MapPicture& picture);

}  // namespace malha::report

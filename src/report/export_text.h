// What the text exports share beyond OutputFile: integers rendered without
// locale, and the box around a set of vertices.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

#include "output_file.h"

namespace malha::report {

// The integer in decimal, then `after`.
inline void put_integer(OutputFile& out, std::int64_t value, char after = ' ') {
  char buffer[24];
  char* end = std::to_chars(buffer, buffer + sizeof buffer - 1, value).ptr;
  *end++ = after;
  out.put(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

// The smallest box around the points added to it.
struct Box {
  double min_x = std::numeric_limits<double>::infinity(), min_y = min_x;
  double max_x = -min_x, max_y = -min_x;

  void add(double x, double y) {
    min_x = std::min(min_x, x);
    min_y = std::min(min_y, y);
    max_x = std::max(max_x, x);
    max_y = std::max(max_y, y);
  }
};

}  // namespace malha::report

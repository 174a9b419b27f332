// What the text exports share beyond OutputFile: numbers rendered without
// locale and handed over in blocks, and the box around a set of vertices.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

#include "report/output_file.h"

namespace malha::report {

// Numbers of an export assembled in a buffer of its own and handed to the
// file a few kilobytes at a time (a hand-over per number costs more than its
// rendering). end() hands over the rest: call it before anything else is
// put to the file, and before the file is closed.
class Line {
 public:
  explicit Line(OutputFile& out) : out_(out) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // The integer in decimal, then `after`.
  Line& integer(std::int64_t value, char after = ' ') {
    room();
    end_ = std::to_chars(end_, end_ + kLongest - 1, value).ptr;
    *end_++ = after;
    return *this;
  }
  // The shortest text that reads back to the same double, then `after`.
  Line& number(double value, char after = ' ') {
    room();
    end_ = std::to_chars(end_, end_ + kLongest - 1, value).ptr;
    *end_++ = after;
    return *this;
  }
  Line& text(std::string_view t) {
    room();
    end_ = std::copy(t.begin(), t.end(), end_);  // short texts only
    return *this;
  }
  // Hands what is assembled to the file.
  void end() {
    out_.put(std::string_view(buffer_, static_cast<std::size_t>(end_ - buffer_)));
    end_ = buffer_;
  }

 private:
  static constexpr std::size_t kLongest = 32;  // a number and what follows it
  void room() {
    if (end_ + kLongest > buffer_ + sizeof buffer_) end();
  }
  OutputFile& out_;
  char buffer_[4096] = {};
  char* end_ = buffer_;
};

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

// Reading the fixed-column records of the mesh files: one record at a time
// through a fixed buffer (no file is held whole in memory), fields parsed by
// their columns, and the one kind of failure the checker reports.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform.h"
#include "textio.h"

namespace malha::report {

// A file that is not what it should be: the message names the file, the line,
// what was expected and what was found.
class CheckFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "FILE, line N: expected E, found F" (line 0: the file as a whole); control
// bytes of the file name as \xNN.
[[noreturn]] void fail(const std::string& file, std::int64_t line, const std::string& expected,
                       const std::string& found);

// The records of one text file, CR LF or LF ended.
class RecordReader {
 public:
  // `shown` names the file in messages. Records of `columns` columns, when
  // not 0, are looked for first (a CR LF right after them); other records
  // are still found, only not as quickly. Only a regular file is read: a
  // FIFO, a socket or a device is refused at once, without waiting for it.
  RecordReader(const std::string& path, std::string shown, int columns = 0);
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // The next record without its line end; false at the end of the file.
  bool next(std::string_view& record);
  // The next record, which must be there; `describe()` says what it should
  // hold (called only when it is missing).
  template <class Describe>
  std::string_view require(const Describe& describe) {
    std::string_view record;
    if (!next(record)) fail_at_end(describe());
    return record;
  }
  [[noreturn]] void fail_at_end(const std::string& what) const;
  // Fails unless the file has no record left; `records` is how many it should hold.
  void expect_end(std::int64_t records);

  std::int64_t line() const { return line_; }
  // The size of the file in bytes as it was opened.
  std::int64_t size() const { return size_; }
  const std::string& shown() const { return shown_; }

  // Fails at the current line.
  [[noreturn]] void fail_here(const std::string& expected, const std::string& found) const;

  // A record of exactly `fields` fields of `width` columns each.
  void expect_fields(std::string_view record, int fields, int width) const;
  // Field `index` (0-based) of width `width`: an integer right-aligned in it.
  std::int32_t integer(std::string_view record, int index, int width) const;
  // Field `index` (0-based) of a record of 25-column reals (E25.15).
  double real(std::string_view record, int index) const;

 private:
  bool refill();
  // Doubles the buffer (to 1 MiB at most), for a record longer than it.
  void grow();

  platform::FileHandle file_ = platform::kNoFile;
  std::string shown_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;  // of buffer_: the file's size, to 1 MiB at most
  std::size_t begin_ = 0, end_ = 0;
  bool at_eof_ = false;
  std::int64_t line_ = 0;
  std::int64_t size_ = 0;
  std::size_t expected_length_ = 0;
};

// The record as a message shows it: between quotes, control bytes as \xNN,
// cut after 60 characters.
std::string quoted(std::string_view record);

// A file name as messages show it: control bytes as \xNN, as malha shows
// them; other bytes unchanged.
std::string shown_name(std::string_view name);

// The length of the valid UTF-8 sequence at text[at] (1 to 4), or 0 when the
// byte there begins none (no overlong form, surrogate or code point beyond
// U+10FFFF is valid).
std::size_t utf8_length(std::string_view text, std::size_t at);

// Text for a picture: control bytes and every byte that is
// not part of a valid UTF-8 sequence as \xNN, the rest unchanged.
std::string printable_utf8(std::string_view text);

// A 25-column E25.15 field ("    1.500000000000000E+00", "    1.000000000000000-150",
// "   -2.500000000000000E-01"): its value, or false when the text is not such a field.
bool parse_e25_15(std::string_view field, double& value);

// The columns of an E25.15 field, as malha's layout has every real field.
inline constexpr int kRealWidth = textio::kE25Width;

// The integer right-aligned in the `width` columns at p (blanks, an optional
// '-', digits): false when the field is not such an integer or not 32-bit.
inline bool parse_integer_field(const char* p, int width, std::int32_t& value) {
  int k = 0;
  while (k < width && p[k] == ' ') ++k;
  const bool negative = k < width && p[k] == '-';
  if (negative) ++k;
  if (k == width) return false;
  std::int64_t v = 0;
  for (; k < width; ++k) {
    const auto d = static_cast<unsigned>(p[k] - '0');
    if (d > 9 || v > (std::int64_t{1} << 32)) return false;
    v = v * 10 + d;
  }
  if (negative) v = -v;
  if (v < std::int64_t{INT32_MIN} || v > std::int64_t{INT32_MAX}) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace malha::report

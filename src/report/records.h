// Reading the fixed-column records of the mesh files: one record at a time
// through a fixed buffer (no file is held whole in memory), fields parsed by
// their columns, and the one kind of failure the checker reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace malha::report {

// A file that is not what it should be: the message names the file, the line,
// what was expected and what was found.
class CheckFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "FILE, line N: expected E, found F" (line 0: the file as a whole).
[[noreturn]] void fail(const std::string& file, std::int64_t line, const std::string& expected,
                       const std::string& found);

// The records of one text file, CR LF or LF ended.
class RecordReader {
 public:
  // `shown` names the file in messages.
  RecordReader(const std::filesystem::path& path, std::string shown);
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // The next record without its line end; false at the end of the file.
  bool next(std::string_view& record);
  // The next record, which must be there (`what` says what it should hold).
  std::string_view require(const std::string& what);
  // Fails unless the file has no record left; `records` is how many it should hold.
  void expect_end(std::int64_t records);

  std::int64_t line() const { return line_; }
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

  std::FILE* file_ = nullptr;
  std::string shown_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  bool at_eof_ = false;
  std::int64_t line_ = 0;
};

// The record as a message shows it: between quotes, control bytes as \xNN,
// cut after 60 characters.
std::string quoted(std::string_view record);

// A 25-column E25.15 field ("    1.500000000000000E+00", "    1.000000000000000-150",
// "   -2.500000000000000E-01"): its value, or false when the text is not such a field.
bool parse_e25_15(std::string_view field, double& value);

inline constexpr int kRealWidth = 25;

}  // namespace malha::report

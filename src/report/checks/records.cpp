#include "report/checks/records.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "textio.h"

namespace malha::report {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;  // also the longest record read
// The least buffer: a small file is read in one call, into a buffer of its
// size, not of the largest (a case of a few cells has ten files of a few
// hundred bytes).
constexpr std::size_t kLeastBufferBytes = 4096;
constexpr std::size_t kShownLength = 60;

// Powers of ten held exactly by a double (10^22 is the last).
constexpr std::array<double, 23> kExactPowers = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kDigitsAfterPoint = 15;
constexpr std::int64_t kExactIntegers = std::int64_t{1} << 53;  // all held by a double

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The digits of text[first, first + count) as a number; false if one is not a digit.
bool digits(std::string_view text, std::size_t first, std::size_t count, std::int64_t& value) {
  value = 0;
  for (std::size_t k = first; k < first + count; ++k) {
    if (!is_digit(text[k])) return false;
    value = value * 10 + (text[k] - '0');
  }
  return true;
}

// Eight ASCII digits at p as a number; false if one of them is not a digit.
// The bytes are taken as one little-endian word and combined pairwise.
bool eight_digits(const char* p, std::int64_t& value) {
  std::uint64_t w = 0;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native != std::endian::little) {
    return digits(std::string_view(p, 8), 0, 8, value);
  }
  constexpr std::uint64_t kZeros = 0x3030303030303030;
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0;
  if ((w & kHigh) != kZeros || ((w + 0x0606060606060606) & kHigh) != kZeros) return false;
  w -= kZeros;
  w = (w * 10) + (w >> 8);
  w = (((w & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((w >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
      32;
  value = static_cast<std::int64_t>(w);
  return true;
}

// The number "d.ddddddddddddddd" (n) times ten to `exponent`, rounded once by
// from_chars; NaN when it is beyond the range of a double.
double from_text(std::string_view n, std::int64_t exponent) {
  std::array<char, 32> text{};
  std::memcpy(text.data(), n.data(), 17);
  text[17] = 'e';
  const auto end = std::to_chars(text.data() + 18, text.data() + text.size(), exponent).ptr;
  double value = 0.0;
  if (std::from_chars(text.data(), end, value).ec != std::errc())
    return std::numeric_limits<double>::quiet_NaN();
  return value;
}

}  // namespace

[[noreturn]] void fail(const std::string& file, std::int64_t line, const std::string& expected,
                       const std::string& found) {
  std::string where = shown_name(file);
  if (line > 0) where += ", line " + std::to_string(line);
  throw CheckFailure(where + ": expected " + expected + ", found " + found);
}

std::string quoted(std::string_view record) {
  std::string out = "'";
  out += textio::escaped(record, {.limit = kShownLength});
  out += '\'';
  return out;
}

namespace {

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

void put_hex(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

}  // namespace

std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned least = 0;  // the smallest code point of that length (no overlong form)
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  unsigned code = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto d = static_cast<unsigned char>(text[at + k]);
    if ((d & 0xC0) != 0x80) return 0;
    code = (code << 6) | (d & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code >= least && code <= 0x10FFFF && !surrogate ? length : 0;
}

std::string shown_name(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (is_control(c))
      put_hex(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string printable_utf8(std::string_view text) {
  std::string out;
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t length = utf8_length(text, k);
    if (length == 0 || (length == 1 && is_control(static_cast<unsigned char>(text[k])))) {
      put_hex(out, static_cast<unsigned char>(text[k]));
      ++k;
    } else {
      out.append(text.substr(k, length));
      k += length;
    }
  }
  return out;
}

// Layout: blanks, an optional '-', one digit, '.', 15 digits, then "E" and a
// sign with two digits, or a sign with three digits (exponents beyond +-99).
// The 16 digits make an integer below 2^53, held exactly; times or over an
// exact power of ten it is rounded once, correctly. Other exponents go
// through from_chars, which rounds correctly too.
bool parse_e25_15(std::string_view field, double& value) {
  if (field.size() != static_cast<std::size_t>(kRealWidth)) return false;
  constexpr std::size_t kNumber = 21;  // "1.500000000000000E+00"
  std::size_t start = field.size() - kNumber;
  bool negative = false;
  if (field[start - 1] == '-') {
    negative = true;
    --start;
  }
  for (std::size_t k = 0; k < start; ++k)
    if (field[k] != ' ') return false;
  if (negative) ++start;
  const std::string_view n = field.substr(start);
  std::int64_t lead = 0, tail = 0, exponent = 0;
  // The 15 digits after the point: eight from n[2], then eight from n[9],
  // whose first (n[9]) belongs to the first eight.
  std::int64_t high = 0, low = 0;
  if (!digits(n, 0, 1, lead) || n[1] != '.' || !eight_digits(n.data() + 2, high) ||
      !eight_digits(n.data() + 9, low))
    return false;
  tail = high * 10'000'000 + (low - (n[9] - '0') * 10'000'000);
  const std::string_view e = n.substr(17);  // "E+00" or "-150"
  std::size_t sign_at = 0;
  if (e[0] == 'E') sign_at = 1;
  if (e[sign_at] != '+' && e[sign_at] != '-') return false;
  if (!digits(e, sign_at + 1, e.size() - sign_at - 1, exponent)) return false;
  if (sign_at == 0 && exponent <= 99) return false;  // two digits take the letter
  if (e[sign_at] == '-') exponent = -exponent;

  const std::int64_t digits16 = lead * 1'000'000'000'000'000 + tail;
  const auto mantissa = static_cast<double>(digits16);
  const std::int64_t scale = exponent - kDigitsAfterPoint;
  const bool exact = digits16 <= kExactIntegers;
  const auto powers = static_cast<std::int64_t>(kExactPowers.size());
  if (digits16 == 0) {
    value = 0.0;
  } else if (exact && scale >= 0 && scale < powers) {
    value = mantissa * kExactPowers[static_cast<std::size_t>(scale)];
  } else if (exact && scale < 0 && -scale < powers) {
    value = mantissa / kExactPowers[static_cast<std::size_t>(-scale)];
  } else {
    value = from_text(n, exponent);
  }
  if (std::isnan(value)) return false;  // beyond the range of a double
  if (negative) value = -value;
  return true;
}

RecordReader::RecordReader(const std::string& path, std::string shown, int columns)
    : shown_(std::move(shown)), expected_length_(static_cast<std::size_t>(columns)) {
  if (const int error = platform::open_for_reading(path, file_); error != 0)
    fail(shown_, 0, "a readable file", platform::error_text(error));
  if (const char* kind = platform::irregular_kind(file_); kind != nullptr) {
    platform::close_file(file_);
    file_ = platform::kNoFile;
    fail(shown_, 0, "a regular file", kind);
  }
  size_ = platform::open_file_size(file_);
  // Room for the whole file and one byte more, so that its end is found by
  // the first read after it; a file that grows while it is read gets more.
  capacity_ =
      size_ < 0 ? kBufferBytes
                : std::clamp(static_cast<std::size_t>(size_) + 1, kLeastBufferBytes, kBufferBytes);
  buffer_.reset(new char[capacity_]);
}

void RecordReader::grow() {
  const std::size_t capacity = std::min(2 * capacity_, kBufferBytes);
  std::unique_ptr<char[]> buffer(new char[capacity]);
  std::memcpy(buffer.get(), buffer_.get(), end_);
  buffer_ = std::move(buffer);
  capacity_ = capacity;
}

RecordReader::~RecordReader() {
  if (file_ != platform::kNoFile) (void)platform::close_file(file_);  // read only: nothing is lost
}

bool RecordReader::refill() {
  if (at_eof_) return false;
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  std::size_t got = 0;
  const int error = platform::read_some(file_, buffer_.get() + end_, capacity_ - end_, got);
  if (error != 0) fail(shown_, line_ + 1, "a readable record", platform::error_text(error));
  if (got == 0) {
    at_eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool RecordReader::next(std::string_view& record) {
  // A record of the expected length is taken without looking for its end;
  // should it hold a line feed, the fields it fails name its first line.
  const std::size_t cr = begin_ + expected_length_;
  if (expected_length_ > 0 && cr + 1 < end_ && buffer_[cr] == '\r' && buffer_[cr + 1] == '\n') {
    record = std::string_view(buffer_.get() + begin_, expected_length_);
    begin_ = cr + 2;
    ++line_;
    return true;
  }
  std::size_t scanned = begin_;
  for (;;) {
    const void* lf = std::memchr(buffer_.get() + scanned, '\n', end_ - scanned);
    if (lf != nullptr) {
      const std::size_t at = static_cast<const char*>(lf) - buffer_.get();
      std::size_t stop = at;
      if (stop > begin_ && buffer_[stop - 1] == '\r') --stop;
      record = std::string_view(buffer_.get() + begin_, stop - begin_);
      begin_ = at + 1;
      ++line_;
      return true;
    }
    const std::size_t pending = end_ - begin_;
    if (pending == kBufferBytes)
      fail(shown_, line_ + 1, "a record of at most " + std::to_string(kBufferBytes) + " bytes",
           "a longer one");
    if (pending == capacity_) grow();
    if (!refill()) {
      if (begin_ == end_) return false;
      // A last record without its line end.
      std::size_t stop = end_;
      if (buffer_[stop - 1] == '\r') --stop;
      record = std::string_view(buffer_.get() + begin_, stop - begin_);
      begin_ = end_;
      ++line_;
      return true;
    }
    scanned = pending;  // refill moved the unread bytes to the front
  }
}

void RecordReader::fail_at_end(const std::string& what) const {
  fail(shown_, line_ + 1, what, "the end of the file");
}

void RecordReader::expect_end(std::int64_t records) {
  std::string_view record;
  if (next(record))
    fail(shown_, line_, std::to_string(records) + " records and then the end of the file",
         "another record " + quoted(record));
}

void RecordReader::fail_here(const std::string& expected, const std::string& found) const {
  fail(shown_, line_, expected, found);
}

void RecordReader::expect_fields(std::string_view record, int fields, int width) const {
  const auto length = static_cast<std::size_t>(fields) * static_cast<std::size_t>(width);
  if (record.size() != length)
    fail_here("a record of " + std::to_string(length) + " columns (" + std::to_string(fields) +
                  " fields of " + std::to_string(width) + ")",
              std::to_string(record.size()) + " columns " + quoted(record));
}

std::int32_t RecordReader::integer(std::string_view record, int index, int width) const {
  const std::string_view field = record.substr(static_cast<std::size_t>(index) * width, width);
  std::int32_t value = 0;
  if (parse_integer_field(field.data(), width, value)) return value;
  fail_here("an integer in columns " + std::to_string(index * width + 1) + "-" +
                std::to_string((index + 1) * width),
            quoted(field));
}

double RecordReader::real(std::string_view record, int index) const {
  const std::string_view field =
      record.substr(static_cast<std::size_t>(index) * kRealWidth, kRealWidth);
  double value = 0.0;
  if (!parse_e25_15(field, value))
    fail_here("a real number of the form 1.234567890123456E+00 in columns " +
                  std::to_string(index * kRealWidth + 1) + "-" +
                  std::to_string((index + 1) * kRealWidth),
              quoted(field));
  return value;
}

}  // namespace malha::report

// Free-format reading: the record reader finds one value per read statement,
// leaves the read position at the next record and hands the value to the
// conversions (conversion.cpp).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "textio.h"
#include "textio/internal.h"

namespace malha::textio {

namespace {

constexpr std::size_t kInputBufferSize = 64 * 1024;

enum class Target { Integer, Real, Text };

const char* target_text(Target target) {
  constexpr const char* kTexts[] = {"an integer", "a real number", "a text"};
  return kTexts[static_cast<int>(target)];
}

class Reader {
 public:
  explicit Reader(Unit& u) : u_(u) {}

  // Next byte without consuming it, or -1 at end of file.
  int peek() {
    if (u_.in_pos == u_.in_len && !refill()) return -1;
    return static_cast<unsigned char>(u_.in[u_.in_pos]);
  }

  void advance() {
    if (u_.in[u_.in_pos] == '\n') ++u_.line;
    ++u_.in_pos;
  }

  // Moves past the next LF, or to end of file.
  void skip_record() {
    for (;;) {
      if (u_.in_pos == u_.in_len && !refill()) return;
      const char* start = u_.in.get() + u_.in_pos;
      const void* lf = std::memchr(start, '\n', u_.in_len - u_.in_pos);
      if (lf != nullptr) {
        u_.in_pos += static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
        ++u_.line;
        return;
      }
      u_.in_pos = u_.in_len;
    }
  }

  std::int64_t line() const { return u_.line; }

  [[noreturn]] void fail(int number, const std::string& message) const {
    const std::string name = u_.name;
    fatal_error(number, Statement::Read, name, message);
  }

  [[noreturn]] void fail_end_of_file(const char* while_doing) const {
    // At the end of the file every byte has been read: a file of a
    // byte-order mark alone, as an editor saves an empty file, is empty.
    const bool nothing_read = u_.in_base + static_cast<std::int64_t>(u_.in_len) ==
                              static_cast<std::int64_t>(u_.byte_order_mark);
    if (nothing_read && !u_.empty_hint.empty()) {
      fail(kErrEndOfFile,
           "the file is empty (end of file before any value; a missing input "
           "file is created empty): " +
               u_.empty_hint);
    }
    fail(kErrEndOfFile,
         std::string("end of file ") + while_doing + " (line " + std::to_string(u_.line) + ")");
  }

 private:
  bool refill() {
    if (u_.in_eof) return false;
    if (!u_.in) u_.in = std::make_unique_for_overwrite<char[]>(kInputBufferSize);
    u_.in_base += static_cast<std::int64_t>(u_.in_len);
    u_.in_pos = u_.in_len = 0;
    std::size_t got = 0;
    if (const int error = platform::read_some(u_.handle, u_.in.get(), kInputBufferSize, got);
        error != 0) {
      fail(kErrReadSystem, "error reading the file at line " + std::to_string(u_.line) + ": " +
                               platform::error_text(error));
    }
    if (got == 0) {
      u_.in_eof = true;
      return false;
    }
    u_.in_len = got;
    if (u_.skip_byte_order_mark) {
      skip_byte_order_mark();
      if (u_.in_pos == u_.in_len) return refill();  // the file may hold no more
    }
    return true;
  }

  // One UTF-8 byte-order mark at the very start of an input file, which
  // some editors write, is no part of its first value.
  void skip_byte_order_mark() {
    static constexpr std::string_view kMark = "\xEF\xBB\xBF";
    u_.skip_byte_order_mark = false;
    if (u_.in_base == 0 && std::string_view(u_.in.get(), u_.in_len).starts_with(kMark)) {
      u_.in_pos = kMark.size();
      u_.byte_order_mark = kMark.size();
    }
  }

  Unit& u_;
};

struct Value {
  // Keeps the start of the value as written, enough for a message.
  void keep_raw(int c) {
    if (raw.size() <= kShownLength) raw.push_back(static_cast<char>(c));
  }

  bool null = false;
  bool quoted = false;
  std::string text;        // the value proper, marks removed from a quoted one
  std::string raw;         // as written, for messages
  std::string count_text;  // the repeat count, when an asterisk was found
  bool counted = false;
  std::int64_t line = 0;
  std::size_t length = 0;  // characters of the value proper, count included
  char ended_by = 0;       // the separator that ended an unquoted value
  std::string went_on;     // after a ',' or '/' that ended it: up to a blank or line end
};

// The values read in part, for take_cut_values().
std::vector<CutValue>& cut_values() {
  static std::vector<CutValue> values;
  return values;
}

// Notes a value read in part when the text after its separator goes on as
// `goes_on` says.
template <class GoesOn>
void note_if_cut(const Unit& u, const Value& v, bool text, GoesOn goes_on) {
  if (v.went_on.empty() || !goes_on(v.went_on.front())) return;
  cut_values().push_back(
      {u.name, v.line, v.raw + v.ended_by + v.went_on, v.text, v.ended_by, text});
}

// No value in a file the program reads comes near this: a longer one is an
// endless line or a device that never ends one, and reading on would only
// exhaust memory.
constexpr std::size_t kMaxValueLength = std::size_t{1} << 20;

// Appends one character to the value proper.
void add_char(const Reader& reader, Value& v, int c) {
  if (++v.length > kMaxValueLength) {
    reader.fail(kErrValueLength, "value " + quoted(v.raw) + " on line " + std::to_string(v.line) +
                                     " is longer than " + std::to_string(kMaxValueLength) +
                                     " characters");
  }
  v.text.push_back(static_cast<char>(c));
}

bool is_separator(int c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/' || c == '\r' || c == '\n';
}

// Whether the separator `c`, just consumed, ended the record: a LF, or a CR,
// with the LF right after it (CR LF is one record end) consumed too. A CR
// alone ends the record as well, so nothing after it is skipped.
bool ended_record(Reader& reader, int c) {
  if (c != '\r') return c == '\n';
  if (reader.peek() == '\n') reader.advance();
  return true;
}

// Reads a quoted value whose opening mark is the next byte; the mark doubled
// stands for itself; line ends inside it are dropped. Consumes the byte after
// the closing mark and tells whether that ended the record (or the file).
bool read_quoted(Reader& reader, Value& v) {
  const int mark = reader.peek();
  reader.advance();
  v.keep_raw(mark);
  const std::int64_t first_line = reader.line();
  for (;;) {
    const int c = reader.peek();
    if (c < 0) {
      reader.fail(kErrEndOfFile, "end of file inside a quoted text that begins on line " +
                                     std::to_string(first_line));
    }
    reader.advance();
    if (c == mark) {
      v.keep_raw(c);
      if (reader.peek() == mark) {
        reader.advance();
        v.keep_raw(c);
        add_char(reader, v, c);
        continue;
      }
      const int after = reader.peek();
      if (after < 0) return true;
      reader.advance();
      return ended_record(reader, after);
    }
    if (c == '\r' || c == '\n') continue;
    v.keep_raw(c);
    add_char(reader, v, c);
  }
}

// Moves past blanks and empty records to the first character of the value
// and returns it.
int skip_to_value(Reader& reader) {
  for (;;) {
    const int c = reader.peek();
    if (c < 0) reader.fail_end_of_file("while reading a value");
    if (c == ' ' || c == '\t') {
      reader.advance();
    } else if (c == '\r' || c == '\n') {
      reader.skip_record();
    } else {
      return c;
    }
  }
}

// Reads the characters of a value up to its separator (consumed), a quoted
// value whole; tells whether the separator ended the record (or the file).
bool read_value_text(Reader& reader, Value& v) {
  for (;;) {
    const int c = reader.peek();
    if ((c == '\'' || c == '"') && v.text.empty() && (v.raw.empty() || v.counted)) {
      v.quoted = true;
      return read_quoted(reader, v);
    }
    if (c < 0) return true;
    reader.advance();
    if (is_separator(c)) {
      v.ended_by = static_cast<char>(c);
      return ended_record(reader, c);
    }
    v.keep_raw(c);
    if (c == '*' && !v.counted) {
      v.counted = true;
      v.count_text = std::move(v.text);
      v.text.clear();
    } else {
      add_char(reader, v, c);
    }
  }
}

// "r*value": r must be a positive integer; "r*" alone is a null value.
void check_repeat_count(const Reader& reader, Value& v) {
  const bool digits_only =
      !v.count_text.empty() && std::all_of(v.count_text.begin(), v.count_text.end(), is_digit);
  if (!digits_only || v.count_text.find_first_not_of('0') == std::string::npos) {
    reader.fail(kErrRepeatCount,
                "invalid repeat count in " + quoted(v.raw) + " on line " + std::to_string(v.line));
  }
  if (!v.quoted && v.text.empty()) v.null = true;
}

// What follows a ',' or a '/' that ended a value, up to a blank or the line
// end, at most enough for a message: the rest of the record is skipped
// anyway.
void keep_what_went_on(Reader& reader, Value& v) {
  for (int c = reader.peek(); c >= 0 && c != ' ' && c != '\t' && c != '\r' && c != '\n';
       c = reader.peek()) {
    if (v.went_on.size() > kShownLength) break;
    v.went_on.push_back(static_cast<char>(c));
    reader.advance();
  }
}

// One read statement up to the conversion: finds the value, then leaves the
// read position at the start of the next record.
Value scan_value(Unit& u) {
  Value v;
  if (u.write_mode) {
    // Records are written at the end of the file: nothing is there to read.
    Reader(u).fail_end_of_file("while reading a value");
  }
  Reader reader(u);
  const int first = skip_to_value(reader);
  v.line = reader.line();
  if (first == ',' || first == '/') {
    reader.advance();
    reader.skip_record();
    v.null = true;
    return v;
  }
  if (!read_value_text(reader, v)) {
    if (v.ended_by == ',' || v.ended_by == '/') keep_what_went_on(reader, v);
    reader.skip_record();
  }
  if (v.counted) check_repeat_count(reader, v);
  return v;
}

[[noreturn]] void fail_conversion(const Unit& u, int number, const Value& v, Target target,
                                  const char* problem) {
  std::string message;
  if (v.quoted) {
    message = "quoted text " + shown(v.raw) + " where " + target_text(target) +
              " is expected on line " + std::to_string(v.line);
  } else {
    message = std::string(problem) + " " + quoted(v.raw) + " on line " + std::to_string(v.line);
  }
  const std::string name = u.name;
  fatal_error(number, Statement::Read, name, message);
}

// What a numeric read reports when its value does not convert.
struct NumberKind {
  Target target;
  int invalid_number;
  const char* invalid_text;
  int overflow_number;
  const char* overflow_text;
};

constexpr NumberKind kInteger{Target::Integer, kErrBadInteger, "invalid integer",
                              kErrIntegerOverflow, "integer outside -2147483648..2147483647:"};
constexpr NumberKind kReal{Target::Real, kErrBadReal, "invalid real number", kErrRealOverflow,
                           "real number too large for a double:"};

// Reads one value and converts it; a null value leaves the target as it is.
template <class T, class Convert>
void read_number(int unit, T& target, const NumberKind& kind, Convert convert) {
  Unit& u = connected_unit(unit, Statement::Read);
  const Value v = scan_value(u);
  if (v.null) return;
  if (v.quoted) fail_conversion(u, kErrQuotedNumber, v, kind.target, "");
  T value{};
  switch (convert(v.text, value)) {
    case Conversion::Ok:
      target = value;
      note_if_cut(u, v, false, [](char c) { return is_digit(c); });
      return;
    case Conversion::Invalid:
      fail_conversion(u, kind.invalid_number, v, kind.target, kind.invalid_text);
    case Conversion::Overflow:
      fail_conversion(u, kind.overflow_number, v, kind.target, kind.overflow_text);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Record reading.

void read_integer(int unit, std::int32_t& target) {
  read_number(unit, target, kInteger, convert_integer);
}

void read_real(int unit, double& target) {
  read_number(unit, target, kReal, convert_real);
}

TextLength read_text(int unit, std::string& target) {
  Unit& u = connected_unit(unit, Statement::Read);
  const Value v = scan_value(u);
  if (v.null) return {};
  const TextLength length = utf8_text_length(v.text, kTextLength);
  target.assign(v.text, 0, length.kept_bytes);
  target.resize(kTextLength, ' ');
  // A ',' right after a text is taken as the start of a remark ("name,remark"),
  // a '/' as part of a path.
  if (v.ended_by == '/') note_if_cut(u, v, true, [](char c) { return !is_separator(c); });
  return length;
}

std::vector<CutValue> take_cut_values() {
  std::vector<CutValue> taken;
  taken.swap(cut_values());
  return taken;
}

}  // namespace malha::textio

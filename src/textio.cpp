// Text I/O: the unit table, the fatal run-time error report, the record
// writer with its format compiler and field renderers, the free-format record
// reader and the command launcher.
#include "textio.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform.h"

namespace malha::textio {

namespace {

constexpr std::size_t kOutputBufferSize = 256 * 1024;
constexpr std::size_t kInputBufferSize = 64 * 1024;
constexpr int kRecordLength = 1024;
constexpr int kMaxGroupDepth = 16;
constexpr std::size_t kShownLength = 40;
// Numbers in a format text above this are refused (no field can be wider
// than a record anyway).
constexpr long long kMaxFormatNumber = 999'999'999;

const char* statement_text(Statement statement) {
  switch (statement) {
    case Statement::Open:
      return "OPEN";
    case Statement::Read:
      return "READ";
    case Statement::Write:
      return "WRITE";
    case Statement::Close:
      return "CLOSE";
    case Statement::Allocate:
      return "ALLOCATE";
  }
  return "?";
}

// A piece of input or format text as a message quotes it: at most 40
// characters ("..." when longer), bytes outside printable ASCII as \xNN.
std::string shown(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  const std::size_t n = std::min(text.size(), kShownLength);
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      result.push_back(static_cast<char>(c));
    } else {
      result += "\\x";
      result.push_back(kHex[c >> 4]);
      result.push_back(kHex[c & 0xF]);
    }
  }
  if (text.size() > kShownLength) result += "...";
  return result;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Joins the pieces of a message.
std::string join(std::initializer_list<std::string_view> pieces) {
  std::string result;
  for (const auto piece : pieces) result += piece;
  return result;
}

std::string quoted(std::string_view text) {
  return join({"'", shown(text), "'"});
}

// ---------------------------------------------------------------------------
// Units.

struct Unit {
  std::string name;
  platform::FileHandle handle = platform::kNoFile;
  platform::Access access = platform::Access::ReadWrite;
  // Records go to the file: set for a created file, and for an existing one
  // by the first write statement, which truncates it at the read position.
  bool write_mode = false;

  std::unique_ptr<char[]> out;
  std::size_t out_used = 0;

  std::unique_ptr<char[]> in;
  std::size_t in_pos = 0;
  std::size_t in_len = 0;
  std::int64_t in_base = 0;  // file offset of in[0]
  bool in_eof = false;
  std::int64_t line = 1;  // line of the read position, counting LF-ended records
};

int flush_output(Unit& u);

void close_all_quietly(std::map<int, Unit>& units) {
  for (auto& [number, u] : units) {
    flush_output(u);
    platform::close_file(u.handle);
  }
  units.clear();
}

// Units still connected when the process ends normally are written out.
struct UnitTable {
  std::map<int, Unit> units;
  UnitTable() = default;
  UnitTable(const UnitTable&) = delete;
  UnitTable& operator=(const UnitTable&) = delete;
  ~UnitTable() { close_all_quietly(units); }
};

UnitTable& unit_table() {
  static UnitTable table;
  return table;
}

std::string unit_label(int unit) {
  return "unit " + std::to_string(unit);
}

Unit& connected_unit(int unit, Statement statement) {
  // cppcheck-suppress constVariable ; the unit found is returned for writing
  auto& units = unit_table().units;
  const auto it = units.find(unit);
  if (it == units.end()) {
    fatal_error(kErrNotConnected, statement, unit_label(unit),
                unit_label(unit) + " is not connected to a file");
  }
  return it->second;
}

// Writes out the buffered records; the buffer is emptied even on failure so
// that nothing is written twice.
int flush_output(Unit& u) {
  if (u.out_used == 0) return 0;
  const int error = platform::write_all(u.handle, u.out.get(), u.out_used);
  u.out_used = 0;
  return error;
}

[[noreturn]] void fail_write(const Unit& u, int error) {
  const std::string name = u.name;
  fatal_error(kErrWriteSystem, Statement::Write, name,
              "error writing the file: " + platform::error_text(error));
}

void append_output(Unit& u, const char* data, std::size_t size) {
  if (!u.out) u.out = std::make_unique_for_overwrite<char[]>(kOutputBufferSize);
  if (u.out_used + size > kOutputBufferSize) {
    if (const int error = flush_output(u); error != 0) fail_write(u, error);
  }
  if (size >= kOutputBufferSize) {
    if (const int error = platform::write_all(u.handle, data, size); error != 0) {
      fail_write(u, error);
    }
    return;
  }
  std::memcpy(u.out.get() + u.out_used, data, size);
  u.out_used += size;
}

// The first write statement on a file that was opened existing truncates it at
// the read position (its start unless records were read from it first).
void enter_write_mode(Unit& u) {
  if (u.write_mode) return;
  if (u.access == platform::Access::ReadOnly) {
    const std::string name = u.name;
    fatal_error(kErrWriteSystem, Statement::Write, name,
                "the file could only be opened for reading, so it cannot be written");
  }
  const std::int64_t position = u.in_base + static_cast<std::int64_t>(u.in_pos);
  if (const int error = platform::truncate_at(u.handle, position); error != 0) {
    const std::string name = u.name;
    fatal_error(kErrWriteSystem, Statement::Write, name,
                "cannot truncate the file for writing: " + platform::error_text(error));
  }
  u.write_mode = true;
  u.in.reset();
  u.in_base = position;
  u.in_pos = u.in_len = 0;
  u.in_eof = true;
}

// ---------------------------------------------------------------------------
// Field renderers.

void append_asterisks(std::string& out, int w) {
  out.append(static_cast<std::size_t>(w), '*');
}

void append_integer_field(std::string& out, std::int32_t value, int w, int m) {
  if (w <= 0) return;
  if (m == 0 && value == 0) {  // Iw.0 writes zero as an empty field
    out.append(static_cast<std::size_t>(w), ' ');
    return;
  }
  const bool negative = value < 0;
  std::uint32_t magnitude =
      negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const long long shown_digits = std::max<long long>(n, m);
  const long long length = shown_digits + (negative ? 1 : 0);
  if (length > w) {
    append_asterisks(out, w);
    return;
  }
  out.append(static_cast<std::size_t>(w - length), ' ');
  if (negative) out.push_back('-');
  out.append(static_cast<std::size_t>(shown_digits - n), '0');
  while (n > 0) out.push_back(digits[--n]);
}

// Class text of a value that is not finite, recognised by its bits alone (no
// floating-point operation touches it, so a signalling NaN raises nothing).
const char* non_finite_text(std::uint64_t bits) {
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 51;
  constexpr std::uint64_t kIndefinite = 0xFFF8000000000000u;
  if ((bits & kFraction) == 0) return "1#INF";
  if (bits == kIndefinite) return "1#IND";
  return (bits & kQuietBit) != 0 ? "1#QNAN" : "1#SNAN";
}

void append_real_field(std::string& out, double value, int w, int d, int e, int k,
                       bool exponent_digits_given) {
  if (w <= 0) return;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kExponentMask = 0x7FF0000000000000u;
  constexpr std::uint64_t kSignBit = 0x8000000000000000u;

  if ((bits & kExponentMask) == kExponentMask) {
    const char* text = non_finite_text(bits);
    const auto n = static_cast<int>(std::strlen(text));
    if (n > w) {
      append_asterisks(out, w);
    } else {
      out += text;
      out.append(static_cast<std::size_t>(w - n), '.');
    }
    return;
  }
  if (d < 0 || k <= -static_cast<long long>(d) || k > static_cast<long long>(d) + 1) {
    append_asterisks(out, w);
    return;
  }

  // Decimal digits: the value is 0.D1D2... times ten to the power x.
  char digits[24];
  int nd = 1;
  int x = 0;
  const bool zero = (bits & ~kSignBit) == 0;
  const bool negative = !zero && (bits & kSignBit) != 0;
  digits[0] = '0';
  if (!zero) {
    // First stage: the exact value correctly rounded to 17 significant digits,
    // as "D.DDDDDDDDDDDDDDDDe±XX".
    const double magnitude = std::bit_cast<double>(bits & ~kSignBit);
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 16);
    const char* mark = std::find(text, result.ptr, 'e');
    digits[0] = text[0];
    std::memcpy(digits + 1, text + 2, 16);
    nd = 17;
    int exponent10 = 0;
    const char* p = mark + 1;
    const bool exponent_negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    for (; p < result.ptr; ++p) exponent10 = exponent10 * 10 + (*p - '0');
    x = (exponent_negative ? -exponent10 : exponent10) + 1;
    while (nd > 1 && digits[nd - 1] == '0') --nd;

    // Second stage: round the string to the digits the field shows (at most
    // 16), looking at the next digit alone.
    const long long s = k >= 1 ? static_cast<long long>(d) + 1 : static_cast<long long>(d) + k;
    const int t = static_cast<int>(std::min<long long>(s, 16));
    if (nd > t) {
      const bool round_up = digits[t] >= '5';
      nd = t;
      if (round_up) {
        int i = t - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
          ++digits[i];
        } else {
          digits[0] = '1';
          ++x;
        }
      }
    }
  }

  // Exponent part.
  const int exponent = zero ? 0 : x - k;
  const unsigned magnitude =
      exponent < 0 ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
  int exponent_digits = 1;
  for (unsigned m = magnitude; m >= 10; m /= 10) ++exponent_digits;
  long long exponent_length;  // letter (if any), sign and digits
  bool letter = true;
  int padded_digits;
  if (exponent_digits_given) {
    if (e <= 0 || exponent_digits > e) {
      append_asterisks(out, w);
      return;
    }
    padded_digits = e;
    exponent_length = 2LL + e;
  } else if (magnitude <= 99) {
    padded_digits = 2;
    exponent_length = 4;
  } else if (magnitude <= 999) {
    letter = false;
    padded_digits = 3;
    exponent_length = 4;
  } else {
    append_asterisks(out, w);
    return;
  }

  // Mantissa: k digits, the point and d-k+1 digits; or, for k <= 0, the point,
  // -k zeros and d+k digits.
  const long long mantissa_length = k >= 1 ? static_cast<long long>(d) + 2 : d + 1LL;
  const long long length = (negative ? 1 : 0) + mantissa_length + exponent_length;
  if (length > w) {
    append_asterisks(out, w);
    return;
  }
  out.append(static_cast<std::size_t>(w - length), ' ');
  if (negative) out.push_back('-');
  const auto digit_at = [&](long long i) { return i < nd ? digits[i] : '0'; };
  if (k >= 1) {
    for (long long i = 0; i < k; ++i) out.push_back(digit_at(i));
    out.push_back('.');
    for (long long i = k; i <= d; ++i) out.push_back(digit_at(i));
  } else {
    out.push_back('.');
    out.append(static_cast<std::size_t>(-k), '0');
    for (long long i = 0; i < d + k; ++i) out.push_back(digit_at(i));
  }
  if (letter) out.push_back('E');
  out.push_back(exponent < 0 ? '-' : '+');
  out.append(static_cast<std::size_t>(padded_digits - exponent_digits), '0');
  char exponent_text[12];
  const auto written =
      std::to_chars(exponent_text, exponent_text + sizeof exponent_text, magnitude);
  out.append(exponent_text, written.ptr);
}

// ---------------------------------------------------------------------------
// Format compiler.

struct Element {
  enum class Kind : unsigned char { Open, Close, Scale, Integer, Real, End };
  Kind kind;
  int a = 0;  // Open: repeat count; Close: index of its Open; Scale: k; I, E: w;
              // End: reversion index
  int b = 0;  // I: m; E: d
  int c = 0;  // E: e
  bool e_given = false;
};

std::string descriptor_text(const Element& el) {
  if (el.kind == Element::Kind::Integer) {
    return el.b == 1 ? join({"I", std::to_string(el.a)})
                     : join({"I", std::to_string(el.a), ".", std::to_string(el.b)});
  }
  return el.e_given ? join({"E", std::to_string(el.a), ".", std::to_string(el.b), "E",
                            std::to_string(el.c)})
                    : join({"E", std::to_string(el.a), ".", std::to_string(el.b)});
}

class FormatCompiler {
 public:
  FormatCompiler(std::string_view text, std::string_view file) : text_(text), file_(file) {}

  // Compiles the text up to the ")" that closes its first "("; the rest of
  // the text is ignored. Blanks are insignificant.
  void compile(std::vector<Element>& elements) {
    std::size_t i = 0;
    while (i < text_.size() && text_[i] == ' ') ++i;
    if (i == text_.size() || text_[i] != '(') fail("it does not begin with \"(\"");
    int depth = 0;
    for (; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == ' ') continue;
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (--depth == 0) break;
      }
      if (depth > 1 || c != '(') source_.push_back(c);
    }
    if (depth != 0) fail("its parentheses are not balanced");

    elements_ = &elements;
    elements.clear();
    parse_list(0);
    if (pos_ != source_.size()) fail("unexpected " + character_named(pos_));
    // The reverted part must hold a data edit descriptor, or items could never
    // be placed.
    const int reversion = last_top_group_ < 0 ? 0 : last_top_group_;
    reverted_part_has_data_ = has_data_from(static_cast<std::size_t>(reversion));
    elements.push_back({Element::Kind::End, reversion});
  }

  bool reverted_part_has_data() const { return reverted_part_has_data_; }

  [[noreturn]] void fail(const std::string& reason) const {
    fatal_error(kErrFormat, Statement::Write, file_,
                "invalid format " + quoted(text_) + ": " + reason);
  }

 private:
  bool at_end() const { return pos_ >= source_.size(); }
  char peek() const { return at_end() ? '\0' : source_[pos_]; }
  static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

  std::string character_named(std::size_t at) const {
    if (at >= source_.size()) return "end of the text";
    return "character " + quoted(std::string_view(&source_[at], 1));
  }

  bool read_number(long long& value) {
    if (at_end() || !is_digit(peek())) return false;
    value = 0;
    while (!at_end() && is_digit(peek())) {
      value = value * 10 + (peek() - '0');
      if (value > kMaxFormatNumber) fail("a number is too large");
      ++pos_;
    }
    return true;
  }

  long long required_number(const char* what) {
    long long value = 0;
    if (!read_number(value))
      fail(std::string(what) + " is missing before " + character_named(pos_));
    return value;
  }

  void emit(const Element& el) { elements_->push_back(el); }

  // Whether the elements from index `first` on hold a data edit descriptor.
  bool has_data_from(std::size_t first) const {
    return std::any_of(elements_->begin() + static_cast<std::ptrdiff_t>(first), elements_->end(),
                       [](const Element& el) {
                         return el.kind == Element::Kind::Integer || el.kind == Element::Kind::Real;
                       });
  }

  // A comma-separated list of items, up to the ")" of its group (not
  // consumed) or the end of the text.
  void parse_list(int depth) {
    if (at_end() || peek() == ')') {
      if (depth > 0) fail("a group is empty");
      return;  // "()" is a format without fields
    }
    for (;;) {
      parse_item(depth);
      if (at_end() || peek() == ')') return;
      if (peek() != ',') fail("unexpected " + character_named(pos_));
      ++pos_;
      if (at_end() || peek() == ')') fail("an edit descriptor is missing after a comma");
    }
  }

  void parse_item(int depth) {
    int sign = 0;
    if (peek() == '+' || peek() == '-') {
      sign = peek() == '-' ? -1 : 1;
      ++pos_;
    }
    long long number = 0;
    const bool has_number = read_number(number);
    const char c = upper(peek());
    if (c == 'P') {
      if (!has_number) fail("a scale factor is missing before \"P\"");
      ++pos_;
      emit({Element::Kind::Scale, static_cast<int>(sign < 0 ? -number : number)});
      // The comma after a P edit descriptor may be left out.
      if (!at_end() && peek() != ',' && peek() != ')') parse_item(depth);
      return;
    }
    if (sign != 0) fail("a sign stands before something other than a scale factor");
    if (has_number && number == 0) fail("a repeat count is 0");
    const int repeat = has_number ? static_cast<int>(number) : 1;
    if (c == '(') {
      if (depth + 1 > kMaxGroupDepth) fail("groups are nested more than 16 levels deep");
      ++pos_;
      const auto open = static_cast<int>(elements_->size());
      if (depth == 0) last_top_group_ = open;
      emit({Element::Kind::Open, repeat});
      parse_list(depth + 1);
      if (peek() != ')') fail("unexpected " + character_named(pos_));
      ++pos_;
      close_group(open);
      return;
    }
    Element el{Element::Kind::Integer};
    if (c == 'I') {
      ++pos_;
      el.a = static_cast<int>(required_number("the width of I"));
      el.b = 1;
      if (peek() == '.') {
        ++pos_;
        el.b = static_cast<int>(required_number("the digit count of I"));
      }
      if (el.a == 0) fail("an I field has width 0");
      if (el.b > el.a) fail("an I field's digit count exceeds its width");
    } else if (c == 'E') {
      ++pos_;
      el.kind = Element::Kind::Real;
      el.a = static_cast<int>(required_number("the width of E"));
      if (peek() != '.') fail("an E field has no \".d\"");
      ++pos_;
      el.b = static_cast<int>(required_number("the digit count of E"));
      el.c = 2;
      if (upper(peek()) == 'E') {
        ++pos_;
        el.c = static_cast<int>(required_number("the exponent digit count of E"));
        el.e_given = true;
        if (el.c == 0) fail("an E field has 0 exponent digits");
      }
      if (el.a == 0) fail("an E field has width 0");
    } else {
      fail(at_end() ? std::string("an edit descriptor is missing at the end")
                    : "edit descriptor " + quoted(std::string_view(&source_[pos_], 1)) +
                          " is not supported");
    }
    if (repeat > 1) {  // "5I10" runs as an unnamed group of five I10
      const auto open = static_cast<int>(elements_->size());
      emit({Element::Kind::Open, repeat});
      emit(el);
      close_group(open);
    } else {
      emit(el);
    }
  }

  void close_group(int open) {
    // A group without data edit descriptors only sets scale factors: once
    // through it is the same as any number of times.
    if (!has_data_from(static_cast<std::size_t>(open) + 1)) {
      (*elements_)[static_cast<std::size_t>(open)].a = 1;
    }
    emit({Element::Kind::Close, open});
  }

  std::string_view text_;
  std::string_view file_;
  std::string source_;  // between the outer parentheses, without blanks
  std::size_t pos_ = 0;
  std::vector<Element>* elements_ = nullptr;
  int last_top_group_ = -1;
  bool reverted_part_has_data_ = false;
};

const char* item_kind_text(const Item& item) {
  return item.kind == Item::Kind::Integer ? "an integer" : "a real";
}

// Appends the records of one write statement to `out`.
void render_statement(std::string& out, std::string_view format_text, std::span<const Item> items,
                      std::string_view file) {
  thread_local std::vector<Element> elements;
  thread_local std::vector<int> remaining;
  FormatCompiler compiler(format_text, file);
  compiler.compile(elements);
  remaining.assign(elements.size(), 0);

  std::size_t next = 0;
  int scale = 0;
  std::size_t record_start = out.size();
  std::size_t pos = 0;
  for (;;) {
    const Element& el = elements[pos];
    switch (el.kind) {
      case Element::Kind::Open:
        remaining[pos] = el.a;
        ++pos;
        break;
      case Element::Kind::Close: {
        const auto open = static_cast<std::size_t>(el.a);
        pos = --remaining[open] > 0 ? open + 1 : pos + 1;
        break;
      }
      case Element::Kind::Scale:
        scale = el.a;
        ++pos;
        break;
      case Element::Kind::Integer:
      case Element::Kind::Real: {
        if (next == items.size()) {
          out += "\r\n";
          return;
        }
        const Item& item = items[next];
        const bool integer_field = el.kind == Element::Kind::Integer;
        if (integer_field != (item.kind == Item::Kind::Integer)) {
          fatal_error(kErrItemType, Statement::Write, file,
                      join({"item ", std::to_string(next + 1), " is ", item_kind_text(item),
                            ", which edit descriptor ", descriptor_text(el), " cannot write"}));
        }
        if (out.size() - record_start + static_cast<std::size_t>(el.a) >
            static_cast<std::size_t>(kRecordLength)) {
          fatal_error(
              kErrRecordLength, Statement::Write, file,
              "a record would be longer than " + std::to_string(kRecordLength) + " characters");
        }
        if (integer_field) {
          append_integer_field(out, item.i, el.a, el.b);
        } else {
          append_real_field(out, item.r, el.a, el.b, el.c, scale, el.e_given);
        }
        ++next;
        ++pos;
        break;
      }
      case Element::Kind::End:
        if (next == items.size()) {
          out += "\r\n";
          return;
        }
        if (!compiler.reverted_part_has_data()) {
          compiler.fail(std::to_string(items.size() - next) +
                        " items remain but the format has no edit descriptor left for them");
        }
        out += "\r\n";
        record_start = out.size();
        pos = static_cast<std::size_t>(el.a);
        break;
    }
  }
}

// ---------------------------------------------------------------------------
// Record reader.

enum class Target { Integer, Real, Text };

const char* target_text(Target target) {
  switch (target) {
    case Target::Integer:
      return "an integer";
    case Target::Real:
      return "a real number";
    case Target::Text:
      return "a text";
  }
  return "?";
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
    return true;
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
};

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

// Reads a quoted value whose opening mark is the next byte; the mark doubled
// stands for itself; line ends inside it are dropped. Consumes the byte after
// the closing mark and tells whether that was the LF ending the record (or
// end of file).
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
      return after == '\n';
    }
    if (c == '\r' || c == '\n') continue;
    v.keep_raw(c);
    add_char(reader, v, c);
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
  int c;
  for (;;) {
    c = reader.peek();
    if (c < 0) reader.fail_end_of_file("while reading a value");
    if (c == ' ' || c == '\t') {
      reader.advance();
    } else if (c == '\r' || c == '\n') {
      reader.skip_record();
    } else {
      break;
    }
  }
  v.line = reader.line();
  if (c == ',' || c == '/') {
    reader.advance();
    reader.skip_record();
    v.null = true;
    return v;
  }

  bool ended_by_lf = false;
  for (;;) {
    c = reader.peek();
    if ((c == '\'' || c == '"') && v.text.empty() && (v.raw.empty() || v.counted)) {
      v.quoted = true;
      ended_by_lf = read_quoted(reader, v);
      break;
    }
    if (c < 0) {
      ended_by_lf = true;
      break;
    }
    reader.advance();
    if (is_separator(c)) {
      ended_by_lf = c == '\n';
      break;
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
  if (!ended_by_lf) reader.skip_record();

  if (v.counted) {
    const bool digits_only =
        !v.count_text.empty() && std::all_of(v.count_text.begin(), v.count_text.end(), is_digit);
    if (!digits_only || v.count_text.find_first_not_of('0') == std::string::npos) {
      reader.fail(kErrRepeatCount, "invalid repeat count in " + quoted(v.raw) + " on line " +
                                       std::to_string(v.line));
    }
    if (!v.quoted && v.text.empty()) v.null = true;  // "r*" alone: a null value
  }
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

enum class Conversion { Ok, Invalid, Overflow };

Conversion convert_integer(std::string_view s, std::int32_t& result) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return Conversion::Invalid;
  std::int64_t magnitude = 0;
  bool too_large = false;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return Conversion::Invalid;
    if (!too_large) {
      magnitude = magnitude * 10 + (s[i] - '0');
      too_large = magnitude > 2147483648LL;
    }
  }
  if (too_large || magnitude > (negative ? 2147483648LL : 2147483647LL)) {
    return Conversion::Overflow;
  }
  result = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return Conversion::Ok;
}

Conversion convert_real(std::string_view s, double& result) {
  constexpr int kMaxSignificant = 25;
  constexpr long long kExponentClamp = 1'000'000;
  std::size_t i = 0;
  const std::size_t n = s.size();
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';

  // Mantissa: keep up to 25 significant digits; `exponent10` is the power of
  // ten of the first significant digit.
  char digits[kMaxSignificant];
  int nd = 0;
  bool any_digit = false;
  bool point = false;
  long long exponent10 = 0;
  long long integer_digits = 0;  // significant digits before the point
  long long leading_zeros = 0;   // zeros after the point before the first significant digit
  for (; i < n; ++i) {
    const char c = s[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any_digit = true;
    const bool significant = nd > 0 || integer_digits > 0 || c != '0';
    if (!significant) {
      if (point) ++leading_zeros;
      continue;
    }
    if (!point) ++integer_digits;
    if (nd < kMaxSignificant) digits[nd++] = c;
  }
  if (!any_digit) return Conversion::Invalid;
  const bool zero = nd == 0;
  exponent10 = integer_digits > 0 ? integer_digits - 1 : -(leading_zeros + 1);

  // Exponent: a letter E, e, D or d with an optional sign, or a sign alone.
  long long exponent = 0;
  if (i < n) {
    const char c = s[i];
    bool exponent_negative = false;
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      if (i < n && (s[i] == '+' || s[i] == '-')) exponent_negative = s[i++] == '-';
    } else if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      ++i;
    } else {
      return Conversion::Invalid;
    }
    if (i == n) return Conversion::Invalid;
    for (; i < n; ++i) {
      if (!is_digit(s[i])) return Conversion::Invalid;
      exponent = std::min(exponent * 10 + (s[i] - '0'), kExponentClamp);
    }
    if (exponent_negative) exponent = -exponent;
  }

  if (zero) {
    result = negative ? -0.0 : 0.0;
    return Conversion::Ok;
  }
  const long long total = exponent10 + exponent;
  if (total > 400) return Conversion::Overflow;
  if (total < -400) {  // far below the smallest subnormal
    result = negative ? -0.0 : 0.0;
    return Conversion::Ok;
  }

  // "D.DDD...e±X", converted to the nearest double.
  char text[kMaxSignificant + 16];
  char* p = text;
  *p++ = digits[0];
  if (nd > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, static_cast<std::size_t>(nd - 1));
    p += nd - 1;
  }
  *p++ = 'e';
  p = std::to_chars(p, text + sizeof text, total).ptr;
  double value = 0.0;
  std::from_chars_result converted;
  {
    const platform::FpTrapsHeld held;
    converted = std::from_chars(text, p, value);
  }
  if (converted.ec == std::errc::result_out_of_range) {
    if (total > 0) return Conversion::Overflow;
    value = 0.0;  // below half the smallest subnormal
  } else if (converted.ec != std::errc() || converted.ptr != p) {
    return Conversion::Invalid;
  }
  result = negative ? -value : value;
  return Conversion::Ok;
}

}  // namespace

// ---------------------------------------------------------------------------
// Fatal report.

std::string format_report(int number, Statement statement, std::string_view file,
                          std::string_view message) {
  char digits[8];
  const int shown_number = number < 0 ? 0 : number % 10000;
  digits[0] = static_cast<char>('0' + shown_number / 1000);
  digits[1] = static_cast<char>('0' + shown_number / 100 % 10);
  digits[2] = static_cast<char>('0' + shown_number / 10 % 10);
  digits[3] = static_cast<char>('0' + shown_number % 10);
  std::string report = "\r\nrun-time error F";
  report.append(digits, 4);
  report += ": ";
  report += statement_text(statement);
  report += "(";
  report += file;
  report += ")\r\n- ";
  report += message;
  report += "\r\n";
  return report;
}

namespace {
FatalHandler fatal_handler = nullptr;
}  // namespace

FatalHandler set_fatal_handler(FatalHandler handler) {
  const FatalHandler previous = fatal_handler;
  fatal_handler = handler;
  return previous;
}

void fatal_error(int number, Statement statement, std::string_view file, std::string_view message) {
  const std::string report = format_report(number, statement, file, message);
  if (fatal_handler != nullptr) {
    close_all_units_quietly();
    fatal_handler(report);
  }
  platform::write_stderr(report.data(), report.size());
  close_all_units_quietly();
  platform::exit_now(1);
}

// ---------------------------------------------------------------------------
// Units.

void open_unit(int unit, std::string_view file_name) {
  std::string name(file_name);
  if (unit <= 0) {
    fatal_error(kErrOpen, Statement::Open, name,
                "unit number " + std::to_string(unit) + " is not a positive number");
  }
  auto& units = unit_table().units;
  if (const auto it = units.find(unit); it != units.end()) {
    // Connecting a unit to the file it already has changes nothing.
    if (it->second.name == name) return;
    close_unit(unit);
  }
  Unit u;
  u.name = name;
  if (platform::file_exists(name)) {
    if (const int error = platform::open_existing(name, u.handle, u.access); error != 0) {
      fatal_error(kErrOpen, Statement::Open, name,
                  "cannot open the file: " + platform::error_text(error));
    }
  } else {
    if (const int error = platform::create_exclusive(name, u.handle); error != 0) {
      fatal_error(kErrOpen, Statement::Open, name,
                  "cannot create the file: " + platform::error_text(error));
    }
    u.write_mode = true;
  }
  units.emplace(unit, std::move(u));
}

void close_unit(int unit) {
  auto& units = unit_table().units;
  const auto it = units.find(unit);
  if (it == units.end()) return;  // closing a unit that is not connected does nothing
  Unit& u = it->second;
  if (const int error = flush_output(u); error != 0) fail_write(u, error);
  const int error = platform::close_file(u.handle);
  const std::string name = u.name;
  units.erase(it);
  if (error != 0) {
    fatal_error(kErrCloseSystem, Statement::Close, name,
                "error closing the file: " + platform::error_text(error));
  }
}

void close_all_units_quietly() {
  close_all_quietly(unit_table().units);
}

// ---------------------------------------------------------------------------
// Record writing.

std::string render_records(std::string_view format_text, std::span<const Item> items,
                           std::string_view file) {
  std::string out;
  render_statement(out, format_text, items, file);
  return out;
}

void write_record(int unit, std::string_view format_text, std::span<const Item> items) {
  Unit& u = connected_unit(unit, Statement::Write);
  thread_local std::string records;
  records.clear();
  render_statement(records, format_text, items, u.name);
  enter_write_mode(u);
  append_output(u, records.data(), records.size());
}

void write_record(int unit, std::string_view format_text, std::initializer_list<Item> items) {
  write_record(unit, format_text, std::span<const Item>(items.begin(), items.size()));
}

void write_free_record(int unit) {
  Unit& u = connected_unit(unit, Statement::Write);
  enter_write_mode(u);
  append_output(u, kFreeRecord.data(), kFreeRecord.size());
}

std::string render_integer_field(std::int32_t value, int w, int m) {
  std::string out;
  append_integer_field(out, value, w, m);
  return out;
}

std::string render_real_field(double value, int w, int d, int e, int k,
                              bool exponent_digits_given) {
  std::string out;
  append_real_field(out, value, w, d, e, k, exponent_digits_given);
  return out;
}

// ---------------------------------------------------------------------------
// Record reading.

void read_integer(int unit, std::int32_t& target) {
  Unit& u = connected_unit(unit, Statement::Read);
  const Value v = scan_value(u);
  if (v.null) return;
  if (v.quoted) fail_conversion(u, kErrQuotedNumber, v, Target::Integer, "");
  std::int32_t value = 0;
  switch (convert_integer(v.text, value)) {
    case Conversion::Ok:
      target = value;
      return;
    case Conversion::Invalid:
      fail_conversion(u, kErrBadInteger, v, Target::Integer, "invalid integer");
    case Conversion::Overflow:
      fail_conversion(u, kErrIntegerOverflow, v, Target::Integer,
                      "integer outside -2147483648..2147483647:");
  }
}

void read_real(int unit, double& target) {
  Unit& u = connected_unit(unit, Statement::Read);
  const Value v = scan_value(u);
  if (v.null) return;
  if (v.quoted) fail_conversion(u, kErrQuotedNumber, v, Target::Real, "");
  double value = 0.0;
  switch (convert_real(v.text, value)) {
    case Conversion::Ok:
      target = value;
      return;
    case Conversion::Invalid:
      fail_conversion(u, kErrBadReal, v, Target::Real, "invalid real number");
    case Conversion::Overflow:
      fail_conversion(u, kErrRealOverflow, v, Target::Real, "real number too large for a double:");
  }
}

void read_text(int unit, std::string& target) {
  Unit& u = connected_unit(unit, Statement::Read);
  const Value v = scan_value(u);
  if (v.null) return;
  target.assign(v.text, 0, std::min(v.text.size(), kTextLength));
  target.resize(kTextLength, ' ');
}

// ---------------------------------------------------------------------------
// Commands.

namespace {
int last_reason = 0;
}  // namespace

int run_command(std::string_view command_text) {
  std::size_t n = command_text.size();
  while (n > 0 && command_text[n - 1] == ' ') --n;
  if (n > kMaxCommandLength) {
    last_reason = 7;
    errno = E2BIG;
    return -1;
  }
  int reason = 0;
  const int result = platform::launch_interpreter(command_text.substr(0, n), reason);
  if (result == -1) last_reason = reason;
  return result;
}

int last_command_error() {
  return last_reason;
}

// ---------------------------------------------------------------------------
// Direct record assembly.

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kTen16 = 10'000'000'000'000'000ull;

inline void put_pair(char* out, unsigned value) {
  std::memcpy(out, kDigitPairs + 2 * value, 2);
}

// Eight decimal digits of value < 10^8, leading zeros included.
inline void put_eight_digits(char* out, std::uint32_t value) {
  const std::uint32_t high = value / 10000, low = value % 10000;
  put_pair(out, high / 100);
  put_pair(out + 2, high % 100);
  put_pair(out + 4, low / 100);
  put_pair(out + 6, low % 100);
}

#if defined(__SIZEOF_INT128__)
using Wide = unsigned __int128;

struct PowersOfFive {
  Wide value[33];
  constexpr PowersOfFive() : value() {
    value[0] = 1;
    for (int p = 1; p <= 32; ++p) value[p] = value[p - 1] * 5;
  }
};
constexpr PowersOfFive kPowersOfFive;

// The first stage of the E conversion done with exact integer arithmetic: the
// positive finite value m * 2^e rounded to 17 significant digits, as the
// integer `digits` in [10^16, 10^17) and the exponent x with
// value = 0.D1D2...D17 * 10^x. Rounding is to nearest on the exact remainder,
// ties to even, as std::to_chars does. (A tie needs a binary fraction that
// ends at the 18th digit, and then the 17th digit is 2 or 7, so the second
// stage never sees the difference between the ways of breaking ties anyway.)
// The method needs m * 5^p in 128 bits, that is 0 <= p <= 32 for the scaling
// 10^p that brings the value to 17 digits: values from about 1e-16 to 1e17.
// Outside that range, and for subnormals, it returns false.
bool seventeen_digits(std::uint64_t bits, std::uint64_t& digits, int& x) {
  constexpr std::uint64_t kTen17 = 100'000'000'000'000'000ull;
  const int biased = static_cast<int>(bits >> 52) & 0x7FF;
  if (biased == 0) return false;
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e = biased - 1075;  // value = m * 2^e, 2^52 <= m < 2^53
  // floor(log10(value)) is k or k + 1 (78913 / 2^18 is log10(2) from below).
  const int k = ((e + 52) * 78913) >> 18;
  int p = 16 - k;  // value * 10^p lies in [10^16, 10^18)
  for (int attempt = 0; attempt < 2; ++attempt, --p) {
    if (p < 0 || p > 32) return false;
    const Wide n = static_cast<Wide>(m) * kPowersOfFive.value[p];  // value * 10^p = n * 2^(p+e)
    const int shift = -(p + e);
    std::uint64_t t;
    Wide remainder = 0, half = 0;
    if (shift <= 0) {
      t = static_cast<std::uint64_t>(n << -shift);
    } else {
      const Wide truncated = n >> shift;
      if (truncated >= kTen17) continue;  // one digit too many: scale by 10^(p-1)
      t = static_cast<std::uint64_t>(truncated);
      remainder = n & ((static_cast<Wide>(1) << shift) - 1);
      half = static_cast<Wide>(1) << (shift - 1);
    }
    if (t >= kTen17) continue;
    if (t < kTen16) return false;  // cannot happen with k as above; be safe
    if (remainder > half || (remainder == half && half != 0 && (t & 1) != 0)) ++t;
    x = 17 - p;
    if (t == kTen17) {  // 99...9.5 rounded up: "1" followed by zeros
      t = kTen16;
      ++x;
    }
    digits = t;
    return true;
  }
  return false;
}
#else
bool seventeen_digits(std::uint64_t, std::uint64_t&, int&) {
  return false;
}
#endif

}  // namespace

char* put_e25_15(char* out, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kSignBit = 0x8000000000000000u;
  if ((bits & ~kSignBit) == 0) {
    std::memcpy(out, "    0.000000000000000E+00", 25);
    return out + 25;
  }
  std::uint64_t digits17 = 0;
  int x = 0;
  if (!seventeen_digits(bits & ~kSignBit, digits17, x)) {
    // Values outside the exact integer method's range, and non-finite ones.
    std::string field;
    append_real_field(field, value, 25, 15, 2, 1, false);
    std::memcpy(out, field.data(), 25);
    return out + 25;
  }
  // Second stage: 16 digits, looking at the 17th alone.
  std::uint64_t digits16 = digits17 / 10;
  if (digits17 % 10 >= 5 && ++digits16 == kTen16) {
    digits16 = kTen16 / 10;
    ++x;
  }
  char text[16];
  put_eight_digits(text, static_cast<std::uint32_t>(digits16 / 100'000'000));
  put_eight_digits(text + 8, static_cast<std::uint32_t>(digits16 % 100'000'000));
  std::memcpy(out, "    ", 4);
  if ((bits & kSignBit) != 0) out[3] = '-';
  out[4] = text[0];
  out[5] = '.';
  std::memcpy(out + 6, text + 1, 15);
  // With 1P the printed exponent is x - 1; in this range it has two digits.
  const int exponent = x - 1;
  out[21] = 'E';
  out[22] = exponent < 0 ? '-' : '+';
  put_pair(out + 23, static_cast<unsigned>(exponent < 0 ? -exponent : exponent));
  return out + 25;
}

char* put_integer_field(char* out, std::int32_t value, int w) {
  const bool negative = value < 0;
  std::uint32_t magnitude =
      negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  // Digits from the right end of the field.
  char* p = out + w;
  do {
    if (p == out) break;
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (magnitude != 0 || (negative && p == out)) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return out + w;
  }
  if (negative) *--p = '-';
  std::memset(out, ' ', static_cast<std::size_t>(p - out));
  return out + w;
}

void write_rendered(int unit, const char* data, std::size_t size) {
  Unit& u = connected_unit(unit, Statement::Write);
  enter_write_mode(u);
  append_output(u, data, size);
}

}  // namespace malha::textio

// The format compiler and the write statement: a format text is compiled into
// a list of elements at every call, then the items are placed under it into
// one or more records.
#include <algorithm>
#include <string>
#include <vector>

#include "textio.h"
#include "textio/internal.h"

namespace malha::textio {

namespace {

constexpr int kMaxGroupDepth = 16;
// Numbers in a format text above this are refused (no field can be wider
// than a record anyway).
constexpr long long kMaxFormatNumber = 999'999'999;

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
      parse_group(depth, repeat);
      return;
    }
    Element el{Element::Kind::Integer};
    if (c == 'I') {
      ++pos_;
      el = integer_descriptor();
    } else if (c == 'E') {
      ++pos_;
      el = real_descriptor();
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

  // A group: its "(" is the next character.
  void parse_group(int depth, int repeat) {
    if (depth + 1 > kMaxGroupDepth) fail("groups are nested more than 16 levels deep");
    ++pos_;
    const auto open = static_cast<int>(elements_->size());
    if (depth == 0) last_top_group_ = open;
    emit({Element::Kind::Open, repeat});
    parse_list(depth + 1);
    if (peek() != ')') fail("unexpected " + character_named(pos_));
    ++pos_;
    close_group(open);
  }

  // "w[.m]" after I.
  Element integer_descriptor() {
    Element el{Element::Kind::Integer};
    el.a = static_cast<int>(required_number("the width of I"));
    el.b = 1;
    if (peek() == '.') {
      ++pos_;
      el.b = static_cast<int>(required_number("the digit count of I"));
    }
    if (el.a == 0) fail("an I field has width 0");
    if (el.b > el.a) fail("an I field's digit count exceeds its width");
    return el;
  }

  // "w.d[Ee]" after E.
  Element real_descriptor() {
    Element el{Element::Kind::Real};
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
    return el;
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

// Appends the field of item `next` under the data edit descriptor `el`,
// `used` bytes into the record.
void place_item(std::string& out, std::size_t used, const Element& el, int scale,
                std::span<const Item> items, std::size_t next, std::string_view file) {
  const Item& item = items[next];
  const bool integer_field = el.kind == Element::Kind::Integer;
  if (integer_field != (item.kind == Item::Kind::Integer)) {
    fatal_error(kErrItemType, Statement::Write, file,
                join({"item ", std::to_string(next + 1), " is ", item_kind_text(item),
                      ", which edit descriptor ", descriptor_text(el), " cannot write"}));
  }
  if (used + static_cast<std::size_t>(el.a) > static_cast<std::size_t>(kRecordLength)) {
    fatal_error(kErrRecordLength, Statement::Write, file,
                "a record would be longer than " + std::to_string(kRecordLength) + " characters");
  }
  if (integer_field) {
    append_integer_field(out, item.i, el.a, el.b);
  } else {
    append_real_field(out, item.r, el.a, el.b, el.c, scale, el.e_given);
  }
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
        place_item(out, out.size() - record_start, el, scale, items, next, file);
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

}  // namespace

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

}  // namespace malha::textio

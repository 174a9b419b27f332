// Declarations the files of the text layer share; callers use textio.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform.h"
#include "textio.h"

namespace malha::textio {

// The longest record a write statement may produce, CR LF not counted.
inline constexpr int kRecordLength = 1024;
// The most characters of input or format text a message quotes.
inline constexpr std::size_t kShownLength = 40;

// ---------------------------------------------------------------------------
// Messages (units.cpp).

// A piece of input or format text as a message quotes it: at most
// kShownLength characters ("..." when longer), bytes outside printable ASCII
// as \xNN.
std::string shown(std::string_view text);
// shown(text) between single quotes.
std::string quoted(std::string_view text);
// Joins the pieces of a message.
std::string join(std::initializer_list<std::string_view> pieces);

inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// ---------------------------------------------------------------------------
// Units (units.cpp).

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
  std::int64_t line = 1;   // line of the read position, counting LF-ended records
  std::string empty_hint;  // what the file must hold, for the report of an empty one
  bool skip_byte_order_mark = false;  // an input file's, by its first read
  std::size_t byte_order_mark = 0;    // bytes of the mark skipped
};

// The unit connected under `unit`; a NOT CONNECTED report naming the
// statement otherwise.
Unit& connected_unit(int unit, Statement statement);

// Appends whole records to the unit's buffer (or, when they are larger than
// it, straight to the file). Failure: WRITE report.
void append_output(Unit& u, const char* data, std::size_t size);

// The first write statement on a file that was opened existing truncates it at
// the read position (its start unless records were read from it first).
void enter_write_mode(Unit& u);

// ---------------------------------------------------------------------------
// Field renderers (fields.cpp).

// Iw.m appended to `out`: w bytes.
void append_integer_field(std::string& out, std::int32_t value, int w, int m);
// Ew.d[Ee] under scale factor k appended to `out`: w bytes.
void append_real_field(std::string& out, double value, int w, int d, int e, int k,
                       bool exponent_digits_given);

// ---------------------------------------------------------------------------
// Conversions of a value as read (conversion.cpp).

enum class Conversion { Ok, Invalid, Overflow };

// An optional sign and decimal digits, within the 32-bit range.
Conversion convert_integer(std::string_view s, std::int32_t& result);
// A real constant as a read statement takes it, to the nearest double.
Conversion convert_real(std::string_view s, double& result);

}  // namespace malha::textio

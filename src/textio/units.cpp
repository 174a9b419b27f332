// Units: the table of connected files with their buffers, the first write
// that truncates an existing file, and the fatal run-time error report that
// writes out every unit before the process ends.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "platform.h"
#include "textio.h"
#include "textio/internal.h"

namespace malha::textio {

namespace {

constexpr std::size_t kOutputBufferSize = 256 * 1024;

const char* statement_text(Statement statement) {
  constexpr const char* kTexts[] = {"OPEN", "READ", "WRITE", "CLOSE", "ALLOCATE", "CONVERGE"};
  return kTexts[static_cast<int>(statement)];
}

// Writes out the buffered records; the buffer is emptied even on failure so
// that nothing is written twice.
int flush_output(Unit& u) {
  if (u.out_used == 0) return 0;
  const int error = platform::write_all(u.handle, u.out.get(), u.out_used);
  u.out_used = 0;
  return error;
}

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

[[noreturn]] void fail_write(const Unit& u, int error) {
  const std::string name = u.name;
  fatal_error(kErrWriteSystem, Statement::Write, name,
              "error writing the file: " + platform::error_text(error));
}

FatalHandler fatal_handler = nullptr;

}  // namespace

// ---------------------------------------------------------------------------
// Messages.

std::string escaped(std::string_view text, const Escaping& how) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  const std::size_t n = std::min(text.size(), how.limit);
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (how.name_line_ends && (c == '\r' || c == '\n' || c == '\\')) {
      result += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\\\";
    } else if ((c >= 0x20 && c < 0x7F) || (c >= 0x80 && how.keep_non_ascii)) {
      result.push_back(static_cast<char>(c));
    } else {
      result += "\\x";
      result.push_back(kHex[c >> 4]);
      result.push_back(kHex[c & 0xF]);
    }
  }
  if (text.size() > n) result += "...";
  return result;
}

std::string shown(std::string_view text) {
  return escaped(text, {.limit = kShownLength});
}

std::string join(std::initializer_list<std::string_view> pieces) {
  std::string result;
  for (const auto piece : pieces) result += piece;
  return result;
}

std::string quoted(std::string_view text) {
  return join({"'", shown(text), "'"});
}

// ---------------------------------------------------------------------------
// Unit buffers.

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

namespace {

void require_write_access(const Unit& u) {
  if (u.access != platform::Access::ReadOnly) return;
  const std::string name = u.name;
  fatal_error(kErrWriteSystem, Statement::Write, name,
              "the file could only be opened for reading, so it cannot be written");
}

}  // namespace

void require_writable(int unit) {
  require_write_access(connected_unit(unit, Statement::Write));
}

void enter_write_mode(Unit& u) {
  if (u.write_mode) return;
  require_write_access(u);
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
  platform::write_failure_note();
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

void open_input_unit(int unit, std::string_view file_name) {
  open_unit(unit, file_name);
  Unit& u = connected_unit(unit, Statement::Open);
  if (const char* kind = platform::irregular_kind(u.handle); kind != nullptr) {
    const std::string name = u.name;
    fatal_error(kErrOpen, Statement::Open, name,
                join({"cannot read the file: it is ", kind, ", not a regular file"}));
  }
  u.skip_byte_order_mark = true;
}

void set_empty_file_hint(int unit, std::string_view hint) {
  connected_unit(unit, Statement::Read).empty_hint = hint;
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

void write_free_record(int unit) {
  Unit& u = connected_unit(unit, Statement::Write);
  enter_write_mode(u);
  append_output(u, kFreeRecord.data(), kFreeRecord.size());
}

bool reserve_output_buffer(int unit) {
  Unit& u = connected_unit(unit, Statement::Write);
  if (!u.out) u.out.reset(new (std::nothrow) char[kOutputBufferSize]);
  return u.out != nullptr;
}

void write_rendered(int unit, const char* data, std::size_t size) {
  Unit& u = connected_unit(unit, Statement::Write);
  enter_write_mode(u);
  append_output(u, data, size);
}

}  // namespace malha::textio

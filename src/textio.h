// Text I/O: free-format reading of one value per record, fixed-column record
// writing under a small subset of edit-descriptor formats, the fatal run-time
// error report, and running commands through the command interpreter.
//
// The implementation is the folder textio/: units.cpp (units and the fatal
// report), format.cpp (format compiler and write statement), fields.cpp and
// real_field.h (field renderers), reader.cpp and conversion.cpp (reading),
// commands.cpp, and records.cpp (direct record assembly).
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace malha::textio {

// ---------------------------------------------------------------------------
// Fatal run-time error report.
//
// Written to standard error as
//   CR LF "run-time error F" NNNN ": " STATEMENT "(" file ")" CR LF "- " message CR LF
// after which the process ends with exit status 1. Before exiting, the records
// buffered on every open unit are written out (best effort), so files written
// before the failure keep what reached them.

enum class Statement { Open, Read, Write, Close, Allocate, Converge };

// Error numbers (the four digits after "F").
inline constexpr int kErrOpen = 6401;             // file cannot be opened or created
inline constexpr int kErrEndOfFile = 6501;        // end of file while looking for a value
inline constexpr int kErrReadSystem = 6502;       // read error reported by the system
inline constexpr int kErrBadInteger = 6503;       // value is not an integer
inline constexpr int kErrIntegerOverflow = 6504;  // integer outside the 32-bit range
inline constexpr int kErrBadReal = 6505;          // value is not a real number
inline constexpr int kErrRealOverflow = 6506;     // real too large for a double
inline constexpr int kErrRepeatCount = 6507;      // repeat count zero or not an integer
inline constexpr int kErrQuotedNumber = 6508;     // quoted text where a number is expected
inline constexpr int kErrValueLength = 6509;      // value longer than any file needs
inline constexpr int kErrCaseValue = 6510;        // case value outside what a run can use
inline constexpr int kErrWriteSystem = 6601;      // write error reported by the system
inline constexpr int kErrItemType = 6602;         // item does not match its edit descriptor
inline constexpr int kErrFormat = 6603;           // format text outside the supported subset
inline constexpr int kErrRecordLength = 6604;     // record longer than 1024 characters
inline constexpr int kErrNotConnected = 6605;     // unit not connected
inline constexpr int kErrCloseSystem = 6701;      // close error reported by the system
inline constexpr int kErrAllocate = 6801;         // storage for an array cannot be had
inline constexpr int kErrNotConverged = 6901;     // smoothing to convergence failed

// The report bytes, without writing them (for tests and for the handlers).
std::string format_report(int number, Statement statement, std::string_view file,
                          std::string_view message);

// Writes the report, flushes every open unit (ignoring further errors), and
// ends the process with exit status 1.
[[noreturn]] void fatal_error(int number, Statement statement, std::string_view file,
                              std::string_view message);

// For fuzzing and in-process tests only; the program never sets it. When set,
// fatal_error closes every unit quietly and hands the report to the handler
// instead of writing it and ending the process; the handler must not return
// (it throws). Returns the handler it replaces.
using FatalHandler = void (*)(const std::string& report);
FatalHandler set_fatal_handler(FatalHandler handler);

// ---------------------------------------------------------------------------
// Text in messages.

// How escaped() shows a text.
struct Escaping {
  // Bytes 0x80 to 0xFF kept as they are (UTF-8 text, such as a case name);
  // otherwise shown as \xNN like the control bytes.
  bool keep_non_ascii = false;
  // CR, LF and the backslash as \r, \n and \\, so that distinct texts stay
  // distinct; otherwise CR and LF are control bytes and the backslash is kept.
  bool name_line_ends = false;
  // At most this many bytes of the text, followed by "..." when it is longer.
  std::size_t limit = std::string_view::npos;
};

// `text` as a message shows it: control bytes (below 0x20, and 0x7F) as
// \xNN with upper-case hex digits, printable ASCII as it is, the rest as
// `how` says. Every message of both programs that quotes bytes it has not
// checked goes through here.
std::string escaped(std::string_view text, const Escaping& how = {});

// printf-style formatting into a std::string, whatever its length.
template <class... Args>
std::string formatted(const char* pattern, Args... args) {
  const int n = std::snprintf(nullptr, 0, pattern, args...);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  (void)std::snprintf(text.data(), text.size(), pattern, args...);
  text.pop_back();
  return text;
}

// ---------------------------------------------------------------------------
// Units.

// Connects `unit` to the named file (the name is used unchanged):
//  - a unit already connected is closed first;
//  - an existing file is opened without truncation, positioned at its start;
//    it is truncated at the first write statement;
//  - a missing file is created exclusively with read and write permission;
//  - access is read-write, falling back to read-only, then write-only.
// Failure: OPEN report.
void open_unit(int unit, std::string_view file_name);

// Connects `unit` to a file the program reads, as open_unit does, but to a
// regular file only: a FIFO, a socket or a device (which could block the
// reader or never end) is refused with an OPEN report, found on the open
// file, which is opened without waiting for anything. The first read skips
// one UTF-8 byte-order mark at the start of the file.
void open_input_unit(int unit, std::string_view file_name);

// Ends the run with the WRITE report its first write statement would give
// when the file connected to `unit` could only be opened for reading. A
// writer of several files calls it at each opening, so that such a file
// stops the run before any file is cut.
void require_writable(int unit);

// Tells what the file connected to `unit` must hold: a read that finds the
// file empty (a missing input file is created empty) then reports that, with
// this hint, instead of a plain end of file. Same report number.
void set_empty_file_hint(int unit, std::string_view hint);

// Writes out everything buffered, closes the file and frees the unit.
// Failure of the final write: WRITE report; of the close itself: CLOSE report.
void close_unit(int unit);

// Flushes and closes every connected unit without reporting errors (used on
// the way out of a failed run).
void close_all_units_quietly();

// ---------------------------------------------------------------------------
// Record writing.

struct Item {
  enum class Kind { Integer, Real };
  Kind kind;
  std::int32_t i;
  double r;

  // cppcheck-suppress noExplicitConstructor ; implicit by design
  Item(std::int32_t v) : kind(Kind::Integer), i(v), r(0.0) {}  // NOLINT: implicit by design
  // cppcheck-suppress noExplicitConstructor ; implicit by design
  Item(double v) : kind(Kind::Real), i(0), r(v) {}  // NOLINT: implicit by design
};

// One formatted write statement: renders the items under the format (compiled
// at every call) into one or more records, each ended by CR LF, and appends
// them to the unit's file.
void write_record(int unit, std::string_view format_text, std::span<const Item> items);
void write_record(int unit, std::string_view format_text, std::initializer_list<Item> items);

// One free-format write statement without items: the record " " CR LF.
void write_free_record(int unit);

// The bytes one write statement produces, CR LF included (no unit involved).
// Format and item errors end the run with a WRITE report naming `file`.
std::string render_records(std::string_view format_text, std::span<const Item> items,
                           std::string_view file = "");

// Field renderers (exposed for tests and benchmarks).
// Iw.m: right-aligned in w columns; w asterisks when it does not fit.
std::string render_integer_field(std::int32_t value, int w, int m);
// Ew.d[Ee] with scale factor k: right-aligned in w columns; w asterisks when it
// does not fit. `exponent_digits_given` tells whether "Ee" was written.
std::string render_real_field(double value, int w, int d, int e, int k,
                              bool exponent_digits_given = false);

// ---------------------------------------------------------------------------
// Direct record assembly for the fixed formats of the output files. Each put_
// function writes exactly the bytes write_record would write for the same
// items and returns the end of what it wrote; no format text is compiled.

inline constexpr int kE25Width = 25;                      // one field of E25.15
inline constexpr int kRecordEndBytes = 2;                 // CR LF
inline constexpr std::string_view kFreeRecord = " \r\n";  // a free-format record without items

// One field of "(1P,E25.15)" or "(2(1P,E25.15))": kE25Width bytes.
char* put_e25_15(char* out, double value);
// The double a reader gets back from that field (16 significant digits, read
// with correct rounding, as malha-report reads them). It writes the same
// field again: a value taken through it once is what the files hold.
double as_written_e25_15(double value);
// One Iw field (m = 1): w bytes.
char* put_integer_field(char* out, std::int32_t value, int w);
// The record end, CR LF.
inline char* put_record_end(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}
// "(2(1P,E25.15))" with two items: one 52-byte record, CR LF included.
inline char* put_real_pair_record(char* out, double a, double b) {
  return put_record_end(put_e25_15(put_e25_15(out, a), b));
}

// Appends records already rendered (whole records, CR LF included) to the
// unit as one write statement would: the first write on an existing file
// truncates it, the bytes go through the unit's buffer (or straight to the
// file when they are larger than it), and failures give the same reports.
void write_rendered(int unit, const char* data, std::size_t size);

// Gets the unit's output buffer now rather than at its first write; false,
// with nothing else changed, when the storage cannot be had. For a writer
// that must not run out of storage once it has begun to write.
bool reserve_output_buffer(int unit);

// ---------------------------------------------------------------------------
// Free-format reading: one value per read statement; the read position then
// stands at the start of the record after the one that held the value. A null
// value ("," or "/" before any character of the value) leaves the target
// unchanged. Failures end the run with a READ report naming the line.

void read_integer(int unit, std::int32_t& target);
void read_real(int unit, double& target);
inline constexpr std::size_t kTextLength = 100;

// A value a read statement took in part: it ended at a ',' or a '/' (both
// separators) that the value went straight on after: a number followed by a
// digit ("0,5" is read as 0, a decimal comma; "1/2" as 1), a text ended by a
// '/' followed by anything but a separator ("meshes/l120" is read as
// "meshes"; "name,remark" is taken as meant). The reading
// stands; the program tells its user.
struct CutValue {
  std::string file;
  std::int64_t line = 0;
  std::string written;  // the value as written, up to the next blank or line end
  std::string read;     // the part that was read
  char separator = 0;   // ',' or '/'
  bool text = false;    // read as a text, not as a number
};

// The values read in part since the last call, in the order read; forgets them.
std::vector<CutValue> take_cut_values();

// The length of a text in characters: UTF-8 characters when the whole text
// is valid UTF-8, else its bytes; and of its first characters that fit in
// `limit` bytes (whole characters: a cut never splits one).
struct TextLength {
  std::size_t written = 0;     // characters of the text
  std::size_t kept = 0;        // characters that fit
  std::size_t kept_bytes = 0;  // their bytes
  bool cut() const { return kept < written; }
};
TextLength utf8_text_length(std::string_view text, std::size_t limit);

// `target` receives exactly 100 bytes: the first characters of the value
// that fit in them, blank-filled on the right. Returns the value's length
// (all 0 for a null value).
TextLength read_text(int unit, std::string& target);

// ---------------------------------------------------------------------------
// Commands.

// Runs the command text through the command interpreter and waits for it:
// trailing blanks are dropped; a trimmed text longer than 1024 characters is
// not run. Returns the interpreter's exit code, or -1 when nothing could be
// started; the reason is then last_command_error(): 2 (no such file),
// 7 (argument list too long), 8 (not an executable format) or 12 (any other).
// When the user stops the command (Ctrl-C), the process stops too; with
// `interrupted_by` it goes on and learns the signal instead (see
// platform::launch_interpreter).
int run_command(std::string_view command_text, int* interrupted_by = nullptr);
int last_command_error();
// The time spent waiting for the commands run so far (the editor, the
// plotter), in seconds.
double command_seconds();

inline constexpr std::size_t kMaxCommandLength = 1024;

}  // namespace malha::textio

// The small set of operating-system services the program needs: files,
// process launching through the command interpreter, floating-point traps and
// raw writes to standard error. One implementation per platform
// (platform_posix.cpp, platform_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace malha::platform {

// ---------------------------------------------------------------------------
// Floating-point environment.

// Sets double precision with round to nearest, enables traps for invalid
// operation, division by zero and overflow (underflow, denormal and inexact
// stay silent) and installs the handler that writes
//   CR LF "run-time error M6101: MATH" CR LF "- floating-point error: invalid" CR LF
// (M6103 "divide by zero", M6104 "overflow") and ends the process with status 1.
void install_fp_traps();

// Whether the traps are currently enabled.
bool fp_traps_enabled();

// Holds the traps for its lifetime (for library calls that may legitimately
// raise a flag); on destruction clears the flags it raised and restores the
// traps as they were.
class FpTrapsHeld {
 public:
  FpTrapsHeld();
  ~FpTrapsHeld();
  FpTrapsHeld(const FpTrapsHeld&) = delete;
  FpTrapsHeld& operator=(const FpTrapsHeld&) = delete;

 private:
  unsigned saved_;
};

// ---------------------------------------------------------------------------
// Standard error.

// Writes all bytes to standard error (async-signal-safe on POSIX).
void write_stderr(const char* data, std::size_t size);

// Ends the process at once with the given status, without running handlers.
[[noreturn]] void exit_now(int status);

// Whether standard error is a terminal (a console on Windows), where a status
// line can be rewritten in place. False for files, pipes and null devices.
bool stderr_is_terminal();

// The width in columns of the terminal standard error is, or 0 when it is not
// a terminal or its width cannot be told.
int stderr_columns();

// ---------------------------------------------------------------------------
// Memory.

// The machine's physical memory in bytes, or 0 when it cannot be told.
std::uint64_t physical_memory_bytes();

// ---------------------------------------------------------------------------
// Files. Handles are small non-negative integers; -1 means none. Every
// function that can fail returns 0 on success or a system error code, whose
// text error_text() gives.

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

enum class Access { ReadWrite, ReadOnly, WriteOnly };

bool file_exists(const std::string& name);

// Opens an existing file without truncation, trying read-write, then
// read-only, then write-only; `access` tells which one succeeded. The file
// stays open for reading and writing by other processes. The error returned
// when all three fail is that of the first attempt.
int open_existing(const std::string& name, FileHandle& handle, Access& access);

// Creates the file exclusively (fails if it exists) for reading and writing,
// with read and write permission.
int create_exclusive(const std::string& name, FileHandle& handle);

// Reads up to `size` bytes; `got` is 0 at end of file.
int read_some(FileHandle handle, char* buffer, std::size_t size, std::size_t& got);

// Writes all bytes (retrying short writes).
int write_all(FileHandle handle, const char* data, std::size_t size);

// Truncates the file at `position` and moves the file position there.
int truncate_at(FileHandle handle, std::int64_t position);

int close_file(FileHandle handle);

// A short description of a system error code.
std::string error_text(int code);

// The size of a file in bytes, or -1 when it cannot be told.
std::int64_t file_size(const std::string& name);

// The folder that holds the running program, without a trailing separator,
// or "" when it cannot be told.
std::string program_folder();

// ---------------------------------------------------------------------------
// File names. What the program checks and quotes everywhere (slashes, control
// characters, the characters a command needs no quotes for) stays with its
// callers; these are the rules that differ between platforms.

// Why a file name cannot hold `c` here ("cannot stand in a file name", or
// "the command interpreter would expand" for a character expanded even
// between quotes), or nullptr when it can.
const char* refused_name_char(unsigned char c);

// Whether `stem`, whatever extension follows it, names a device rather than a
// file (CON, NUL, COM1, ... on Windows; never on POSIX).
bool is_device_name(std::string_view stem);

// Whether two names are the same file name (Windows does not tell upper from
// lower case; POSIX compares bytes).
bool same_file_name(std::string_view a, std::string_view b);

// `name` quoted so that the command interpreter passes it on as one word,
// every byte unchanged.
std::string quoted_for_interpreter(std::string_view name);

// ---------------------------------------------------------------------------
// Processes.

// Starts the command interpreter on the (already trimmed) command text and
// waits for it. The interpreter is COMSPEC when set and not empty (a value
// over 260 characters fails with reason 2), else the platform's default.
// Returns the interpreter's exit code (on POSIX, 128 + the signal number when
// a signal ended it), or -1 with `reason` set to 2, 8 or 12 when nothing could
// be started. On POSIX, while the interpreter runs, SIGINT and SIGQUIT are
// ignored (they reach the command, as with system()); when the interpreter was
// ended by SIGINT, SIGQUIT, SIGHUP or SIGTERM, the user stopped it, so the
// process writes a line saying so and ends itself by the same signal.
int launch_interpreter(std::string_view command, int& reason);

// A folder where the commands launch_interpreter starts find programs after
// every folder of PATH ("" for none, the default). On POSIX it is appended to
// the PATH of the command's environment (a program of the same name on PATH
// still wins; PATH is left as it is when it names the folder already, or when
// the folder's name holds the separator ':'); this process's own PATH stays as
// it is. The Windows commands name programs of the system, and it is ignored.
void set_command_path_fallback(std::string folder);

}  // namespace malha::platform

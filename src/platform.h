// The small set of operating-system services the program needs: files,
// process launching through the command interpreter, floating-point traps and
// raw writes to standard error. One implementation per platform, in
// src/platform/posix/ and src/platform/windows/, split the same way on both
// sides (traps, process, files, folders, names, stops, commands), over what
// src/platform/temporary.cpp writes once for both.
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

// Lines that follow the report of a failure on standard error (a fatal
// report or a trapped floating-point error): what the run noticed before it
// failed that may be the cause. Kept in a fixed buffer the trap handler can
// write, its last complete line kept when the lines are longer; "" for none.
void set_failure_note(std::string_view note);
// Writes the note (async-signal-safe on POSIX).
void write_failure_note();

// Lets a write beyond the file-size limit (ulimit -f) fail with the error
// "file too large", reported as any failed write, instead of ending the
// process by SIGXFSZ with its files half written. A handler that does nothing,
// not SIG_IGN: a command the program starts gets the signal's default back.
// Nothing to do on Windows, which has no such signal.
void catch_file_size_signal();

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

// Opens an existing file for reading only (a directory is refused, EISDIR on
// POSIX). The file stays open for reading and writing by other processes.
int open_for_reading(const std::string& name, FileHandle& handle);

// Both openings above return at once whatever the file is: a FIFO without a
// writer or a device that waits for a line opens without waiting.

// What an open file is when it is not a regular file ("a FIFO", "a socket",
// "a character device", "a block device", "a directory"; on Windows "a
// device" or "a pipe"), or nullptr for a regular file. The program reads
// regular files only: a FIFO may block its reader for ever, a device may
// never end, and neither has a size to check counts against.
const char* irregular_kind(FileHandle handle);

// The size of an open file in bytes, or -1 when it cannot be told.
std::int64_t open_file_size(FileHandle handle);

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

// What a name stands for, the name itself looked at (a final symbolic link is
// not followed): nothing, a regular file, a folder, a symbolic link (a
// reparse point on Windows) or anything else (a device, a pipe, a socket).
enum class FileKind { Missing, Regular, Folder, Link, Other };
FileKind file_kind(const std::string& name);

// The identity of the file a name leads to (links followed): two names with
// the same identity are the same file, whether through a symbolic or a hard
// link. False when the name leads to no file.
struct FileIdentity {
  std::uint64_t device = 0, file = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool file_identity(const std::string& name, FileIdentity& identity);

// Creates a new file exclusively, readable and writable by the user only,
// named `prefix`, six characters no other file there has, then `suffix`;
// `name` receives its name. `prefix` holds the folder.
int create_temporary(const std::string& prefix, const std::string& suffix, FileHandle& handle,
                     std::string& name);

// The folder for scratch files (TMPDIR, TEMP, ... or the system's when the
// variable names no folder), as an absolute path without a trailing separator.
std::string temporary_folder();

// Gives the file `from` the name `to` in one step, replacing the file of that
// name (on POSIX, a rename in the same folder is atomic: a reader sees the old
// file or the new one, never a part).
int replace_file(const std::string& from, const std::string& to);

int remove_file(const std::string& name);

// Whether `c` separates the folders of a path ('/' everywhere; '\\' too on
// Windows).
bool is_path_separator(char c);

// The program a command interpreter would start for the command word
// `program` (searched on PATH, and with ".exe" in the current folder first on
// Windows), or "" when there is none.
std::string find_on_path(std::string_view program);

// ---------------------------------------------------------------------------
// Files removed when the process is stopped.
//
// A temporary file the program means to rename or remove is watched while it
// exists: should the process be stopped first (Ctrl-C, a closed terminal, a
// request to terminate, a command the user stopped), it is removed on the way
// out. At most kWatchedFiles at once; watch_temporary returns the slot to
// forget it by, or -1 when every slot is taken or the name is too long (the
// file is then not removed on a stop).
inline constexpr int kWatchedFiles = 16;
int watch_temporary(const std::string& name);
void forget_temporary(int slot);

// Removes the watched files, writes `message` to standard error and ends the
// process by `signal` as if it had not been caught (no core file).
[[noreturn]] void stop_by_signal(int signal, std::string_view message);

// The name of a signal by which a user stops a program ("SIGINT"), or
// nullptr for any other.
const char* stop_signal_name(int signal);

// The character between the folders of a path ('/', or '\\' on Windows).
char folder_separator();

// ---------------------------------------------------------------------------
// The lock of the working folder.

// Takes, for the rest of the process, the lock that lets one process at a
// time work in the current folder: Held, or HeldByAnother when another
// process has it, or Unavailable when the folder cannot be locked (a file
// system without locks, a folder that cannot be opened). The lock ends with
// the process, however it ends. On POSIX it is an advisory lock on the
// folder itself; on Windows the file kRunLockFile, opened for no other
// process and deleted by the system when the process ends.
enum class FolderLock { Held, HeldByAnother, Unavailable };
FolderLock lock_working_folder();
inline constexpr char kRunLockFile[] = "malha.lock";

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

// Whether quoted_for_interpreter(word) reaches the command as `word`, every
// byte unchanged: always on POSIX; on Windows, not for a word that holds '"',
// '%' (expanded even between quotes) or a control byte, or ends in '\\'.
bool interpreter_passes(std::string_view word);

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
//
// With `interrupted_by`, the process does not stop itself: *interrupted_by
// receives the stop signal that ended the interpreter or that this process
// received while the command ran (a command such as gnuplot may catch Ctrl-C
// and end with a status of its own), else 0; the caller then stops with
// stop_by_signal. On Windows it stays 0: Ctrl-C reaches both processes there.
int launch_interpreter(std::string_view command, int& reason, int* interrupted_by = nullptr);

// How the commands run here, for the help text: lines of at most 79 columns,
// each ending in a line feed; "STANDINS" stands for the folder of the
// installed stand-ins for the editor and the plotter, where there are any.
std::string_view commands_help();

// A folder where the commands launch_interpreter starts find programs after
// every folder of PATH ("" for none, the default). On POSIX it is appended to
// the PATH of the command's environment (a program of the same name on PATH
// still wins; PATH is left as it is when it names the folder already, or when
// the folder's name holds the separator ':'); this process's own PATH stays as
// it is. The Windows commands name programs of the system, and it is ignored.
void set_command_path_fallback(std::string folder);

}  // namespace malha::platform

// Windows implementation of the platform layer (Win32 API; MinGW-w64 or MSVC).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <float.h>
#if defined(_M_X64) || defined(__x86_64__)
// Every double operation runs on the SSE unit; the traps are set in MXCSR.
#include <xmmintrin.h>
#define MALHA_SSE_ONLY 1
#else
// 32-bit x86: the C runtime sets the x87 and the SSE control words together.
#define MALHA_SSE_ONLY 0
#endif

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "platform_internal.h"

namespace malha::platform {

namespace {

constexpr char kReportInvalid[] =
    "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n";
constexpr char kReportDivide[] =
    "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n";
constexpr char kReportOverflow[] =
    "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n";

// An SSE fault may arrive as STATUS_FLOAT_MULTIPLE_TRAPS, with its kind only in
// the MXCSR flags, rather than under a code of its own; older SDK headers do
// not name these codes.
constexpr DWORD kFloatMultipleTraps = 0xC00002B5;
constexpr DWORD kFloatMultipleFaults = 0xC00002B4;

#if MALHA_SSE_ONLY
// MXCSR: exception flags in bits 0-5, their masks in bits 7-12, rounding in
// bits 13-14, flush-to-zero in bit 15, denormals-are-zero in bit 6.
constexpr unsigned kInvalidFlag = 0x0001;
constexpr unsigned kDivideFlag = 0x0004;
constexpr unsigned kOverflowFlag = 0x0008;
constexpr unsigned kAllFlags = 0x003F;
constexpr unsigned kTrappedMasks = (kInvalidFlag | kDivideFlag | kOverflowFlag) << 7;
constexpr unsigned kAllMasks = kAllFlags << 7;
constexpr unsigned kRounding = 0x6000;
constexpr unsigned kFlushToZero = 0x8000;
constexpr unsigned kDenormalsAreZero = 0x0040;

// Bits of the MXCSR masks that are clear, as flags.
unsigned unmasked_flags(unsigned mxcsr) {
  return (~mxcsr & kAllMasks) >> 7;
}
#else
// The x87 status bits have the values of the mask bits (_SW_INVALID is
// _EM_INVALID, and so on); MinGW's header names only the latter.
constexpr unsigned kInvalidFlag = _EM_INVALID;
constexpr unsigned kDivideFlag = _EM_ZERODIVIDE;
constexpr unsigned kOverflowFlag = _EM_OVERFLOW;
constexpr unsigned kTrappedMasks = kInvalidFlag | kDivideFlag | kOverflowFlag;
#endif

// The most bytes one ReadFile or WriteFile call is asked to move.
DWORD chunk_of(std::size_t size) {
  return size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
}

// The report for the floating-point fault an exception stands for, or nullptr
// when it is none of the trapped kinds (the exception is not ours).
const char* fault_report(const EXCEPTION_POINTERS* pointers, std::size_t& size) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  const char* report = nullptr;
  switch (code) {
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
      report = kReportInvalid;
      break;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      report = kReportDivide;
      break;
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_INT_OVERFLOW:
      report = kReportOverflow;
      break;
    case kFloatMultipleTraps:
    case kFloatMultipleFaults: {
      // An SSE fault: the kind is in the flags of the faulting thread's MXCSR,
      // among those whose trap is enabled (on 32-bit x86, in the status the C
      // runtime reports). An invalid operation sets only its own flag; an
      // overflow also sets inexact, which is never trapped.
#if MALHA_SSE_ONLY
      const unsigned mxcsr = pointers->ContextRecord->MxCsr;
      const unsigned raised = mxcsr & unmasked_flags(mxcsr);
#else
      const unsigned raised = _statusfp();
#endif
      if (raised & kInvalidFlag)
        report = kReportInvalid;
      else if (raised & kDivideFlag)
        report = kReportDivide;
      else if (raised & kOverflowFlag)
        report = kReportOverflow;
      else
        report = kReportInvalid;
      break;
    }
    default:
      return nullptr;
  }
  size = std::strlen(report);
  return report;
}

// Masks every floating-point exception and clears the flags, so that the
// handler cannot fault again.
void mask_all() {
#if MALHA_SSE_ONLY
  _mm_setcsr((_mm_getcsr() | kAllMasks) & ~kAllFlags);
#else
  _clearfp();
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _MCW_EM, _MCW_EM);
#endif
}

// Set by the first fault: when two threads trap at once, the first writes
// the report and ends the process, and the second waits for that end without
// writing a second report.
std::atomic_flag report_claimed = ATOMIC_FLAG_INIT;

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
  std::size_t size = 0;
  const char* report = fault_report(pointers, size);
  if (report == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  mask_all();
  if (report_claimed.test_and_set()) {
    for (;;) Sleep(INFINITE);
  }
  write_stderr(report, size);
  exit_now(1);
}

void clear_flags() {
#if MALHA_SSE_ONLY
  _mm_setcsr(_mm_getcsr() & ~kAllFlags);
#else
  _clearfp();
#endif
}

// The trapped kinds currently enabled, as mask bits of kTrappedMasks.
unsigned enabled_traps() {
#if MALHA_SSE_ONLY
  return ~_mm_getcsr() & kTrappedMasks;
#else
  unsigned int control = 0;
  _controlfp_s(&control, 0, 0);
  return ~control & kTrappedMasks;
#endif
}

// Enables the traps named by `traps` (mask bits of kTrappedMasks) and disables
// every other one.
void set_enabled_traps(unsigned traps) {
#if MALHA_SSE_ONLY
  _mm_setcsr((_mm_getcsr() | kAllMasks) & ~traps);
#else
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _MCW_EM & ~traps, _MCW_EM);
#endif
}

}  // namespace

void install_fp_traps() {
  AddVectoredExceptionHandler(1, on_exception);
#if MALHA_SSE_ONLY
  // x64 does every double operation on the SSE unit, which always rounds to
  // double precision; set round to nearest and keep subnormals as they are.
  _mm_setcsr(_mm_getcsr() & ~(kRounding | kFlushToZero | kDenormalsAreZero));
#else
  // 32-bit x86 may use the x87 unit: round every operation to a 53-bit
  // significand.
  unsigned int ignored = 0;
  _controlfp_s(&ignored, _PC_53 | _RC_NEAR, _MCW_PC | _MCW_RC);
#endif
  clear_flags();
  set_enabled_traps(kTrappedMasks);
}

bool fp_traps_enabled() {
  return enabled_traps() == kTrappedMasks;
}

FpTrapsHeld::FpTrapsHeld() : saved_(enabled_traps()) {
  set_enabled_traps(0);
}

FpTrapsHeld::~FpTrapsHeld() {
  clear_flags();
  set_enabled_traps(saved_);
}

void write_stderr(const char* data, std::size_t size) {
  // Straight to the handle: the C runtime's stderr would turn LF into CR LF.
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (size > 0) {
    const DWORD chunk = chunk_of(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

namespace {

// The handle of the working folder's lock file, once it is held.
HANDLE run_lock = INVALID_HANDLE_VALUE;

// Closes the lock file, which deletes it, before the process ends: the
// system would close it too, but may do so only after whoever waits for the
// process has seen it end (wine does).
void release_run_lock() {
  if (run_lock == INVALID_HANDLE_VALUE) return;
  CloseHandle(run_lock);
  run_lock = INVALID_HANDLE_VALUE;
}

}  // namespace

void exit_now(int status) {
  release_run_lock();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  // Not reached; the process ends inside TerminateProcess.
  ExitProcess(static_cast<UINT>(status));
}

bool stderr_is_terminal() {
  // Only a console has a console mode; a file, a pipe or NUL has none.
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

int stderr_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::uint64_t physical_memory_bytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

namespace {

HANDLE as_handle(FileHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

FileHandle from_handle(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

// A system error code as returned: never 0, which would mean success.
int error_code(DWORD error) {
  return error == ERROR_SUCCESS ? static_cast<int>(ERROR_GEN_FAILURE) : static_cast<int>(error);
}

int last_error() {
  return error_code(GetLastError());
}

// Opens with the given access and disposition, sharing reading and writing
// with other processes; the handle is not inherited by started programs.
HANDLE open_shared(const std::string& name, DWORD access, DWORD disposition) {
  return CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool file_exists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::int64_t file_size(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

std::string program_folder() {
  std::string path(32768, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return "";
  path.resize(n);
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

char folder_separator() {
  return '\\';
}

int open_existing(const std::string& name, FileHandle& handle, Access& access) {
  static constexpr struct {
    DWORD rights;
    Access access;
  } kAttempts[] = {{GENERIC_READ | GENERIC_WRITE, Access::ReadWrite},
                   {GENERIC_READ, Access::ReadOnly},
                   {GENERIC_WRITE, Access::WriteOnly}};
  int first_error = 0;
  for (const auto& attempt : kAttempts) {
    // A directory does not open without backup semantics: it fails here with
    // ERROR_ACCESS_DENIED, like any file that cannot be read or written.
    const HANDLE h = open_shared(name, attempt.rights, OPEN_EXISTING);
    if (h != INVALID_HANDLE_VALUE) {
      handle = from_handle(h);
      access = attempt.access;
      return 0;
    }
    if (first_error == 0) first_error = last_error();
  }
  return first_error;
}

int open_for_reading(const std::string& name, FileHandle& handle) {
  // A pipe opens at once or fails (busy); a device such as CON opens at once.
  const HANDLE h = open_shared(name, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  handle = from_handle(h);
  return 0;
}

const char* irregular_kind(FileHandle handle) {
  switch (GetFileType(as_handle(handle))) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(as_handle(handle), &info))
        return "a file whose kind cannot be told";
      return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "a directory" : nullptr;
    }
    case FILE_TYPE_CHAR:
      return "a device";
    case FILE_TYPE_PIPE:
      return "a pipe";
    default:
      return "not a regular file";
  }
}

std::int64_t open_file_size(FileHandle handle) {
  LARGE_INTEGER size;
  return GetFileSizeEx(as_handle(handle), &size) ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

FolderLock lock_working_folder() {
  // A new file that no other process may open, deleted by the system when
  // its handle closes, which the end of the process does however it ends.
  // The handle is closed only on the way out.
  constexpr DWORD kNoSharing = 0;
  const HANDLE h =
      CreateFileA(kRunLockFile, GENERIC_READ | GENERIC_WRITE, kNoSharing, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    run_lock = h;
    std::atexit(release_run_lock);
    return FolderLock::Held;
  }
  if (GetLastError() != ERROR_FILE_EXISTS) return FolderLock::Unavailable;
  // A file of that name the user keeps there is opened the same way, and
  // left in place, unless another process has it open.
  const HANDLE kept = CreateFileA(kRunLockFile, GENERIC_READ, kNoSharing, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (kept != INVALID_HANDLE_VALUE) return FolderLock::Held;
  return GetLastError() == ERROR_SHARING_VIOLATION ? FolderLock::HeldByAnother
                                                   : FolderLock::Unavailable;
}

int create_exclusive(const std::string& name, FileHandle& handle) {
  const HANDLE h = open_shared(name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  handle = from_handle(h);
  return 0;
}

FileKind file_kind(const std::string& name) {
  // A device name ("nul", "con.vts") opens the device, whatever the folder.
  std::size_t base = name.size();
  while (base > 0 && !is_path_separator(name[base - 1])) --base;
  if (is_device_name(std::string_view(name).substr(base))) return FileKind::Other;
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::Regular;
}

bool file_identity(const std::string& name, FileIdentity& identity) {
  // No access asked: only the file's information is read. Backup semantics
  // let a folder open too.
  const HANDLE h =
      CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

std::string temporary_folder() {
  char path[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof path, path);
  std::string folder = n > 0 && n < sizeof path ? std::string(path, n) : std::string(".");
  while (folder.size() > 3 && is_path_separator(folder.back())) folder.pop_back();
  return folder;
}

int replace_file(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return last_error();
  return 0;
}

int remove_file(const std::string& name) {
  return DeleteFileA(name.c_str()) ? 0 : last_error();
}

bool is_path_separator(char c) {
  return c == '/' || c == '\\';
}

std::string find_on_path(std::string_view program) {
  if (program.empty()) return "";
  for (char c : program)
    if (is_path_separator(c) || c == ':') return "";  // not a command word
  std::string name(program);
  if (name.find('.') == std::string::npos) name += ".exe";
  // cmd.exe looks in the current folder before PATH.
  std::vector<std::string> folders = {"."};
  char buffer[32768];
  const DWORD n = GetEnvironmentVariableA("PATH", buffer, sizeof buffer);
  const std::string all = n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string folder = all.substr(start, end - start);
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
      folder = folder.substr(1, folder.size() - 2);
    if (!folder.empty()) folders.push_back(folder);
    start = end + 1;
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "\\" + name;
    const DWORD attributes = GetFileAttributesA(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return candidate;
  }
  return "";
}

// ---------------------------------------------------------------------------
// Watched temporary files (the slots are platform_common.cpp's): removed by
// the console's Ctrl-C and close events, whose handler runs on a thread of
// its own, before the process ends.

namespace {

BOOL WINAPI on_console_event(DWORD /*event*/) {
  detail::remove_watched();
  return FALSE;  // the default handling ends the process
}

}  // namespace

namespace detail {

int create_new(const std::string& name, FileHandle& handle) {
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  handle = from_handle(h);
  return 0;
}

bool name_taken(int error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

void remove_now(const char* name) {
  DeleteFileA(name);
}

void on_first_watch() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace detail

void stop_by_signal(int signal, std::string_view message) {
  detail::remove_watched();
  write_stderr(message.data(), message.size());
  // As a console program ended by Ctrl-C ends: STATUS_CONTROL_C_EXIT.
  constexpr UINT kControlCExit = 0xC000013A;
  exit_now(signal == SIGINT ? static_cast<int>(kControlCExit) : 128 + signal);
}

const char* stop_signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return nullptr;
  }
}

int read_some(FileHandle handle, char* buffer, std::size_t size, std::size_t& got) {
  const DWORD chunk = chunk_of(size);
  DWORD n = 0;
  if (!ReadFile(as_handle(handle), buffer, chunk, &n, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
      got = 0;
      return 0;
    }
    return error_code(error);
  }
  got = n;
  return 0;
}

int write_all(FileHandle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = chunk_of(size);
    DWORD n = 0;
    if (!WriteFile(as_handle(handle), data, chunk, &n, nullptr)) return last_error();
    if (n == 0) return static_cast<int>(ERROR_WRITE_FAULT);
    data += n;
    size -= n;
  }
  return 0;
}

int truncate_at(FileHandle handle, std::int64_t position) {
  // Devices and pipes have no length to cut: writing simply starts there.
  if (GetFileType(as_handle(handle)) != FILE_TYPE_DISK) return 0;
  LARGE_INTEGER where;
  where.QuadPart = position;
  if (!SetFilePointerEx(as_handle(handle), where, nullptr, FILE_BEGIN)) return last_error();
  if (!SetEndOfFile(as_handle(handle))) return last_error();
  return 0;
}

int close_file(FileHandle handle) {
  if (!CloseHandle(as_handle(handle))) return last_error();
  return 0;
}

std::string error_text(int code) {
  char buffer[512];
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  std::string result(buffer, n);
  // The system's texts are sentences ending in ".\r\n"; the report wants a
  // phrase like the other messages.
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                             result.back() == ' ' || result.back() == '.'))
    result.pop_back();
  if (result.empty()) return "system error " + std::to_string(code);
  result[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(result[0])));
  return result;
}

namespace {

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const char* refused_name_char(unsigned char c) {
  // "%" is expanded by the command interpreter even between double quotes.
  if (c == '%') return "the command interpreter would expand";
  const bool forbidden =
      c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
  return forbidden ? "cannot stand in a file name" : nullptr;
}

bool same_file_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (ascii_lower(a[k]) != ascii_lower(b[k])) return false;
  return true;
}

bool is_device_name(std::string_view stem) {
  // "nul.txt" and "nul.a.txt" are the null device, not files.
  std::string_view base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view device : kDevices)
    if (same_file_name(base, device)) return true;
  if (base.size() == 4 &&
      (same_file_name(base.substr(0, 3), "com") || same_file_name(base.substr(0, 3), "lpt"))) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}

std::string quoted_for_interpreter(std::string_view name) {
  // The characters that would end the quotes or be expanded inside them are
  // refused in names beforehand.
  std::string quoted = "\"";
  quoted += name;
  quoted += '"';
  return quoted;
}

bool interpreter_passes(std::string_view word) {
  // A '\\' before the closing quote would escape it for the command's own
  // reading of its command line.
  if (!word.empty() && word.back() == '\\') return false;
  for (char c : word) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '"' || u == '%' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

namespace {

int launch_reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return 2;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT:
      return 8;
    default:
      return 12;
  }
}

}  // namespace

void set_command_path_fallback(std::string /*folder*/) {}

int launch_interpreter(std::string_view command, int& reason, int* interrupted_by) {
  // Ctrl-C reaches this process as well as the command: nothing to note.
  if (interrupted_by != nullptr) *interrupted_by = 0;
  // COMSPEC, at most 260 characters; unset or empty means cmd.exe.
  char interpreter[261];
  const DWORD length = GetEnvironmentVariableA("COMSPEC", interpreter, sizeof interpreter);
  if (length >= sizeof interpreter) {
    reason = 2;
    errno = reason;
    return -1;
  }
  if (length == 0) std::memcpy(interpreter, "cmd.exe", sizeof "cmd.exe");

  // "<interpreter> /c <command>", exactly as given: no quoting, no escaping.
  std::vector<char> line;
  line.reserve(command.size() + 265);
  line.insert(line.end(), interpreter, interpreter + std::strlen(interpreter));
  for (char c : std::string_view(" /c ")) line.push_back(c);
  line.insert(line.end(), command.begin(), command.end());
  line.push_back('\0');

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);

  SetLastError(ERROR_SUCCESS);
  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  const DWORD start_error = GetLastError();
  std::vector<char>().swap(line);
  if (!started) {
    reason = launch_reason(start_error);
    errno = reason;
    return -1;
  }
  CloseHandle(process.hThread);

  int result = -1;
  DWORD exit_code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &exit_code)) {
    result = static_cast<int>(exit_code);
  } else {
    reason = 12;
    errno = reason;
  }
  CloseHandle(process.hProcess);
  return result;
}

std::string_view commands_help() {
  return "Each command goes through the command interpreter named by COMSPEC (cmd.exe\n"
         "when it is not set), and the run waits for it. notepad and gnuplot's\n"
         "wgnuplot must be found on PATH; what a command returns is never looked at.\n"
         "For an unattended run, set COMSPEC to a program that ends at once.\n";
}

}  // namespace malha::platform

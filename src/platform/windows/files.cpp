// Open files on Windows: opening them shared, reading, writing, cutting and
// closing them, and the lock of the working folder (a file no other process
// may open).
#include "platform/windows/win32.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

namespace {

HANDLE as_handle(FileHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

FileHandle from_handle(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

// Opens with the given access and disposition, sharing reading and writing
// with other processes; the handle is not inherited by started programs.
HANDLE open_shared(const std::string& name, DWORD access, DWORD disposition) {
  return CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The handle of the working folder's lock file, once it is held.
HANDLE run_lock = INVALID_HANDLE_VALUE;

}  // namespace

// Closes the lock file, which deletes it, before the process ends: the
// system would close it too, but may do so only after whoever waits for the
// process has seen it end (wine does).
void detail::release_run_lock() {
  if (run_lock == INVALID_HANDLE_VALUE) return;
  CloseHandle(run_lock);
  run_lock = INVALID_HANDLE_VALUE;
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
    if (first_error == 0) first_error = detail::last_error();
  }
  return first_error;
}

int open_for_reading(const std::string& name, FileHandle& handle) {
  // A pipe opens at once or fails (busy); a device such as CON opens at once.
  const HANDLE h = open_shared(name, GENERIC_READ, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return detail::last_error();
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
    std::atexit(detail::release_run_lock);
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
  if (h == INVALID_HANDLE_VALUE) return detail::last_error();
  handle = from_handle(h);
  return 0;
}

int read_some(FileHandle handle, char* buffer, std::size_t size, std::size_t& got) {
  const DWORD chunk = detail::chunk_of(size);
  DWORD n = 0;
  if (!ReadFile(as_handle(handle), buffer, chunk, &n, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
      got = 0;
      return 0;
    }
    return detail::error_code(error);
  }
  got = n;
  return 0;
}

int write_all(FileHandle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = detail::chunk_of(size);
    DWORD n = 0;
    if (!WriteFile(as_handle(handle), data, chunk, &n, nullptr)) return detail::last_error();
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
  if (!SetFilePointerEx(as_handle(handle), where, nullptr, FILE_BEGIN)) return detail::last_error();
  if (!SetEndOfFile(as_handle(handle))) return detail::last_error();
  return 0;
}

int close_file(FileHandle handle) {
  if (!CloseHandle(as_handle(handle))) return detail::last_error();
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

namespace detail {

int create_new(const std::string& name, FileHandle& handle) {
  const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return detail::last_error();
  handle = from_handle(h);
  return 0;
}

bool name_taken(int error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace detail

}  // namespace malha::platform

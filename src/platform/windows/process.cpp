// The process on Windows: its standard error, its end, and the memory it may use.
#include "platform/windows/win32.h"

#include <cstdint>

#include "platform.h"

namespace malha::platform {

void write_stderr(const char* data, std::size_t size) {
  // Straight to the handle: the C runtime's stderr would turn LF into CR LF.
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (size > 0) {
    const DWORD chunk = detail::chunk_of(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

void catch_file_size_signal() {}

void exit_now(int status) {
  detail::release_run_lock();
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

}  // namespace malha::platform

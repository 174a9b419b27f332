// Commands on Windows: the command interpreter started with CreateProcess,
// its command line given exactly as written.
#include "platform/windows/win32.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace malha::platform {

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

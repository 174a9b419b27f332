/* Stands in for the command interpreter in the Windows tests: appends its own
 * command line, exactly as it received it (in UTF-8), as one line to the file named by
 * the environment variable RECORD_COMMAND_LOG, and ends with status 0 (or
 * with the status in RECORD_COMMAND_STATUS when that is set). It runs
 * nothing. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdlib.h>
#include <string.h>

int main(void) {
  static char line[4 * 32768];
  char log[32768];
  char status[32];
  DWORD n = GetEnvironmentVariableA("RECORD_COMMAND_LOG", log, sizeof log);
  if (n > 0 && n < sizeof log) {
    if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL) == 0)
      return 125;
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 125;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
  }
  n = GetEnvironmentVariableA("RECORD_COMMAND_STATUS", status, sizeof status);
  if (n > 0 && n < sizeof status) return atoi(status);
  return 0;
}

/* Stands in for the command interpreter, or for a command, in the Windows
 * tests: appends its own command line, exactly as it received it (in UTF-8),
 * as one line to the file named by the environment variable
 * RECORD_COMMAND_LOG, and ends with status 0 (or with the status in
 * RECORD_COMMAND_STATUS when that is set). It runs nothing.
 *
 * With RECORD_COMMAND_ARGV set, it logs instead the arguments as a program
 * reads them from that line (its own name left out), separated by the byte
 * 0x1F: what the command got, one argument at a time.
 *
 * When RECORD_COMMAND_WAIT names a file, it then waits (a minute at most)
 * until that file exists, after creating the file of that name with ".ready"
 * added: a run can be held inside a command. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
/* shellapi.h needs windows.h first. */
#include <shellapi.h>

#include <stdlib.h>
#include <string.h>

static char line[4 * 32768];

/* The arguments, each in UTF-8, separated by 0x1F, into `line`; 0 on failure. */
static int arguments_as_read(void) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == NULL) return 0;
  size_t used = 0;
  for (int k = 1; k < count; ++k) {
    if (k > 1) line[used++] = '\x1f';
    const int n = WideCharToMultiByte(CP_UTF8, 0, argv[k], -1, line + used,
                                      (int)(sizeof line - used - 1), NULL, NULL);
    if (n == 0) return 0;
    used += (size_t)n - 1; /* without the terminating NUL */
  }
  line[used] = '\0';
  LocalFree(argv);
  return 1;
}

int main(void) {
  char log[32768];
  char status[32];
  DWORD n = GetEnvironmentVariableA("RECORD_COMMAND_LOG", log, sizeof log);
  if (n > 0 && n < sizeof log) {
    if (GetEnvironmentVariableA("RECORD_COMMAND_ARGV", NULL, 0) > 0) {
      if (!arguments_as_read()) return 125;
    } else if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL,
                                   NULL) == 0) {
      return 125;
    }
    /* Under wine the log can refuse an open for a moment while the command
       before this one ends (a line went missing once in a loaded run): try
       again for up to ten seconds before giving up. */
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 500; ++tries) {
      file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (file != INVALID_HANDLE_VALUE) break;
      Sleep(20);
    }
    if (file == INVALID_HANDLE_VALUE) return 125;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
  }
  char wait[32768];
  n = GetEnvironmentVariableA("RECORD_COMMAND_WAIT", wait, sizeof wait - 8);
  if (n > 0 && n < sizeof wait - 8) {
    memcpy(wait + n, ".ready", 7);
    CloseHandle(CreateFileA(wait, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL));
    wait[n] = '\0';
    for (int waited = 0; waited < 60000 && GetFileAttributesA(wait) == INVALID_FILE_ATTRIBUTES;
         waited += 20)
      Sleep(20);
  }
  n = GetEnvironmentVariableA("RECORD_COMMAND_STATUS", status, sizeof status);
  if (n > 0 && n < sizeof status) return atoi(status);
  return 0;
}

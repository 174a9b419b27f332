// A process stopped on Windows: the console's Ctrl-C and close events, which
// remove the watched temporary files first, and the end with a stop's status.
#include "platform/windows/win32.h"

#include <csignal>
#include <string_view>

#include "platform.h"
#include "platform/internal.h"

namespace malha::platform {

// ---------------------------------------------------------------------------
// Watched temporary files (the slots are temporary.cpp's): removed by
// the console's Ctrl-C and close events, whose handler runs on a thread of
// its own, before the process ends.

namespace {

BOOL WINAPI on_console_event(DWORD /*event*/) {
  detail::remove_watched();
  return FALSE;  // the default handling ends the process
}

}  // namespace

namespace detail {

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

}  // namespace malha::platform

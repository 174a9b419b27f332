// Commands run through the command interpreter.
#include <cerrno>
#include <chrono>

#include "platform.h"
#include "textio.h"

namespace malha::textio {

namespace {
int last_reason = 0;
// The time spent waiting for commands, in seconds.
double waited = 0.0;
}  // namespace

int run_command(std::string_view command_text, int* interrupted_by) {
  std::size_t n = command_text.size();
  while (n > 0 && command_text[n - 1] == ' ') --n;
  if (n > kMaxCommandLength) {
    last_reason = 7;
    errno = E2BIG;
    return -1;
  }
  int reason = 0;
  if (interrupted_by != nullptr) *interrupted_by = 0;
  const auto start = std::chrono::steady_clock::now();
  const int result =
      platform::launch_interpreter(command_text.substr(0, n), reason, interrupted_by);
  waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result == -1) last_reason = reason;
  return result;
}

int last_command_error() {
  return last_reason;
}

double command_seconds() {
  return waited;
}

}  // namespace malha::textio

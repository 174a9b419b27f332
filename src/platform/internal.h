// What the two implementations of the platform layer give the code they
// share (temporary.cpp), and what both say the same (the reports of the
// floating-point traps); nothing outside src/platform/ uses it.
#pragma once

#include <string>

#include "platform.h"

namespace malha::platform::detail {

// Creates a new file exclusively, for a temporary file: as create_exclusive,
// and on Windows shared for deletion too, so that a stopped process can
// remove it while it is open.
int create_new(const std::string& name, FileHandle& handle);
// Whether an error of create_new means that the name is taken.
bool name_taken(int error);

// Removes a file at once (async-signal-safe on POSIX).
void remove_now(const char* name);
// Installs what removes the watched files when the process is stopped.
void on_first_watch();
// Removes every watched file (async-signal-safe on POSIX).
void remove_watched();

// The reports the fault handler of traps.cpp writes, one per trapped kind.
inline constexpr char kReportInvalid[] =
    "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n";
inline constexpr char kReportDivide[] =
    "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n";
inline constexpr char kReportOverflow[] =
    "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n";

}  // namespace malha::platform::detail

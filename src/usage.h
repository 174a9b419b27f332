// The command line: a run takes no arguments; --help and --version answer and
// end; anything else is refused. Also where the installed example case is,
// for the texts that point users to it.
#pragma once

#include <string>

namespace malha {

// The status main() returns for "no argument, go on with the run".
inline constexpr int kGoOnWithTheRun = -1;

// Handles the program's arguments before anything else happens. With none it
// returns kGoOnWithTheRun. "--help" or "-h" prints the usage text and
// "--version" the name and version on standard output (status 0); any other
// argument gets one line on standard error naming it (status 2). Nothing is
// read, written or started in those cases.
int handle_arguments(int argc, const char* const* argv);

// Where the example case is: the installed examples folder beside the
// program's own (bin/../share/malha/examples) when it is there, else a
// description of where to find it.
std::string example_case_location();

}  // namespace malha

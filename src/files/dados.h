// The input files and the output file sets.
#pragma once

#include <string>
#include <string_view>

#include "run/options.h"
#include "variaveis.h"

namespace malha {

enum class OutputFile : unsigned char;  // the files of files/layout.h

// The elliptic-generation parameter file, read when smoothing is selected.
inline constexpr char kEllipticFile[] = "entrada_eq_elipticas.txt";

// Takes the working folder for this run, before anything is read, shown or
// written there: a second run started in the folder while this one works
// would mix its files with this one's. False, after one line on standard
// error, when another run has it; a folder that cannot be locked is used
// without the lock.
bool claim_working_folder();

// Shows "entradas.txt" in the editor, then reads the case name, nx, ny,
// opt_elliptic and opt_nest from it.
void read_case_file(MeshState& s);

// Checks the case values before anything is allocated or written: the sizes a
// run can use and a case name that gives safe, distinct file names. Ends the
// run with a READ(entradas.txt) report otherwise.
void check_case_values(const MeshState& s);

// Ends the run with the READ(entradas.txt) report of a case value the run
// cannot use, `message` telling which and why.
[[noreturn]] void reject_case_value(const std::string& message);

// The same for a value of entrada_eq_elipticas.txt.
[[noreturn]] void reject_elliptic_value(const std::string& message);

// Shows "entrada_eq_elipticas.txt" in the editor, then reads nsweep, niter,
// an unused real, dksi, deta, opt_psrc and opt_qsrc from it.
void read_elliptic_file(MeshState& s);

// Writes the seven mesh files, then shows five of them in the editor and runs
// the plotting program on the two plot scripts.
void write_mesh_files(const MeshState& s, const OutputOptions& options);

// Writes the five nest files, then shows them in the editor.
void write_nest_files(const MeshState& s, const OutputOptions& options);

// The case name without its trailing blanks.
std::string case_stem(const MeshState& s);

// The name of an output file of this case.
std::string output_file_name(const MeshState& s, OutputFile file);

// "notepad " followed by the file name, quoted for the command interpreter
// when it holds anything but ASCII letters, digits and . _ - +
std::string editor_command(std::string_view file_name);

}  // namespace malha

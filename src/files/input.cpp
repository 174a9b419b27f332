#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/dados.h"
#include "files/layout.h"
#include "platform.h"
#include "run/summary.h"
#include "run/usage.h"
#include "textio.h"

namespace malha {

namespace {

constexpr char kCaseFile[] = "entradas.txt";

// The unit the input files are read on.
constexpr int kInputUnit = 1;

[[noreturn]] void reject_case(const std::string& message) {
  textio::fatal_error(textio::kErrCaseValue, textio::Statement::Read, kCaseFile, message);
}

bool is_control_char(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// A case name as messages show it: control bytes as \xNN, UTF-8 as it is.
std::string shown(const std::string& text) {
  return textio::escaped(text, {.keep_non_ascii = true});
}

void check_count(const char* what, std::int64_t value, const MeshState& s) {
  if (value > std::numeric_limits<std::int32_t>::max()) {
    reject_case("nx = " + std::to_string(s.nx) + " and ny = " + std::to_string(s.ny) + " give " +
                std::to_string(value) + " " + what + ", more than the 2147483647 a run can number");
  }
}

// The files every run reads or writes under a fixed name, and which it does.
std::vector<std::pair<std::string_view, const char*>> fixed_files() {
  std::vector<std::pair<std::string_view, const char*>> files = {{kCaseFile, "reads"},
                                                                 {kEllipticFile, "reads"}};
  for (const FileLayout& file : kOutputFiles)
    if (!file.after_case_name) files.emplace_back(file.name, "writes");
  return files;
}

// The case name gives the output file names: it must be one file name in the
// working directory that the platform can use and no fixed file's name.
void check_case_name(const std::string& stem) {
  if (stem.empty()) {
    reject_case("the case name (record 1) is empty: it is the stem of every output file name");
  }
  for (unsigned char c : stem) {
    if (c == '/' || c == '\\') {
      reject_case("the case name '" + shown(stem) + "' (record 1) contains '" +
                  std::string(1, static_cast<char>(c)) +
                  "': it must name files in the working directory");
    }
    if (is_control_char(c)) {
      reject_case("the case name '" + shown(stem) +
                  "' (record 1) contains a control character, which cannot stand in a file name");
    }
    if (const char* reason = platform::refused_name_char(c); reason != nullptr) {
      reject_case("the case name '" + shown(stem) + "' (record 1) contains '" +
                  std::string(1, static_cast<char>(c)) + "', which " + reason);
    }
  }
  if (platform::is_device_name(stem)) {
    reject_case("the case name '" + shown(stem) + "' (record 1) names a device: its output file " +
                stem + std::string(file_layout(OutputFile::Mesh).name) + " would not be a file");
  }
  // No output file of the case may be a file every run reads or writes under
  // a fixed name.
  for (const FileLayout& file : kOutputFiles) {
    if (!file.after_case_name) continue;
    const std::string name = stem + std::string(file.name);
    for (const auto& [fixed, verb] : fixed_files()) {
      if (platform::same_file_name(name, fixed)) {
        reject_case("the case name '" + stem + "' (record 1) is reserved: its output file " + name +
                    " would overwrite the file of that name that every run " + verb);
      }
    }
  }
}

// Shows an input file in the editor and opens it; `holds` says what the file
// must hold, for the report of an empty file.
void open_input(const char* file_name, const char* holds) {
  show_in_editor(file_name);
  textio::open_input_unit(kInputUnit, file_name);
  textio::set_empty_file_hint(kInputUnit, std::string("it must hold ") + holds +
                                              "; the example files are in " +
                                              example_case_location());
}

// The values of the file just read that were read in part: warned about once
// the run has completed, and named after the report should it fail (such a
// value, a decimal comma read as a spacing of 0, may be the cause).
void note_cut_values(MeshState& s) {
  s.input_warnings += cut_value_warnings(textio::take_cut_values());
  platform::set_failure_note(s.input_warnings);
}

}  // namespace

void reject_case_value(const std::string& message) {
  reject_case(message);
}

bool claim_working_folder() {
  if (platform::lock_working_folder() != platform::FolderLock::HeldByAnother) return true;
  constexpr std::string_view kBusy =
      "malha: another run of malha is working in this folder; wait until it has ended, or "
      "run this case in a folder of its own (two runs at once would mix their files)\n";
  platform::write_stderr(kBusy.data(), kBusy.size());
  return false;
}

void reject_elliptic_value(const std::string& message) {
  textio::fatal_error(textio::kErrCaseValue, textio::Statement::Read, kEllipticFile, message);
}

void read_case_file(MeshState& s) {
  open_input(kCaseFile,
             "five values, each first on a line of its own: the case name, nx, ny, 2 to "
             "smooth the mesh, 2 to write the nest files");
  const textio::TextLength name = textio::read_text(kInputUnit, s.case_name);
  s.case_name_written = name.written;
  s.case_name_kept = name.kept;
  textio::read_integer(kInputUnit, s.nx);
  textio::read_integer(kInputUnit, s.ny);
  textio::read_integer(kInputUnit, s.opt_elliptic);
  textio::read_integer(kInputUnit, s.opt_nest);
  textio::close_unit(kInputUnit);
  note_cut_values(s);
}

void check_case_values(const MeshState& s) {
  if (s.nx < 2) {
    reject_case("nx = " + std::to_string(s.nx) +
                " (record 2) is out of range: the mesh needs at least 2 volumes along ksi");
  }
  if (s.ny < 1) {
    reject_case("ny = " + std::to_string(s.ny) +
                " (record 3) is out of range: the mesh needs at least 1 volume along eta");
  }
  const std::int64_t nx = s.nx;
  const std::int64_t ny = s.ny;
  check_count("volumes", nx * ny, s);
  check_count("vertices", (nx + 1) * (ny + 1), s);
  check_count("volumes with the fictitious ring", (nx + 2) * (ny + 2), s);

  check_case_name(case_stem(s));
}

void read_elliptic_file(MeshState& s) {
  open_input(kEllipticFile,
             "seven values, each first on a line of its own: nsweep, niter, an unused real, "
             "dksi, deta, 2 to keep psrc, 2 to keep qsrc");
  double unused = 0.0;
  textio::read_integer(kInputUnit, s.nsweep);
  textio::read_integer(kInputUnit, s.niter);
  textio::read_real(kInputUnit, unused);
  textio::read_real(kInputUnit, s.dksi);
  textio::read_real(kInputUnit, s.deta);
  textio::read_integer(kInputUnit, s.opt_psrc);
  textio::read_integer(kInputUnit, s.opt_qsrc);
  textio::close_unit(kInputUnit);
  note_cut_values(s);
}

}  // namespace malha

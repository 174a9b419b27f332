#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/dados.h"
#include "files/layout.h"
#include "platform.h"
#include "textio.h"

namespace malha {

namespace {

bool is_plain_name_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-' || c == '+';
}

// A unit and the file it is connected to.
struct UnitFile {
  std::string name;
  int unit;
};

// Opens every file of a set before any is written (an existing file is cut
// at its first write): a file that cannot be opened, or only for reading,
// stops the run here and the files of the set are left as they were.
void open_units(std::span<const UnitFile> files) {
  for (const UnitFile& f : files) {
    textio::open_unit(f.unit, f.name);
    textio::require_writable(f.unit);
  }
}

void close_units(std::span<const UnitFile> files) {
  for (const UnitFile& f : files) textio::close_unit(f.unit);
}

// Whether the fast writer is to write the files: when it is chosen and the
// units' buffers can be had now. The fast writer needs storage of its own
// as well (write_blocks); whenever storage is lacking before anything is
// written, the plain writer writes the same bytes.
bool fast_writer_ready(std::span<const UnitFile> files, const OutputOptions& options) {
  if (!options.fast) return false;
  for (const UnitFile& f : files)
    if (!textio::reserve_output_buffer(f.unit)) return false;
  return true;
}

using FastWriter = bool (*)(const MeshState&, int);
using PlainWriter = void (*)(const MeshState&);

// The control functions' file goes with the mesh set: opened with it, so that
// a name that cannot be written stops the run before any file of the set is
// cut. A run without them removes the file an earlier run of the case left,
// once the set is open and before anything is written, so that the mesh
// files are never found beside control functions they were not smoothed
// with; a file that cannot be removed stops the run there.
void open_or_clear_controls(const MeshState& s, std::vector<UnitFile>& files) {
  const std::string name = output_file_name(s, OutputFile::Controls);
  if (s.controls) {
    const UnitFile controls{name, unit_of(OutputFile::Controls)};
    open_units({&controls, 1});
    files.push_back(controls);
    return;
  }
  if (platform::file_kind(name) == platform::FileKind::Missing) return;
  if (const int error = platform::remove_file(name); error != 0)
    textio::fatal_error(textio::kErrWriteSystem, textio::Statement::Write, name,
                        "cannot remove the control functions of an earlier run (this run has " +
                            std::string("none, and the mesh files must not be read with them): ") +
                            platform::error_text(error));
}

// Opens the files of the set in order, writes them (through the fast writer
// when it is chosen and can be had, otherwise the plain one), closes them,
// then shows the files of the set named after the case in the editor.
void write_file_set(const MeshState& s, FileSet set, const OutputOptions& options, FastWriter fast,
                    PlainWriter plain) {
  std::vector<UnitFile> files;
  for (const FileLayout& f : file_set(set)) files.push_back({output_file_name(s, f.file), f.unit});
  open_units(files);
  if (set == FileSet::Mesh) open_or_clear_controls(s, files);
  if (!fast_writer_ready(files, options) || !fast(s, options.threads)) plain(s);
  close_units(files);
  for (const OutputFile f : case_files_listed(set)) show_in_editor(output_file_name(s, f));
}

}  // namespace

void show_in_editor(std::string_view file_name) {
  textio::run_command(editor_command(file_name));
}

std::string case_stem(const MeshState& s) {
  const std::size_t end = s.case_name.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.case_name.substr(0, end + 1);
}

std::string output_file_name(const MeshState& s, OutputFile file) {
  const FileLayout& f = file_layout(file);
  return f.after_case_name ? case_stem(s) + std::string(f.name) : std::string(f.name);
}

std::string editor_command(std::string_view file_name) {
  bool plain = !file_name.empty();
  for (unsigned char c : file_name) plain = plain && is_plain_name_char(c);
  std::string command = "notepad ";
  if (plain) {
    command += file_name;
    return command;
  }
  command += platform::quoted_for_interpreter(file_name);
  return command;
}

void write_mesh_files(const MeshState& s, const OutputOptions& options) {
  write_file_set(s, FileSet::Mesh, options, write_mesh_records_fast, write_mesh_records_plain);
  textio::run_command("wgnuplot malha.gnu");
  textio::run_command("wgnuplot malha_cent.gnu");
}

void write_nest_files(const MeshState& s, const OutputOptions& options) {
  write_file_set(s, FileSet::Nest, options, write_nest_records_fast, write_nest_records_plain);
}

}  // namespace malha

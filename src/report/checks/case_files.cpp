#include "report/checks/case_files.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <future>
#include <limits>
#include <optional>

#include "helper_thread.h"
#include "platform.h"
#include "report/checks/file_checks.h"
#include "report/checks/records.h"
#include "report/measures/metrics.h"

namespace malha::report {

namespace {

// What a task waits for: the sizes of the header (read before any task
// starts), the vertices, or the cell table computed from them.
enum class Needs { Sizes, Vertices, Cells };

// The check of each file of the case but CASE.txt, in the order failures are
// reported and the files listed: each set's file of vertices first.
struct FileCheckEntry {
  OutputFile file;
  Needs needs;
  FileCheck run;
};
constexpr FileCheckEntry kFileChecks[] = {
    {OutputFile::Corners, Needs::Sizes, check_corner_records},
    {OutputFile::ExtendedCorners, Needs::Sizes, check_corner_records},
    {OutputFile::Centroids, Needs::Cells, check_centroids},
    {OutputFile::ExtendedCentroids, Needs::Cells, check_extended_centroids},
    {OutputFile::Nest, Needs::Vertices, check_nest_vertices},
    {OutputFile::NestNeighbours, Needs::Sizes, check_neighbours},
    {OutputFile::NestCorners, Needs::Sizes, check_corner_records},
    {OutputFile::NestCentroids, Needs::Cells, check_centroids},
    {OutputFile::NestAreas, Needs::Cells, check_areas},
};

// Every file of the layout named after the case has its check, once;
// CASE.txt and the control functions' file are read rather than checked.
consteval bool every_case_file_checked() {
  for (const FileLayout& f : kOutputFiles) {
    int checks = 0;
    for (const FileCheckEntry& c : kFileChecks) checks += c.file == f.file ? 1 : 0;
    const bool read = f.file == OutputFile::Mesh || f.file == OutputFile::Controls;
    if (checks != (f.after_case_name && !read ? 1 : 0)) return false;
  }
  return true;
}
static_assert(every_case_file_checked());

// One task of the two threads: a file's check, a half of the cell table or
// work of the caller.
struct Task {
  Needs needs;
  std::function<void(const Mesh&, const CellTable&)> run;
};

// What names a file that is not a case's CASE.txt: a file every case shares,
// or another file of a case whose CASE.txt is beside it; "" for others.
std::string what_else(const CaseFiles& files) {
  const std::string name = files.bare_name(OutputFile::Mesh);
  std::string_view suffix;
  for (const FileLayout& f : kOutputFiles) {
    if (!f.after_case_name && name == f.name) return name + " is a file every case shares";
    if (f.after_case_name && f.file != OutputFile::Mesh && name.ends_with(f.name) &&
        f.name.size() > suffix.size() && name.size() > f.name.size())
      suffix = f.name;
  }
  if (suffix.empty()) return "";
  const CaseFiles owner{files.folder, name.substr(0, name.size() - suffix.size())};
  if (!platform::file_exists(owner.path(OutputFile::Mesh))) return "";
  return name + " is the file " + std::string(suffix) + " of the case '" + owner.stem +
         "'; malha-report " + owner.path(std::string_view()) + " checks that case";
}

// The first record of CASE.txt must be the sizes record of a case; a file
// whose first record is not is no case at all, whatever it holds next.
[[noreturn]] void fail_not_a_case(const CaseFiles& files, const CheckFailure& why) {
  const std::string name = files.name(OutputFile::Mesh);
  std::string detail = why.what();
  if (detail.starts_with(name + ", line 1: ")) detail.erase(0, name.size() + 10);
  std::string message = name + " is not a case: line 1 is not the sizes record nx ny nxv nyv " +
                        "opt that begins a case's CASE" +
                        std::string(file_layout(OutputFile::Mesh).name) + ": " + detail;
  if (const std::string other = what_else(files); !other.empty()) message += "; " + other;
  throw CheckFailure(message);
}

// The sizes record of CASE.txt: five integers, nxv = nx + 1 and nyv = ny + 1.
void read_sizes_record(RecordReader& in, Mesh& mesh) {
  read_header(in, OutputFile::Mesh, mesh);
  if (mesh.nx < 2 || mesh.ny < 1)
    in.fail_here("nx of at least 2 and ny of at least 1",
                 "nx = " + std::to_string(mesh.nx) + ", ny = " + std::to_string(mesh.ny));
  // Counts derived from the header in 64 bits: nx may be the largest 32-bit
  // integer, whose successor no 32-bit count holds.
  const std::int64_t nx = mesh.nx, ny = mesh.ny;
  if (mesh.nxv != nx + 1 || mesh.nyv != ny + 1)
    in.fail_here("nxv = nx + 1 = " + std::to_string(nx + 1) +
                     " and nyv = ny + 1 = " + std::to_string(ny + 1),
                 "nxv = " + std::to_string(mesh.nxv) + ", nyv = " + std::to_string(mesh.nyv));
}

// CASE.txt up to its vertices: the sizes and the spacings.
void read_sizes(RecordReader& in, const CaseFiles& files, Mesh& mesh) {
  try {
    read_sizes_record(in, mesh);
  } catch (const CheckFailure& failure) {
    fail_not_a_case(files, failure);
  }
  const std::int64_t ring = (std::int64_t{mesh.nx} + 2) * (std::int64_t{mesh.ny} + 2);
  if (ring > std::numeric_limits<std::int32_t>::max())
    in.fail_here("a mesh whose volumes can be numbered in 32 bits",
                 std::to_string(mesh.nx) + " x " + std::to_string(mesh.ny) + " volumes");
  const std::string_view r = in.require([] { return std::string("the spacings deta dksi"); });
  in.expect_fields(r, 2, kRealWidth);
  mesh.deta = in.real(r, 0);
  mesh.dksi = in.real(r, 1);
}

// Sizes that promise more records than CASE.txt holds (its size, as it was
// opened) stop here, before anything is allocated for them.
void check_room_for_vertices(const CaseFiles& files, const RecordReader& in, const Mesh& mesh) {
  const std::int64_t least = mesh.vertices() * (kPairLength + 1);
  if (in.size() < least)
    fail(files.name(OutputFile::Mesh), 0,
         std::to_string(mesh.vertices()) + " vertex records (nxv x nyv), at least " +
             std::to_string(least) + " bytes",
         std::to_string(in.size()) + " bytes");
}

// What the report keeps of a case: the coordinates of every vertex, and for
// every volume its row of the cell table (six doubles and the folded flag)
// and of the neighbour table the check of CASE_nest_conec.txt builds.
constexpr std::int64_t kBytesPerVertex = 2 * sizeof(double);
constexpr std::int64_t kBytesPerVolume =
    6 * sizeof(double) + sizeof(std::uint8_t) + kCorners * sizeof(std::int32_t);
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// A case that needs more memory than the machine has (its physical memory,
// or the limit of its control group) stops here, before anything is
// allocated for it, as malha refuses such a case. Control functions take as
// much again as the vertices.
void check_memory(const CaseFiles& files, const Mesh& mesh) {
  const auto memory = static_cast<std::int64_t>(platform::physical_memory_bytes());
  const std::int64_t per_vertex =
      platform::file_exists(files.path(OutputFile::Controls)) ? 2 * kBytesPerVertex
                                                               : kBytesPerVertex;
  const std::int64_t need = mesh.vertices() * per_vertex + mesh.volumes() * kBytesPerVolume;
  if (memory <= 0 || need <= memory) return;
  fail(files.name(OutputFile::Mesh), 1,
       "a mesh that fits in the " + std::to_string(memory / kMiB) +
           " MiB of memory this machine has",
       "nx = " + std::to_string(mesh.nx) + " and ny = " + std::to_string(mesh.ny) +
           ", which need " + std::to_string((need + kMiB - 1) / kMiB) + " MiB");
}

// The coordinates are stored as their records are read, never ahead of
// them: a file that holds less than its size promises (a sparse file) fails
// at its first wrong record with no memory taken for the rest.
void read_coordinates(RecordReader& in, Mesh& mesh) {
  mesh.xv.reserve(static_cast<std::size_t>(mesh.vertices()));
  mesh.yv.reserve(static_cast<std::size_t>(mesh.vertices()));
  read_vertex_records(in, nullptr, mesh, [&](std::int64_t, double x, double y) {
    mesh.xv.push_back(x);
    mesh.yv.push_back(y);
  });
  in.expect_end(2 + mesh.vertices());
}

// Every run of malha writes the mesh set, and the nest set whole or not at
// all: a file missing from the mesh set, or from a nest set of which some
// files are there, stops the check naming the first one missing.
void check_files_present(const CaseFiles& files) {
  for (const FileSet set : {FileSet::Mesh, FileSet::Nest}) {
    std::vector<const FileLayout*> missing;
    std::size_t of_case = 0;
    for (const FileLayout& f : file_set(set)) {
      if (!f.after_case_name) continue;
      ++of_case;
      if (!platform::file_exists(files.path(f.file))) missing.push_back(&f);
    }
    if (missing.empty() || (set == FileSet::Nest && missing.size() == of_case)) continue;
    const std::string why =
        set == FileSet::Mesh
            ? "every run of malha writes it beside " + files.bare_name(OutputFile::Mesh)
            : "malha writes the " + std::to_string(of_case) + " nest files together, and " +
                  std::to_string(of_case - missing.size()) + " of them are here";
    fail(files.name(missing.front()->file), 0, "the file (" + why + ")", "no such file");
  }
}

// The checks of the files that are there: every file of the mesh set, and
// the nest files when they are there; `checked` receives their names' files
// in the same order.
std::vector<Task> file_checks(const CaseFiles& files, std::vector<OutputFile>& checked) {
  std::vector<Task> todo;
  for (const FileCheckEntry& c : kFileChecks) {
    if (!platform::file_exists(files.path(c.file))) continue;
    checked.push_back(c.file);
    todo.push_back({c.needs, [&files, c](const Mesh& m, const CellTable& cells) {
                      c.run(files, m, cells, c.file);
                    }});
  }
  return todo;
}

// The order in which the two threads take the tasks: by what they wait for,
// and among the tasks that wait for the vertices, the cell table (the tasks
// after the first `files_to_check`, the files' checks) before the others.
std::vector<std::size_t> order_of_needs(const std::vector<Task>& todo, std::size_t files_to_check) {
  std::vector<std::size_t> order(todo.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto rank = [&](std::size_t k) {  // the cell table before other work on the vertices
      return 2 * static_cast<int>(todo[k].needs) + (k >= files_to_check ? 0 : 1);
    };
    return rank(a) < rank(b);
  });
  return order;
}

// The helper thread of helper_thread.h, when the process has one, starts on
// the tasks (`work`) while this thread reads the vertices; without it (a
// single core, no thread to be had) this thread does every task after them,
// in the same order, with the same report.
void start_on_helper(std::optional<HelperJob>& job, const std::function<void()>& work) {
  if (HelperThread* helper = HelperThread::shared(); helper != nullptr) {
    try {
      // Stopping needs nothing more: a failure to read the vertices tells the
      // tasks that no vertices come before the job is waited for.
      job.emplace(*helper, work, [] {});
    } catch (const std::bad_alloc&) {
    }
  }
}

// The names of the files checked, CASE.txt first; the failure of the first
// file whose check failed, in the order of `checked`, instead.
std::vector<std::string> checked_names(const CaseFiles& files,
                                       const std::vector<OutputFile>& checked,
                                       const std::vector<std::exception_ptr>& failures) {
  std::vector<std::string> names = {files.bare_name(OutputFile::Mesh)};
  for (std::size_t k = 0; k < checked.size(); ++k) {
    if (failures[k]) std::rethrow_exception(failures[k]);
    names.push_back(files.bare_name(checked[k]));
  }
  return names;
}

}  // namespace

std::string CaseFiles::path(std::string_view suffix) const {
  std::string p = folder;
  if (!p.empty() && !platform::is_path_separator(p.back())) p += '/';
  return p + stem + std::string(suffix);
}

std::string CaseFiles::path(OutputFile file) const {
  return path(file_layout(file).name);
}

std::string CaseFiles::name(OutputFile file) const {
  return path(file);
}

std::string CaseFiles::bare_name(OutputFile file) const {
  return stem + std::string(file_layout(file).name);
}

CaseFiles case_from_argument(const std::string& argument) {
  std::size_t base = argument.size();
  while (base > 0 && !platform::is_path_separator(argument[base - 1])) --base;
  const std::string folder = argument.substr(0, base), name = argument.substr(base);
  constexpr std::string_view kWanted = "a case name or the path to its CASE.txt";
  if (name.empty()) fail(argument, 0, std::string(kWanted), "a folder name");
  constexpr std::string_view kExtension = file_layout(OutputFile::Mesh).name;
  // A folder of the name, without a CASE.txt of the name beside it, was
  // meant as a case (l120 for the case in l120/).
  if (platform::file_kind(argument) == platform::FileKind::Folder &&
      !platform::file_exists(argument + std::string(kExtension)))
    fail(argument, 0, std::string(kWanted),
         "a folder (and no " + argument + std::string(kExtension) + ")");
  if (name.size() > kExtension.size() && name.ends_with(kExtension))
    return {folder, name.substr(0, name.size() - kExtension.size())};
  return {folder, name};
}

CheckedCase read_case(const CaseFiles& files, const std::vector<CaseTask>& beside) {
  CheckedCase result;
  Mesh& mesh = result.mesh;
  RecordReader in = open_records(files, OutputFile::Mesh);
  read_sizes(in, files, mesh);
  check_room_for_vertices(files, in, mesh);
  check_memory(files, mesh);
  check_files_present(files);

  std::vector<OutputFile> checked;
  std::vector<Task> todo = file_checks(files, checked);
  const std::size_t files_to_check = todo.size();

  // Two threads take the tasks in the order of what they wait for: the files
  // that need only the sizes (a helper thread starts on them while this one
  // reads the vertices), the two halves of the cell table, the rest. The
  // first failure in the order of the list is reported, CASE.txt before all.
  std::promise<bool> vertices_read, cells_measured;
  std::shared_future<bool> vertices = vertices_read.get_future().share();
  std::shared_future<bool> cells = cells_measured.get_future().share();
  std::atomic<int> halves_left{2};
  for (int half = 0; half < 2; ++half) {
    todo.push_back({Needs::Vertices, [&, half](const Mesh& m, const CellTable&) {
                      const std::int32_t middle = m.ny / 2;
                      measure_rows(m, result.cells, half == 0 ? 1 : middle + 1,
                                   half == 0 ? middle : m.ny);
                      if (--halves_left == 0) cells_measured.set_value(true);
                    }});
  }
  for (const CaseTask& task : beside) todo.push_back({Needs::Cells, task});
  const std::vector<std::size_t> order = order_of_needs(todo, files_to_check);
  std::vector<std::exception_ptr> failures(todo.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t n = next++; n < order.size(); n = next++) {
      const Task& c = todo[order[n]];
      if (c.needs != Needs::Sizes && !vertices.get()) return;
      if (c.needs == Needs::Cells && !cells.get()) return;
      try {
        c.run(mesh, result.cells);
      } catch (...) {
        failures[order[n]] = std::current_exception();
      }
    }
  };
  std::optional<HelperJob> helper_job;
  start_on_helper(helper_job, work);
  try {
    read_coordinates(in, mesh);
    // Before the tasks that wait for the vertices: the convergence figure
    // takes the control functions.
    read_controls(files, mesh);
    result.cells = sized_cell_table(mesh);
  } catch (...) {
    vertices_read.set_value(false);
    cells_measured.set_value(false);
    throw;  // helper_job waits for the tasks on its way out
  }
  vertices_read.set_value(true);
  work();
  if (helper_job) helper_job->finish();

  result.checked = checked_names(files, checked, failures);
  if (mesh.controls != 0) result.checked.push_back(files.bare_name(OutputFile::Controls));
  return result;
}

}  // namespace malha::report

// malha-report: checks the files malha wrote for one case against each
// other, measures the quality of every cell and how far the smoothing is
// from converged, and writes the mesh for the programs of the field
// (ParaView, Plot3D tools, Gmsh, OpenFOAM) with the six sides of its
// boundary named, and as a picture. It reads the case files and never
// writes to them.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "files/layout.h"
#include "platform.h"
#include "report/checks/case_files.h"
#include "report/checks/records.h"
#include "report/exports/exports.h"
#include "report/measures/region.h"
#include "report/output_file.h"
#include "report/report.h"
#include "smoothing/figure.h"
#include "textio.h"

namespace {

using namespace malha::report;

constexpr int kFileCheckFailed = 1;
constexpr int kUsageError = 2;
constexpr int kQualityCheckFailed = 3;  // with --strict

const char kHelp[] =
    "Usage: malha-report [options] [CASE]\n"
    "\n"
    "Checks the mesh files malha wrote for a case against each other, measures the\n"
    "quality of every cell and how far the smoothing is from converged, and prints\n"
    "a report. CASE is the case name or the path to CASE.txt; without it, the case\n"
    "named on the first line of entradas.txt in the current folder. The case files\n"
    "are only read; the files asked for below are written beside them.\n"
    "\n"
    "Options:\n"
    "  --json          print one JSON object instead of the report\n"
    "  --vtk           also write CASE.vts (VTK XML structured grid, for ParaView)\n"
    "  --plot3d        also write CASE.xyz (formatted 2-D Plot3D grid)\n"
    "  --vtu           also write CASE.vtu (VTK XML unstructured grid, the sides\n"
    "                  as line cells; ParaView, meshio)\n"
    "  --foam          also write CASE_openfoam/, an OpenFOAM case of the mesh\n"
    "                  (one cell thick, the sides as patches)\n"
    "  --cgns          also write CASE.cgns (CGNS structured zone, the sides as\n"
    "                  boundary conditions)\n"
    "  --msh           also write CASE.msh (Gmsh MSH 4.1, the sides as groups)\n"
    "  --map METRIC    also write CASE_METRIC.png (through gnuplot) or .svg;\n"
    "                  METRIC: {metrics}\n"
    "  --svg           with --map: write the SVG even when gnuplot is there\n"
    "  --strict        exit with status 3 when the mesh fails a quality check\n"
    "  -h, --help      show this help and stop\n"
    "  -V, --version   show the version and stop\n"
    "\n"
    "The report ends with its verdict: 'mesh OK', or 'N checks failed: ...' naming\n"
    "them (inverted cells, concave cells, faces at 90 deg or more, a file check).\n"
    "\n"
    "Exit status: 0 when the files are consistent and the report is written,\n"
    "whatever the quality of the mesh; 1 when a file is missing, malformed or\n"
    "inconsistent (the message names the file, the line, what was expected and\n"
    "what was found); 2 for a wrong command line; 3, with --strict only, when a\n"
    "quality check fails. See malha-report(1).\n";

// The help, the metrics' keys in it from the metric table, wrapped under
// the option's text.
std::string help_text() {
  constexpr std::string_view kSlot = "{metrics}";
  constexpr std::size_t kWidth = 79;
  std::string help = kHelp;
  const std::size_t at = help.find(kSlot);
  const std::size_t indent = at - help.rfind('\n', at) - 1 - std::string_view("METRIC: ").size();
  std::string keys;
  std::size_t column = at - help.rfind('\n', at) - 1;
  for (const MetricInfo& m : metric_table()) {
    const std::string key = std::string(m.key) + (&m == &metric_table().back() ? "" : ",");
    if (!keys.empty() && column + 1 + key.size() > kWidth) {
      keys += '\n';
      keys.append(indent, ' ');
      column = indent;
    } else if (!keys.empty()) {
      keys += ' ';
      ++column;
    }
    keys += key;
    column += key.size();
  }
  return help.replace(at, kSlot.size(), keys);
}

struct Options {
  bool json = false, vtk = false, plot3d = false, msh = false, vtu = false, foam = false,
       cgns = false, svg = false, strict = false;
  std::vector<Metric> maps;  // one map each, in the order asked, each once
  std::string case_argument;
};

// Writes the text out; output that cannot be written (a full disk) is a
// failure, not a silent success.
void say(std::FILE* to, const std::string& text) {
  if (std::fputs(text.c_str(), to) == EOF || std::fflush(to) == EOF)
    fail(to == stdout ? "standard output" : "standard error", 0, "the report written",
         std::strerror(errno));
}

[[noreturn]] void usage_error(const std::string& message) {
  (void)std::fprintf(stderr, "malha-report: %s\nTry 'malha-report --help'.\n", message.c_str());
  std::exit(kUsageError);
}

Options parse(int argc, char** argv) {
  Options o;
  bool cases_only = false;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (cases_only || a.empty() || a[0] != '-' || a == "-") {
      if (!o.case_argument.empty()) usage_error("more than one case: '" + shown_name(a) + "'");
      o.case_argument = a;
    } else if (a == "--") {
      cases_only = true;
    } else if (a == "-h" || a == "--help") {
      std::exit(std::fputs(help_text().c_str(), stdout) == EOF || std::fflush(stdout) == EOF ? 1
                                                                                             : 0);
    } else if (a == "-V" || a == "--version") {
      std::exit(std::printf("malha-report %s\n", MALHA_VERSION) < 0 || std::fflush(stdout) == EOF
                    ? 1
                    : 0);
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--vtk") {
      o.vtk = true;
    } else if (a == "--plot3d") {
      o.plot3d = true;
    } else if (a == "--foam") {
      o.foam = true;
    } else if (a == "--cgns") {
      o.cgns = true;
    } else if (a == "--vtu") {
      o.vtu = true;
    } else if (a == "--msh") {
      o.msh = true;
    } else if (a == "--svg") {
      o.svg = true;
    } else if (a == "--strict") {
      o.strict = true;
    } else if (a == "--map" || a.starts_with("--map=")) {
      std::string name = a.size() > 5 ? a.substr(6) : "";
      if (a == "--map") {
        if (k + 1 >= argc) usage_error("--map needs a METRIC");
        name = argv[++k];
      }
      Metric metric = Metric::EquiangleSkew;
      if (!metric_from_key(name, metric))
        usage_error("unknown METRIC '" + shown_name(name) + "'; the metrics: " + metric_keys());
      if (std::find(o.maps.begin(), o.maps.end(), metric) == o.maps.end()) o.maps.push_back(metric);
    } else {
      usage_error("unknown option '" + shown_name(a) + "'");
    }
  }
  if (o.svg && o.maps.empty()) usage_error("--svg goes with --map METRIC");
  if (o.cgns && !cgns_supported()) {
    (void)std::fprintf(stderr,
                       "malha-report: --cgns: this build has no CGNS support (it was built "
                       "without the CGNS library)\n");
    std::exit(kUsageError);
  }
  return o;
}

// The case named in entradas.txt, read as malha reads it.
std::string case_of_working_folder() {
  constexpr char kCaseFile[] = "entradas.txt";
  if (malha::platform::file_kind(kCaseFile) == malha::platform::FileKind::Missing)
    fail(kCaseFile, 0, "a CASE on the command line or the case file in the current folder",
         "neither");
  // Refused here, with the report's own kind of message, unless it is a
  // regular file; the unit refuses one that has changed since.
  { const RecordReader regular_only(kCaseFile, kCaseFile); }
  malha::textio::open_input_unit(1, kCaseFile);
  std::string name;
  malha::textio::read_text(1, name);
  malha::textio::close_unit(1);
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

// OpenFOAM takes a case's name as a file name of its own kind, which drops
// blanks and quotes: a folder whose name holds one cannot be opened by it
// (checkMesh -case 'my mesh_openfoam' looks for mymesh_openfoam). Says so,
// with a name it can open, or "" when the name is one.
std::string foam_name_advice(const std::string& folder) {
  const auto unusable = [](char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == '\'' || c == '"';
  };
  if (std::none_of(folder.begin(), folder.end(), unusable)) return "";
  std::string safe = folder;
  std::replace_if(safe.begin(), safe.end(), unusable, '_');
  return "; OpenFOAM cannot open a case whose name holds a blank or a quote: give the folder a "
         "name without, such as " +
         shown_name(safe);
}

// The files asked for, each written whole beside the case, never over one
// of its files. What was written goes with the report, or to standard error
// beside JSON.
void write_exports(const Options& o, const CaseFiles& files, const Mesh& mesh,
                   const CellTable& cells) {
  for (const malha::FileLayout& f : malha::kOutputFiles)
    if (f.after_case_name) protect_from_writing(files.path(f.file), files.name(f.file));
  std::FILE* said = o.json ? stderr : stdout;
  const auto wrote = [&](const char* what, const char* suffix) {
    say(said, std::string(what) + ": wrote " + shown_name(files.path(suffix)) + "\n");
  };
  if (o.vtk) {
    write_vtk(files.path(".vts"), files.stem, mesh, cells);
    wrote("vtk", ".vts");
  }
  if (o.vtu) {
    write_vtu(files.path(".vtu"), files.stem, mesh, cells);
    wrote("vtu", ".vtu");
  }
  if (o.plot3d) {
    write_plot3d(files.path(".xyz"), mesh);
    wrote("plot3d", ".xyz");
  }
  if (o.msh) {
    write_msh(files.path(".msh"), mesh);
    wrote("msh", ".msh");
  }
  if (o.foam) {
    const std::string folder = files.path("_openfoam");
    const std::string system = write_foam(folder, mesh);
    say(said, "foam: wrote " + shown_name(folder) + "/, " + system +
                  foam_name_advice(files.stem + "_openfoam") + "\n");
  }
  if (o.cgns) {
    write_cgns(files.path(".cgns"), files.stem, mesh, cells);
    wrote("cgns", ".cgns");
  }
  for (const Metric metric : o.maps) {
    const std::string stem = files.path(std::string("_") + info(metric).key);
    say(said, write_map(stem, files.stem, mesh, cells, metric, !o.svg) + "\n");
  }
}

int run(const Options& o) {
  CaseFiles files;
  // The measures run beside the checks: two halves of the rows and the
  // convergence figure.
  std::array<QualityTally, 2> halves;
  Report r;
  const std::vector<CaseTask> measures = {
      [&](const Mesh& m, const CellTable& c) { halves[0].add_rows(m, c, 1, m.ny / 2); },
      [&](const Mesh& m, const CellTable& c) { halves[1].add_rows(m, c, m.ny / 2 + 1, m.ny); },
      [&](const Mesh& m, const CellTable&) {
        // With the control functions the mesh was smoothed with, when the
        // case has them: the equations malha solved.
        const malha::Sources sources =
            m.controls != 0 ? malha::Sources{m.psrc.data(), m.qsrc.data()} : malha::Sources{};
        r.convergence = malha::convergence_figure(m.xv.data(), m.yv.data(), m.nxv, m.nyv, m.dksi,
                                                  m.deta, sources);
      }};
  // A file check that fails ends the output with its verdict too, before the
  // message on standard error says what was wrong.
  const CheckedCase checked = [&] {
    try {
      files =
          case_from_argument(o.case_argument.empty() ? case_of_working_folder() : o.case_argument);
      return read_case(files, measures);
    } catch (const CheckFailure& failure) {
      say(stdout, o.json ? failure_json(files, file_verdict(), failure.what())
                         : file_verdict().line() + "\n");
      throw;
    }
  }();
  const Mesh& mesh = checked.mesh;
  const CellTable& cells = checked.cells;
  halves[0].join(halves[1]);
  r.files = files;
  r.mesh = &mesh;
  r.cells = &cells;
  r.checked = checked.checked;
  r.quality = halves[0].result(mesh, cells);
  r.verdict = quality_verdict(r.quality);
  if (const std::string fault = region_fault(mesh, cells); !fault.empty())
    r.verdict.failed.push_back({"region", "not the L-shaped region: " + fault});
  const std::string text = o.json ? json_report(r) : text_report(r);
  say(stdout, text);
  write_exports(o, files, mesh, cells);
  return o.strict && !r.verdict.ok() ? kQualityCheckFailed : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  malha::platform::catch_file_size_signal();
  try {
    return run(options);
  } catch (const CheckFailure& failure) {
    (void)std::fprintf(stderr, "malha-report: %s\n", failure.what());
    if (cgns_failed()) {
      (void)std::fflush(stdout);
      (void)std::fflush(stderr);
      malha::platform::exit_now(kFileCheckFailed);
    }
  } catch (const std::bad_alloc&) {
    (void)std::fprintf(stderr, "malha-report: not enough memory for the mesh\n");
  } catch (const std::exception& error) {  // the system refused something (a thread, a folder)
    (void)std::fprintf(stderr, "malha-report: %s\n", error.what());
  }
  return kFileCheckFailed;
}

#include "run/summary.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "files/dados.h"
#include "files/layout.h"
#include "platform.h"
#include "smoothing/converge.h"
#include "textio.h"

namespace malha {

namespace {

// The region: the unit square without its upper-right quarter.
constexpr double kRegionArea = 0.75;
// The summary's lines are wrapped before this column.
constexpr std::size_t kLineWidth = 79;
constexpr char kPrefix[] = "malha: ";
constexpr char kIndent[] = "       ";  // as wide as the prefix

using textio::formatted;

// The shortest text that reads back as the same double, its exponent (if
// any) written with "E" like every number the run writes.
std::string shortest(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  std::string shown(text, result.ptr);
  if (const std::size_t e = shown.find('e'); e != std::string::npos) shown[e] = 'E';
  return shown;
}

std::string cell_text(const CellRef& c) {
  return formatted("volume %lld (i = %ld, j = %ld)", static_cast<long long>(c.volume),
                   static_cast<long>(c.i), static_cast<long>(c.j));
}

// The area inside the mesh's boundary (positive counter-clockwise): the
// smoothing never moves the boundary, so this is the area every output mesh
// covers, whatever its interior.
double boundary_area(const MeshState& s) {
  std::vector<std::int64_t> loop;
  const auto k = [&](std::int64_t i, std::int64_t j) { return (j - 1) * s.nxv + i; };
  for (std::int64_t i = 1; i < s.nxv; ++i) loop.push_back(k(i, 1));
  for (std::int64_t j = 1; j < s.nyv; ++j) loop.push_back(k(s.nxv, j));
  for (std::int64_t i = s.nxv; i > 1; --i) loop.push_back(k(i, s.nyv));
  for (std::int64_t j = s.nyv; j > 1; --j) loop.push_back(k(1, j));
  double twice = 0.0;
  for (std::size_t n = 0; n < loop.size(); ++n) {
    const std::int64_t a = loop[n], b = loop[(n + 1) % loop.size()];
    twice += s.xv(a) * s.yv(b) - s.xv(b) * s.yv(a);
  }
  return twice / 2.0;
}

std::string size_text(std::int64_t bytes) {
  if (bytes < 0) return "size unknown";
  if (bytes < 1000) return formatted("%lld B", static_cast<long long>(bytes));
  if (bytes < 1000 * 1000) return formatted("%.3G kB", static_cast<double>(bytes) / 1e3);
  if (bytes < 1000LL * 1000 * 1000) return formatted("%.3G MB", static_cast<double>(bytes) / 1e6);
  return formatted("%.3G GB", static_cast<double>(bytes) / 1e9);
}

// Appends the items to `out`, separated by blanks, as lines that begin with
// the prefix, then the indent, wrapped before kLineWidth between items.
void append_wrapped(std::string& out, const std::vector<std::string>& items) {
  std::string line = kPrefix;
  for (const std::string& item : items) {
    if (line.size() > sizeof kIndent - 1 && line.size() + 1 + item.size() > kLineWidth) {
      out += line + "\n";
      line = kIndent;
    } else if (line.size() > sizeof kIndent - 1) {
      line += ' ';
    }
    line += item;
  }
  out += line + "\n";
}

std::string case_lines(const MeshState& s, const ConvergeSummary* converge) {
  std::vector<std::string> items = {
      "case '" + case_stem(s) + "':",
      formatted("nx = %ld, ny = %ld,", static_cast<long>(s.nx), static_cast<long>(s.ny))};
  if (s.grading != 1.0)
    items.push_back("graded toward the re-entrant corner (gamma = " + shortest(s.grading) + "),");
  items.emplace_back(option_on(s.opt_nest) ? "nest files on," : "nest files off,");
  if (s.controls) items.emplace_back("control functions at the outer corner,");
  if (option_on(s.opt_elliptic) && converge != nullptr) {
    items.emplace_back("smoothing to convergence");
    items.push_back(formatted("(tolerance %.3G,", converge->tolerance));
    items.push_back("dksi = " + shortest(s.dksi) + ", deta = " + shortest(s.deta) + ")");
  } else if (option_on(s.opt_elliptic)) {
    items.push_back(formatted("smoothing on (niter = %ld, nsweep = %ld,",
                              static_cast<long>(s.niter), static_cast<long>(s.nsweep)));
    items.push_back("dksi = " + shortest(s.dksi) + ", deta = " + shortest(s.deta) + ")");
  } else {
    items.emplace_back("smoothing off");
  }
  std::string out;
  append_wrapped(out, items);
  return out;
}

// The files as "CASE.txt 44.9 kB, CASE_*.txt: vert 33.6 kB, ...": the names
// that begin with the case name are told by what follows it, without its
// "_" and ".txt"; the files every case shares come last.
std::string files_lines(const MeshState& s, double seconds) {
  std::int64_t total = 0;
  std::size_t count = 0;
  const auto sized = [&](const std::string& label, OutputFile file) {
    const std::int64_t bytes = platform::file_size(output_file_name(s, file));
    if (bytes > 0) total += bytes;
    ++count;
    return label + " " + size_text(bytes) + ",";
  };
  std::vector<std::string> items = {"wrote"};
  std::vector<OutputFile> listed = case_files_listed(FileSet::Mesh);
  if (s.controls) listed.push_back(OutputFile::Controls);
  if (option_on(s.opt_nest)) {
    const std::vector<OutputFile> nest = case_files_listed(FileSet::Nest);
    listed.insert(listed.end(), nest.begin(), nest.end());
  }
  for (const OutputFile file : listed) {
    std::string_view label = file_layout(file).name;
    if (file == OutputFile::Mesh) {
      items.push_back(sized(output_file_name(s, file), file));
      items.push_back(case_stem(s) + "_*.txt:");
      continue;
    }
    if (label.starts_with('_')) label.remove_prefix(1);
    if (label.ends_with(".txt")) label.remove_suffix(4);
    items.push_back(sized(std::string(label), file));
  }
  for (const FileLayout& f : kOutputFiles)
    if (!f.after_case_name) items.push_back(sized(std::string(f.name), f.file));
  items.back().back() = ';';
  items.push_back(formatted("%zu files,", count));
  items.push_back(size_text(total) + ",");
  items.push_back(formatted("in %.2f s", seconds));
  std::string out;
  append_wrapped(out, items);
  return out;
}

std::string bad_cells_text(const BadCells& bad) {
  const std::int64_t inverted = bad.inverted.count(), concave = bad.concave.count();
  if (inverted == 0 && concave == 0) return "none inverted or concave";
  return formatted("%lld inverted, %lld concave", static_cast<long long>(inverted),
                   static_cast<long long>(concave));
}

std::string quality_lines(const MeshQuality& q) {
  std::vector<std::string> items = {
      formatted("cells: area %.3G to %.3G,", q.smallest_area, q.largest_area),
      formatted("corner angles within %.1f degrees of 90", q.largest_angle_deviation),
      formatted("at %s;", cell_text(q.worst_angle_cell).c_str()), bad_cells_text(q.bad)};
  std::string out;
  append_wrapped(out, items);
  return out;
}

// One warning line: how many cells of the kind, what the kind is, and the
// listed ones, the worst first.
std::string bad_cells_warning(const CellList& list, const char* kind, const char* rule) {
  const auto count = static_cast<long long>(list.count());
  std::string line = std::string(kPrefix) + "warning: " +
                     formatted("%lld %s cell%s (%s); by area, the worst first: ", count, kind,
                               count == 1 ? "" : "s", rule);
  for (std::size_t k = 0; k < list.listed(); ++k)
    line += (k > 0 ? ", " : "") + cell_text(list[k].cell) + formatted(" area %.4G", list[k].area);
  const auto unlisted = count - static_cast<long long>(list.listed());
  if (unlisted > 0) line += formatted(" and %lld more", unlisted);
  return line + "\n";
}

}  // namespace

std::string fitted_line(const std::string& head, const std::vector<LinePart>& parts,
                        std::size_t width) {
  std::vector<bool> kept(parts.size(), true);
  while (true) {
    std::string line = head;
    for (std::size_t k = 0; k < parts.size(); ++k)
      if (kept[k]) line += parts[k].text;
    std::size_t first = parts.size();  // the kept part to drop next
    for (std::size_t k = 0; k < parts.size(); ++k)
      if (kept[k] && (first == parts.size() || parts[k].drop_rank < parts[first].drop_rank))
        first = k;
    if (line.size() <= width || first == parts.size()) {
      line.resize(std::min(line.size(), width));
      return line;
    }
    kept[first] = false;
  }
}

std::string convergence_text(const ConvergenceFigure& figure) {
  if (!figure.defined) return "no interior vertex";
  return formatted("move %.2E (%.2G%% of min edge)", figure.largest_move, 100.0 * figure.relative);
}

std::string mesh_warnings(const MeshState& s, const MeshQuality& q) {
  std::string out;
  if (s.nx % 2 != 0) {
    const double covered = boundary_area(s);
    out += std::string(kPrefix) + "warning: " +
           formatted(
               "nx = %ld is odd: the right end of the mesh leans beyond x = 1 and the mesh "
               "covers %.4G, %.4G more than the region's 0.75; an even nx fits the region\n",
               static_cast<long>(s.nx), covered, covered - kRegionArea);
  }
  if (q.bad.inverted.count() > 0)
    out += bad_cells_warning(q.bad.inverted, "inverted", "area 0 or less");
  if (q.bad.concave.count() > 0)
    out += bad_cells_warning(q.bad.concave, "concave",
                             "a corner of 180 degrees or more; inverted ones included");
  return out;
}

std::string rounding_warning(const ConvergeSummary& c, bool graded) {
  return std::string(kPrefix) +
         formatted(
             "warning: --converge: the smoothing stopped where rounding leaves this mesh, at "
             "%.2E of its shortest edge, %s the default tolerance %.3G%s; --converge=TOL "
             "asks for TOL or a report\n",
             c.reached,
             c.files_above ? "which the 16 significant digits of its files hold above" : "above",
             c.tolerance, graded ? " (a graded mesh's shortest edge is small)" : "");
}

std::string converge_warning() {
  return std::string(kPrefix) +
         "warning: --converge has nothing to do: smoothing is off in entradas.txt\n";
}

std::string run_summary(const MeshState& s, const MeshQuality& q, const ConvergenceFigure* figure,
                        double seconds, const ConvergeSummary* converge) {
  std::string out = case_lines(s, converge) + files_lines(s, seconds) + quality_lines(q);
  if (figure != nullptr && figure->defined && converge != nullptr) {
    append_wrapped(
        out, {formatted("convergence: %ld multigrid cycles;", static_cast<long>(converge->cycles)),
              "an update would still move",
              formatted("vertex %lld by %.2E,", static_cast<long long>(figure->vertex),
                        figure->largest_move),
              formatted("%.2E of the shortest edge", figure->relative)});
  } else if (figure != nullptr && figure->defined) {
    append_wrapped(out, {"convergence: an update would still move",
                         formatted("vertex %lld by %.2E,", static_cast<long long>(figure->vertex),
                                   figure->largest_move),
                         formatted("%.2G%% of the shortest edge", 100.0 * figure->relative)});
  }
  return out;
}

RunReport::RunReport() : start_(std::chrono::steady_clock::now()) {}

void RunReport::mesh_done(const MeshState& s) {
  // The whole measure only for the summary, which a terminal alone shows; the
  // warnings about inverted and concave cells need only the areas and the
  // corner turns, and cost little.
  if (platform::stderr_is_terminal())
    quality_ = measure_mesh(s.xv.data(), s.yv.data(), s.nx, s.ny, area_frame(s));
  else
    quality_.bad = find_bad_cells(s.xv.data(), s.yv.data(), s.nx, s.ny, area_frame(s));
}

void RunReport::run_done(const MeshState& s) const {
  // Nothing here may stop a run that has completed: no trap while it computes.
  const platform::FpTrapsHeld held;
  const bool converged = converge_asked_ && converge_.smoothed;
  std::string out =
      setting_warnings(s, converged) + mesh_warnings(s, quality_) + earlier_files_warning(s);
  if (converge_asked_ && !converge_.smoothed) out += converge_warning();
  if (converged && converge_.at_rounding) out += rounding_warning(converge_, s.grading != 1.0);
  const ConvergeSummary* converge = converged ? &converge_ : nullptr;
  if (platform::stderr_is_terminal()) {
    // The run's own work: the time the editor and the plots were open is
    // the user's, not the run's.
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double seconds = std::max(0.0, elapsed - textio::command_seconds());
    if (option_on(s.opt_elliptic)) {
      const ConvergenceFigure figure =
          convergence_figure(s.xv.data(), s.yv.data(), s.nxv, s.nyv, s.dksi, s.deta, sources_of(s));
      out += run_summary(s, quality_, &figure, seconds, converge);
    } else {
      out += run_summary(s, quality_, nullptr, seconds);
    }
  }
  platform::write_stderr(out.data(), out.size());
}

}  // namespace malha

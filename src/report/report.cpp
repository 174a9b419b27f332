#include "report/report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "report/checks/records.h"
#include "report/json.h"
#include "report/measures/sides.h"

namespace malha::report {

namespace {

std::string grid_vertex(const Mesh& mesh, std::int64_t k) {
  return std::to_string(k) + " (" + std::to_string((k - 1) % mesh.nxv + 1) + ", " +
         std::to_string((k - 1) / mesh.nxv + 1) + ")";
}

// What opens the spacings of the header: " (", or for a mesh smoothed with
// control functions " with control functions (corner; ".
std::string spacings_opening(const Mesh& m) {
  if (m.controls == 0) return " (";
  return " with control functions (" + std::string(control_kind_name(m.controls)) + "; ";
}

std::string convergence_line(const Report& r) {
  const ConvergenceFigure& c = r.convergence;
  if (!c.defined) return "convergence: not defined, the mesh has no interior vertex (ny = 1)\n";
  // Spacings of 0 (or a collapsed mesh) leave the update 0/0: no move to
  // measure, and no "nan" in the report.
  if (!std::isfinite(c.largest_move) || !std::isfinite(c.relative))
    return "convergence: not measured, one more Gauss-Seidel update with dksi = " +
           short_number(r.mesh->dksi) + " and deta = " + short_number(r.mesh->deta) +
           ", the spacings the files hold, gives no finite move\n";
  return "convergence: one more Gauss-Seidel update would move vertex " +
         grid_vertex(*r.mesh, c.vertex) + " by " + short_number(c.largest_move) + ", " +
         short_number(c.relative) + " times the shortest edge (" + short_number(c.smallest_edge) +
         ")\n";
}

template <class Integers>
void integer_array(Json& j, const std::string& key, const Integers& values) {
  j.open(key, '[');
  for (std::int64_t n : values) j.integer("", n);
  j.close(']');
}

// The six sides: how many faces, how long, and which cells hold them.
std::string sides_table(const Mesh& m) {
  std::string out = padded("side", 24, true) + padded("faces", 8) + padded("length", 12) +
                    "   cells (their face on the side)\n";
  for (const SideInfo& s : side_table()) {
    const SideCells c = side_cells(m, s.side);
    const bool row = c.first_j == c.last_j;
    const std::string fixed =
        row ? "j = " + std::to_string(c.first_j) : "i = " + std::to_string(c.first_i);
    const std::string run =
        row ? "i = " + std::to_string(c.first_i) + " to " + std::to_string(c.last_i)
            : "j = " + std::to_string(c.first_j) + " to " + std::to_string(c.last_j);
    out += padded(s.key, 24, true) + padded(std::to_string(c.faces()), 8) +
           padded(short_number(side_length(m, s.side)), 12) + "   " + fixed + ", " + run +
           " (face " + std::to_string(c.face) + ")\n";
  }
  return out;
}

void sides_object(Json& j, const Mesh& m) {
  j.open("sides", '{');
  for (const SideInfo& s : side_table()) {
    const SideCells c = side_cells(m, s.side);
    j.open(s.key, '{');
    j.integer("faces", c.faces());
    j.number("length", side_length(m, s.side));
    j.integer("face", c.face);
    integer_array(j, "i", std::array<std::int64_t, 2>{c.first_i, c.last_i});
    integer_array(j, "j", std::array<std::int64_t, 2>{c.first_j, c.last_j});
    j.close('}');
  }
  j.close('}');
}

}  // namespace

std::string padded(const std::string& s, std::size_t width, bool left) {
  if (s.size() >= width) return left ? s + " " : " " + s;
  const std::string fill(width - s.size(), ' ');
  return left ? s + fill : fill + s;
}

std::string short_number(double value) {
  char buffer[32];
  (void)std::snprintf(buffer, sizeof buffer, "%.6g", value);
  return buffer;
}

std::string exact_number(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string text_report(const Report& r) {
  const Mesh& m = *r.mesh;
  std::string out = "case " + shown_name(r.files.stem) + ": " + std::to_string(m.nx) + " x " +
                    std::to_string(m.ny) + " volumes, " + std::to_string(m.nxv) + " x " +
                    std::to_string(m.nyv) + " vertices, " +
                    (m.smoothed() ? "smoothed" : "algebraic") + spacings_opening(m) + "dksi " +
                    short_number(m.dksi) +
                    ", deta " + short_number(m.deta) + ")\n";
  // The files after the first by what follows the case name: "_vert", ...
  out += "files: " + std::to_string(r.checked.size()) + " checked and consistent: ";
  for (std::size_t k = 0; k < r.checked.size(); ++k) {
    std::string name = r.checked[k];
    if (k > 0) {
      out += ", ";
      name = name.substr(r.files.stem.size(), name.size() - r.files.stem.size() - 4);
    }
    out += shown_name(name);
  }
  out += "\n";
  out += quality_table(r);
  out += convergence_line(r);
  out += sides_table(m);
  out += '\n';
  out += quality_histograms(r);
  out += r.verdict.line() + "\n";
  return out;
}

std::string json_report(const Report& r) {
  const Mesh& m = *r.mesh;
  const QualitySummary& q = r.quality;
  Json j;
  j.open("", '{');
  j.string("program", "malha-report");
  j.string("version", MALHA_VERSION);
  j.string("case", r.files.stem);
  j.open("files_checked", '[');
  for (const std::string& f : r.checked) j.string("", f);
  j.close(']');
  j.open("mesh", '{');
  j.integer("nx", m.nx);
  j.integer("ny", m.ny);
  j.integer("nxv", m.nxv);
  j.integer("nyv", m.nyv);
  j.integer("cells", q.cells);
  j.boolean("smoothed", m.smoothed());
  if (m.controls != 0) j.string("controls", std::string(control_kind_name(m.controls)));
  j.number("dksi", m.dksi);
  j.number("deta", m.deta);
  j.close('}');
  sides_object(j, m);
  quality_json(j, r);
  const ConvergenceFigure& c = r.convergence;
  j.open("convergence", '{');
  j.boolean("defined", c.defined);
  if (c.defined) {
    j.number("largest_move", c.largest_move);
    j.integer("vertex", c.vertex);
    j.integer("i", (c.vertex - 1) % m.nxv + 1);
    j.integer("j", (c.vertex - 1) / m.nxv + 1);
    j.number("smallest_edge", c.smallest_edge);
    j.number("relative", c.relative);
  }
  j.close('}');
  verdict_json(j, r.verdict);
  j.close('}');
  return j.text() + "\n";
}

std::string failure_json(const CaseFiles& files, const Verdict& verdict,
                         const std::string& message) {
  Json j;
  j.open("", '{');
  j.string("program", "malha-report");
  j.string("version", MALHA_VERSION);
  j.string("case", files.stem);
  verdict_json(j, verdict);
  j.string("message", message);
  j.close('}');
  return j.text() + "\n";
}

}  // namespace malha::report

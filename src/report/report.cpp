#include "report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "records.h"
#include "sides.h"

namespace malha::report {

namespace {

constexpr int kBarWidth = 40;  // columns of the longest histogram bar

// `s` in a column of `width`; one that does not fit still keeps a blank
// from its neighbour, so that columns never run together.
std::string padded(const std::string& s, std::size_t width, bool left = false) {
  if (s.size() >= width) return left ? s + " " : " " + s;
  const std::string fill(width - s.size(), ' ');
  return left ? s + fill : fill + s;
}

std::string where(const Extremum& e) {
  return std::to_string(e.cell.volume) + " (" + std::to_string(e.cell.i) + ", " +
         std::to_string(e.cell.j) + ") at (" + short_number(e.xc) + ", " + short_number(e.yc) + ")";
}

std::string bin_label(std::size_t b) {
  const std::string low = short_number(kAngleBins[b]);
  if (b + 1 == kAngleBins.size()) return low + " and over";
  return low + " - " + short_number(kAngleBins[b + 1]);
}

std::string histogram(const char* title, const Histogram& h) {
  const std::int64_t most = std::max<std::int64_t>(1, *std::max_element(h.begin(), h.end()));
  std::string out = std::string(title) + "\n";
  for (std::size_t b = 0; b < h.size(); ++b) {
    const auto bar = static_cast<std::size_t>((h[b] * kBarWidth + most - 1) / most);
    out += "  " + padded(bin_label(b), 12, true) + padded(std::to_string(h[b]), 10);
    if (bar > 0) out += "  " + std::string(bar, '#');
    out += '\n';
  }
  return out;
}

// "concave cells (...): 3, smallest area first: 191 (11, 10) area -0.00994; ..."
std::string cell_list_line(const char* title, const CellList& list) {
  std::string out = std::string(title) + ": " + std::to_string(list.count());
  for (std::size_t k = 0; k < list.listed(); ++k) {
    const CellList::Entry& e = list[k];
    out += k > 0 ? "; " : ", smallest area first: ";
    out += std::to_string(e.cell.volume) + " (" + std::to_string(e.cell.i) + ", " +
           std::to_string(e.cell.j) + ") area " + short_number(e.area);
  }
  if (list.count() > static_cast<std::int64_t>(list.listed())) out += "; ...";
  return out + "\n";
}

std::string grid_vertex(const Mesh& mesh, std::int64_t k) {
  return std::to_string(k) + " (" + std::to_string((k - 1) % mesh.nxv + 1) + ", " +
         std::to_string((k - 1) / mesh.nxv + 1) + ")";
}

std::string convergence_line(const Report& r) {
  const ConvergenceFigure& c = r.convergence;
  if (!c.defined) return "convergence: not defined, the mesh has no interior vertex (ny = 1)\n";
  return "convergence: one more Gauss-Seidel update would move vertex " +
         grid_vertex(*r.mesh, c.vertex) + " by " + short_number(c.largest_move) + ", " +
         short_number(c.relative) + " times the shortest edge (" + short_number(c.smallest_edge) +
         ")\n";
}

// JSON building: a text with the separators put in as values are added.
class Json {
 public:
  void open(const std::string& key, char bracket) {
    name(key);
    out_ += bracket;
    first_ = true;
  }
  void close(char bracket) {
    out_ += bracket;
    first_ = false;
  }
  void raw(const std::string& key, const std::string& value) {
    name(key);
    out_ += value;
    first_ = false;
  }
  void number(const std::string& key, double v) { raw(key, exact_number(v)); }
  void integer(const std::string& key, std::int64_t v) { raw(key, std::to_string(v)); }
  void string(const std::string& key, const std::string& v) { raw(key, quote(v)); }
  void boolean(const std::string& key, bool v) { raw(key, v ? "true" : "false"); }
  const std::string& text() const { return out_; }

  // A JSON string, valid UTF-8 whatever `s` holds: a byte that is not part
  // of a valid UTF-8 sequence becomes the text \xNN (as messages show it).
  static std::string quote(const std::string& s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string q = "\"";
    for (std::size_t k = 0; k < s.size();) {
      const auto c = static_cast<unsigned char>(s[k]);
      const std::size_t length = utf8_length(s, k);
      if (length == 0) {
        q += "\\\\x";
        q += static_cast<char>(std::toupper(kHex[c >> 4]));
        q += static_cast<char>(std::toupper(kHex[c & 0xF]));
      } else if (c == '"' || c == '\\') {
        q += '\\';
        q += static_cast<char>(c);
      } else if (c < 0x20) {
        q += "\\u00";
        q += kHex[c >> 4];
        q += kHex[c & 0xF];
      } else {
        q.append(s, k, length);
      }
      k += length == 0 ? 1 : length;
    }
    return q + "\"";
  }

 private:
  void name(const std::string& key) {
    if (!first_) out_ += ",";
    first_ = false;
    if (!key.empty()) out_ += quote(key) + ":";
  }
  std::string out_;
  bool first_ = true;
};

void cell_object(Json& j, const std::string& key, const CellRef& cell, double x, double y) {
  j.open(key, '{');
  j.integer("volume", cell.volume);
  j.integer("i", cell.i);
  j.integer("j", cell.j);
  j.number("x", x);
  j.number("y", y);
  j.close('}');
}

void cell_list_object(Json& j, const std::string& key, const CellList& list,
                      const CellTable& cells) {
  j.open(key, '{');
  j.integer("count", list.count());
  j.open("worst", '[');
  for (const CellList::Entry& e : list) {
    const auto at = static_cast<std::size_t>(e.cell.volume - 1);
    j.open("", '{');
    j.integer("volume", e.cell.volume);
    j.integer("i", e.cell.i);
    j.integer("j", e.cell.j);
    j.number("x", cells.xc[at]);
    j.number("y", cells.yc[at]);
    j.number("area", e.area);
    j.close('}');
  }
  j.close(']');
  j.close('}');
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
  const QualitySummary& q = r.quality;
  std::string out = "case " + shown_name(r.files.stem) + ": " + std::to_string(m.nx) + " x " +
                    std::to_string(m.ny) + " volumes, " + std::to_string(m.nxv) + " x " +
                    std::to_string(m.nyv) + " vertices, " +
                    (m.smoothed() ? "smoothed" : "algebraic") + " (dksi " + short_number(m.dksi) +
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
  out += padded("", 24) + padded("min", 12) + padded("mean", 12) + padded("max", 12) +
         "   worst cell: volume (i, j) at (x, y)\n";
  for (const MetricInfo& entry : metric_table()) {
    const MetricSummary& s = q.metrics[static_cast<std::size_t>(entry.metric)];
    out += padded(entry.label, 24, true) + padded(short_number(s.min.value), 12) +
           padded(short_number(s.mean), 12) + padded(short_number(s.max.value), 12) + "   " +
           where(entry.low_is_worst ? s.min : s.max) + "\n";
  }
  out += "non-orthogonality above " + short_number(kNonOrthogonalityLimit) +
         " deg: " + std::to_string(q.above_limit) + " cells\n";
  out += cell_list_line("inverted cells (area 0 or less)", q.inverted);
  out += cell_list_line("concave cells (a corner of 180 deg or more)", q.concave);
  out += convergence_line(r);
  out += sides_table(m);
  out += '\n';
  out += histogram("skew (deg), cells per bin:", q.skew);
  out += histogram("non-orthogonality (deg), cells per bin:", q.non_orthogonality);
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
  j.number("dksi", m.dksi);
  j.number("deta", m.deta);
  j.close('}');
  sides_object(j, m);
  j.open("metrics", '{');
  for (const MetricInfo& entry : metric_table()) {
    const MetricSummary& s = q.metrics[static_cast<std::size_t>(entry.metric)];
    j.open(entry.key, '{');
    j.number("min", s.min.value);
    j.number("mean", s.mean);
    j.number("max", s.max.value);
    j.string("worst", entry.low_is_worst ? "min" : "max");
    cell_object(j, "min_cell", s.min.cell, s.min.xc, s.min.yc);
    cell_object(j, "max_cell", s.max.cell, s.max.xc, s.max.yc);
    j.close('}');
  }
  j.close('}');
  j.open("histograms", '{');
  j.open("bins_deg", '[');
  for (double edge : kAngleBins) j.number("", edge);
  j.close(']');
  integer_array(j, "skew", q.skew);
  integer_array(j, "non_orthogonality", q.non_orthogonality);
  j.close('}');
  j.number("non_orthogonality_limit_deg", kNonOrthogonalityLimit);
  j.integer("non_orthogonality_above_limit", q.above_limit);
  cell_list_object(j, "inverted", q.inverted, *r.cells);
  cell_list_object(j, "concave", q.concave, *r.cells);
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
  j.close('}');
  return j.text() + "\n";
}

}  // namespace malha::report

// The quality map: one field over the mesh, each cell filled with the colour
// of its value, and a colour scale.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "exports.h"
#include "output_file.h"
#include "report.h"

namespace malha::report {

namespace {

// The colour scale, low to high (the viridis stops), shared by both pictures.
constexpr std::array<const char*, 5> kStops = {"#440154", "#3b528b", "#21918c", "#5ec962",
                                               "#fde725"};
constexpr double kPictureWidth = 800.0;  // SVG drawing, pixels
constexpr double kScaleWidth = 160.0;    // room for the colour bar and its labels
constexpr double kMargin = 20.0;

bool gnuplot_on_path() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
#ifdef _WIN32
  constexpr char kSeparator = ';';
  const char* kName = "gnuplot.exe";
#else
  constexpr char kSeparator = ':';
  const char* kName = "gnuplot";
#endif
  const std::string all = path;
  for (std::size_t start = 0; start <= all.size();) {
    std::size_t end = all.find(kSeparator, start);
    if (end == std::string::npos) end = all.size();
    const std::filesystem::path candidate =
        std::filesystem::path(end > start ? all.substr(start, end - start) : ".") / kName;
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return true;
    start = end + 1;
  }
  return false;
}

// A text for a gnuplot script between single quotes (a quote is doubled).
std::string gnuplot_text(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// A file name as one word of the command interpreter.
std::string shell_word(const std::string& s) {
#ifdef _WIN32
  return "\"" + s + "\"";
#else
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
#endif
}

// Every cell as a 2 x 2 surface of its four corners, all carrying its value,
// so that pm3d fills it with exactly that colour.
void write_cells(const std::filesystem::path& data, const Mesh& mesh, const CellTable& cells,
                 Metric metric) {
  OutputFile out(data);
  double x[4], y[4];
  for_each_value(mesh, cells, metric, [&](const CellRef& cell, double value) {
    cell_corners(mesh, cell.i, cell.j, x, y);
    for (int c : {0, 1, -1, 3, 2}) {
      if (c < 0) {
        out.put("\n");
        continue;
      }
      out.number(x[c]);
      out.number(y[c]);
      out.number(value, '\n');
    }
    out.put("\n\n");
  });
  out.close();
}

bool draw_with_gnuplot(const std::filesystem::path& png, const Mesh& mesh, const CellTable& cells,
                       Metric metric, const std::string& title) {
  std::filesystem::path data = png, script = png;
  data += ".dat";
  script += ".gp";
  write_cells(data, mesh, cells, metric);
  {
    OutputFile gp(script);
    std::string palette;
    for (std::size_t k = 0; k < kStops.size(); ++k)
      palette += (k > 0 ? ", " : "") + std::to_string(k) + " '" + kStops[k] + "'";
    gp.put(
        "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {\n"
        "  set terminal pngcairo size 900,800 noenhanced\n"
        "} else {\n"
        "  set terminal png size 900,800 noenhanced\n"
        "}\n"
        "set output " +
        gnuplot_text(png.string()) +
        "\n"
        "set title " +
        gnuplot_text(title) +
        "\n"
        "set size ratio -1\nset view map\nunset key\nset xlabel 'x'\nset ylabel 'y'\n"
        "set palette defined (" +
        palette +
        ")\n"
        "set cblabel " +
        gnuplot_text(info(metric).label) +
        "\n"
        "splot " +
        gnuplot_text(data.string()) + " using 1:2:3 with pm3d\n");
    gp.close();
  }
  std::error_code error;
  std::filesystem::remove(png, error);
  const std::string command = "gnuplot " + shell_word(script.string());
  // gnuplot is run through the command interpreter on purpose: it is found
  // on the PATH as the user has it.
  const int status = std::system(command.c_str());  // NOLINT(cert-env33-c)
  std::filesystem::remove(data, error);
  std::filesystem::remove(script, error);
  return status == 0 && std::filesystem::is_regular_file(png, error);
}

std::string xml_text(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string svg_colour(double t) {
  if (!(t >= 0.0)) t = 0.0;
  t = std::min(t, 1.0) * static_cast<double>(kStops.size() - 1);
  const auto k = std::min(static_cast<std::size_t>(t), kStops.size() - 2);
  const double f = t - static_cast<double>(k);
  std::array<int, 3> rgb{};
  for (int c = 0; c < 3; ++c) {
    const int a = std::stoi(std::string(kStops[k] + 1 + 2 * c, 2), nullptr, 16);
    const int b = std::stoi(std::string(kStops[k + 1] + 1 + 2 * c, 2), nullptr, 16);
    rgb[static_cast<std::size_t>(c)] = static_cast<int>(std::lround(a + (b - a) * f));
  }
  char text[8];
  (void)std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

void draw_svg(const std::filesystem::path& svg, const Mesh& mesh, const CellTable& cells,
              Metric metric, const std::string& title) {
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for_each_value(mesh, cells, metric, [&](const CellRef&, double value) {
    if (!std::isfinite(value)) return;
    low = std::min(low, value);
    high = std::max(high, value);
  });
  const auto xs = std::minmax_element(mesh.xv.begin(), mesh.xv.end());
  const auto ys = std::minmax_element(mesh.yv.begin(), mesh.yv.end());
  const double xmin = *xs.first, xmax = *xs.second, ymin = *ys.first, ymax = *ys.second;
  const double span = std::max(xmax - xmin, ymax - ymin);
  const double scale = span > 0.0 ? kPictureWidth / span : 1.0;
  const double height = (ymax - ymin) * scale;
  const double top = 2 * kMargin;  // room for the title
  char number[64];
  const auto px = [&](double v) {
    (void)std::snprintf(number, sizeof number, "%.2f", v);
    return std::string(number);
  };

  OutputFile out(svg);
  out.put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
          px(kPictureWidth + kScaleWidth + 2 * kMargin) + "\" height=\"" +
          px(height + top + kMargin) +
          "\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
  out.put("<text x=\"" + px(kMargin) + "\" y=\"" + px(kMargin + 6) +
          "\" font-family=\"sans-serif\" font-size=\"16\">" + xml_text(title) +
          "</text>\n<g stroke=\"none\">\n");
  double x[4], y[4];
  for_each_value(mesh, cells, metric, [&](const CellRef& cell, double value) {
    cell_corners(mesh, cell.i, cell.j, x, y);
    std::string points;
    for (int c = 0; c < 4; ++c)
      points += px(kMargin + (x[c] - xmin) * scale) + "," + px(top + (ymax - y[c]) * scale) + " ";
    const double t = high > low ? (value - low) / (high - low) : 0.0;
    out.put("<polygon points=\"" + points + "\" fill=\"" + svg_colour(t) + "\"/>\n");
  });
  // The colour bar: a vertical gradient, high at the top, with its ends labelled.
  const double bar_x = kPictureWidth + 2 * kMargin;
  out.put("</g>\n<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">\n");
  for (std::size_t k = 0; k < kStops.size(); ++k)
    out.put("<stop offset=\"" + px(static_cast<double>(k) / (kStops.size() - 1)) +
            "\" stop-color=\"" + kStops[k] + "\"/>\n");
  out.put("</linearGradient></defs>\n<rect x=\"" + px(bar_x) + "\" y=\"" + px(top) +
          "\" width=\"24\" height=\"" + px(height) + "\" fill=\"url(#scale)\"/>\n");
  const auto label = [&](double yy, const std::string& s) {
    out.put("<text x=\"" + px(bar_x + 30) + "\" y=\"" + px(yy) +
            "\" font-family=\"sans-serif\" font-size=\"13\">" + s + "</text>\n");
  };
  label(top + 12, short_number(high));
  label(top + height, short_number(low));
  label(top + height / 2, info(metric).label);
  out.put("</svg>\n");
  out.close();
}

}  // namespace

std::string write_map(const std::filesystem::path& stem, const std::string& case_name,
                      const Mesh& mesh, const CellTable& cells, Metric metric, bool allow_gnuplot) {
  const std::string title = case_name + ": " + info(metric).label;
  std::filesystem::path png = stem, svg = stem;
  png += ".png";
  svg += ".svg";
  std::string reason = "gnuplot is not on the PATH";
  if (!allow_gnuplot) {
    reason = "--svg asked for it";
  } else if (gnuplot_on_path()) {
    if (draw_with_gnuplot(png, mesh, cells, metric, title))
      return "map: wrote " + png.string() + " (PNG, drawn by gnuplot)";
    reason = "gnuplot failed";
  }
  draw_svg(svg, mesh, cells, metric, title);
  return "map: wrote " + svg.string() + " (SVG; " + reason + ")";
}

}  // namespace malha::report

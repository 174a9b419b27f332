// The quality map drawn by gnuplot, or written as an SVG here.
//
// gnuplot gets no file name in a script: the script is a fixed text, and
// every name (the data, the picture) and the title reach it as arguments of
// "gnuplot -c SCRIPT ARG...", each quoted for the command interpreter as one
// word. The script, the data and the picture gnuplot draws are scratch files
// of their own in the folder for scratch files, so the command holds only
// their short names; the picture is then copied to its target through a
// ReplacingFile, whole or not at all.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform.h"
#include "report/checks/records.h"
#include "report/exports/exports.h"
#include "report/maps/map.h"
#include "report/output_file.h"
#include "textio.h"

namespace malha::report {

namespace {

// ARG1 the data, ARG2 the picture, ARG3 the title, ARG4 the colour label,
// ARG5 the lowest and ARG6 the highest value (the colour range, numbered at
// its lower end), ARG7 "log" for a logarithmic colour scale.
constexpr char kScript[] =
    "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {\n"
    "  set terminal pngcairo size 900,800 noenhanced\n"
    "} else {\n"
    "  set terminal png size 900,800 noenhanced\n"
    "}\n"
    "set output ARG2\n"
    "set title ARG3\n"
    "set size ratio -1\n"
    "set view map\n"
    "unset key\n"
    "set xlabel 'x'\n"
    "set ylabel 'y'\n"
    "set palette defined (0 '#440154', 1 '#3b528b', 2 '#21918c', 3 '#5ec962', 4 '#fde725')\n"
    "set pm3d scansforward corners2color c1\n"
    "set cblabel ARG4\n"
    "low = real(ARG5); high = real(ARG6)\n"
    "if (ARG7 eq 'log') { set logscale cb }\n"
    "if (high > low) { set cbrange [low:high] }\n"
    "set cbtics add (sprintf('%.3g', low) low)\n"
    "splot ARG1 using 1:2:3 with pm3d\n";

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// The patches as one surface: the corner vertices of the patches, a scan
// (a row of them) after another, each carrying the value of the patch whose
// first corner it is; pm3d, scans forward, colours each quadrangle by its
// first corner ("c1"), so every patch gets exactly its value. One point per
// patch: gnuplot needs a few dozen bytes for it, against kilobytes for a
// surface of its own.
void write_patches(ScratchFile& data, const Mesh& mesh, const MapPicture& p) {
  OutputFile out(data);
  double x[4], y[4];
  for (std::int32_t r = 0; r <= p.rows; ++r) {
    for (std::int32_t c = 0; c <= p.columns; ++c) {
      // The last scan and the last point of each are the far corners of the
      // patches before them: their values colour nothing.
      const std::int32_t pc = std::min(c, p.columns - 1), pr = std::min(r, p.rows - 1);
      p.corners(mesh, pc, pr, x, y);
      const int corner = (c > pc ? 1 : 0) + (r > pr ? (c > pc ? 1 : 3) : 0);
      out.number(x[corner]);
      out.number(y[corner]);
      out.number(p.values[static_cast<std::size_t>(pr) * p.columns + pc], '\n');
    }
    out.put("\n");
  }
  out.close();
}

// Whether the file begins as a PNG does.
bool holds_png(const std::string& name) {
  platform::FileHandle in = platform::kNoFile;
  if (platform::open_for_reading(name, in) != 0) return false;
  char head[sizeof kPngSignature - 1] = {};
  std::size_t got = 0;
  const int error = platform::read_some(in, head, sizeof head, got);
  (void)platform::close_file(in);
  return error == 0 && got == sizeof head && std::memcmp(head, kPngSignature, got) == 0;
}

// "gnuplot -c" and the words, each quoted as one; "" when a word cannot pass
// the command interpreter unchanged.
std::string gnuplot_command(const std::vector<std::string>& words) {
  std::string command = "gnuplot -c";
  for (const std::string& w : words) {
    if (!platform::interpreter_passes(w)) return "";
    command += ' ';
    command += platform::quoted_for_interpreter(w);
  }
  return command;
}

// A number as gnuplot reads it back the same.
std::string exact_text(double v) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

[[noreturn]] void stop_drawing(int signal) {
  const char* name = platform::stop_signal_name(signal);
  const std::string message = std::string("malha-report: gnuplot was stopped by ") +
                              (name != nullptr ? name : "a signal") +
                              " while drawing the map; stopping, no map written\n";
  platform::stop_by_signal(signal, message);
}

}  // namespace

std::string draw_png_map(const std::string& target, const Mesh& mesh, const MapPicture& p) {
  if (platform::find_on_path("gnuplot").empty()) return "gnuplot is not on the PATH";
  OutputFile out(target);  // the target is checked before gnuplot runs
  ScratchFile script(".gp"), data(".dat"), picture(".png");
  {
    OutputFile text(script);
    text.put(kScript);
    text.close();
  }
  write_patches(data, mesh, p);
  picture.close_handle();
  const std::string command =
      gnuplot_command({script.name(), data.name(), picture.name(), p.title, p.label,
                       exact_text(p.low), exact_text(p.high), p.logarithmic ? "log" : "linear"});
  if (command.empty()) return "a name holds a character the command interpreter would change";
  int interrupted = 0;
  const int status = textio::run_command(command, &interrupted);
  if (interrupted != 0) stop_drawing(interrupted);
  if (status == -1)
    return "gnuplot could not be started (reason " + std::to_string(textio::last_command_error()) +
           ")";
  if (status != 0) return "gnuplot failed with status " + std::to_string(status);
  if (!holds_png(picture.name())) return "gnuplot wrote no PNG";
  copy_into(picture.name(), picture.name(), out);
  out.close();
  return "";
}

std::string write_map(const std::string& stem, const std::string& case_name, const Mesh& mesh,
                      const CellTable& cells, Metric metric, bool allow_gnuplot) {
  const MapPicture picture = map_picture(mesh, cells, metric, case_name);
  const std::string png = stem + ".png", svg = stem + ".svg";
  std::string reason = "--svg asked for it";
  if (allow_gnuplot) {
    reason = draw_png_map(png, mesh, picture);
    if (reason.empty()) return "map: wrote " + shown_name(png) + " (PNG, drawn by gnuplot)";
  }
  write_svg_map(svg, mesh, picture);
  return "map: wrote " + shown_name(svg) + " (SVG; " + reason + ")";
}

}  // namespace malha::report

// The quality map as an SVG written here: the patches filled with the colour
// of their values, a frame with ticks and numbers on both axes, the title,
// and a colour bar with its numbers and its label turned along it, so that
// the legend fits whatever the label's length.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "report/maps/map.h"
#include "report/output_file.h"
#include "report/report.h"

namespace malha::report {

namespace {

constexpr double kDrawing = 800.0;   // the longer side of the mesh, pixels
constexpr double kLeft = 80.0;       // room for the y numbers and "y"
constexpr double kTop = 50.0;        // room for the title
constexpr double kBottom = 60.0;     // room for the x numbers and "x"
constexpr double kRight = 150.0;     // the colour bar, its numbers and its label
constexpr double kBarLabel = 120.0;  // from the bar's left side to its label's middle
constexpr double kBarGap = 30.0;     // between the drawing and the colour bar
constexpr double kBarWidth = 24.0;
constexpr double kLeastHeight = 240.0;  // of the drawing area, for the colour bar
constexpr double kTitleSize = 16.0, kTextSize = 13.0;
constexpr double kCharWidth = 0.6;  // of a character, in font sizes (a generous mean)
constexpr double kTick = 6.0;
constexpr int kTicks = 5;  // about how many numbers an axis gets
constexpr const char* kNaNColour = "#b0b0b0";

std::string px(double v) {
  char number[32];
  (void)std::snprintf(number, sizeof number, "%.2f", v);
  return number;
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
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// Geometry of the picture: where the mesh is drawn and how it is scaled.
struct Frame {
  double scale = 1.0;  // pixels per unit of length
  double left = kLeft, top = kTop, width = 0.0, height = 0.0;
  double xmin = 0.0, ymax = 0.0;
  double x(double v) const { return left + (v - xmin) * scale; }
  double y(double v) const { return top + (ymax - v) * scale; }
  double bar_x() const { return left + width + kBarGap; }
  double total_width() const { return bar_x() + kRight; }
  double total_height() const { return top + std::max(height, kLeastHeight) + kBottom; }
};

Frame frame_of(const MapPicture& p) {
  Frame f;
  const double span = std::max(p.xmax - p.xmin, p.ymax - p.ymin);
  f.scale = span > 0.0 ? kDrawing / span : 1.0;
  f.width = (p.xmax - p.xmin) * f.scale;
  f.height = (p.ymax - p.ymin) * f.scale;
  f.xmin = p.xmin;
  f.ymax = p.ymax;
  return f;
}

// Round numbers between low and high, about kTicks of them (1, 2 or 5 times
// a power of ten apart).
std::vector<double> ticks(double low, double high) {
  if (!(high > low)) return {low};
  const double rough = (high - low) / kTicks;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10.0 * power;
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= rough) {
      step = m * power;
      break;
    }
  // Counted, not stepped: where the numbers are large against their span,
  // adding 1 to the multiple of the step no longer changes it.
  std::vector<double> out;
  const double first = std::ceil(low / step);
  for (int n = 0; n <= 2 * kTicks + 2; ++n) {
    const double v = (first + n) * step;
    if (!(v <= high + step * 1e-9)) break;
    out.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  }
  return out;
}

std::string colour(double t) {
  static constexpr std::array<std::array<int, 3>, 5> kRgb = {{{0x44, 0x01, 0x54},
                                                              {0x3b, 0x52, 0x8b},
                                                              {0x21, 0x91, 0x8c},
                                                              {0x5e, 0xc9, 0x62},
                                                              {0xfd, 0xe7, 0x25}}};
  if (std::isnan(t)) return kNaNColour;
  t = std::clamp(t, 0.0, 1.0) * static_cast<double>(kRgb.size() - 1);
  const auto k = std::min(static_cast<std::size_t>(t), kRgb.size() - 2);
  const double f = t - static_cast<double>(k);
  int rgb[3];
  for (std::size_t c = 0; c < 3; ++c)
    rgb[c] = static_cast<int>(std::lround(kRgb[k][c] + (kRgb[k + 1][c] - kRgb[k][c]) * f));
  char hex[8];
  (void)std::snprintf(hex, sizeof hex, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return hex;
}

// A text element; `anchor` start, middle or end; `turned` along the y axis.
std::string text(double x, double y, const std::string& s, const char* anchor,
                 double size = kTextSize, bool turned = false) {
  std::string out = "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" font-size=\"" + px(size) +
                    "\" text-anchor=\"" + anchor + "\"";
  if (turned) out += " transform=\"rotate(-90 " + px(x) + " " + px(y) + ")\"";
  return out + ">" + xml_text(s) + "</text>\n";
}

void put_patches(OutputFile& out, const Mesh& mesh, const MapPicture& p, const Frame& f) {
  out.put("<g stroke=\"none\" shape-rendering=\"crispEdges\">\n");
  double x[4], y[4];
  for (std::int32_t r = 0; r < p.rows; ++r) {
    for (std::int32_t c = 0; c < p.columns; ++c) {
      p.corners(mesh, c, r, x, y);
      std::string points;
      for (int n = 0; n < 4; ++n) points += px(f.x(x[n])) + "," + px(f.y(y[n])) + " ";
      const double v = p.values[static_cast<std::size_t>(r) * p.columns + c];
      const double t = scale_position(p, v);
      out.put("<polygon points=\"" + points + "\" fill=\"" + colour(t) + "\"/>\n");
    }
  }
  out.put("</g>\n");
}

// The frame around the drawing, with ticks and numbers on x and y.
void put_axes(OutputFile& out, const MapPicture& p, const Frame& f) {
  const double bottom = f.top + f.height;
  out.put("<rect x=\"" + px(f.left) + "\" y=\"" + px(f.top) + "\" width=\"" + px(f.width) +
          "\" height=\"" + px(f.height) + "\" fill=\"none\" stroke=\"black\"/>\n");
  for (double v : ticks(p.xmin, p.xmax)) {
    const double x = f.x(v);
    out.put("<line x1=\"" + px(x) + "\" y1=\"" + px(bottom) + "\" x2=\"" + px(x) + "\" y2=\"" +
            px(bottom + kTick) + "\" stroke=\"black\"/>\n");
    out.put(text(x, bottom + kTick + kTextSize + 2, short_number(v), "middle"));
  }
  for (double v : ticks(p.ymin, p.ymax)) {
    const double y = f.y(v);
    out.put("<line x1=\"" + px(f.left - kTick) + "\" y1=\"" + px(y) + "\" x2=\"" + px(f.left) +
            "\" y2=\"" + px(y) + "\" stroke=\"black\"/>\n");
    out.put(text(f.left - kTick - 3, y + kTextSize / 3, short_number(v), "end"));
  }
  out.put(text(f.left + f.width / 2, bottom + kBottom - 10, "x", "middle"));
  out.put(text(kLeft / 4, f.top + f.height / 2, "y", "middle"));
}

// The numbers of the colour bar: its lower end, then round numbers (the
// powers of ten on a logarithmic scale) not too close to it to be read.
std::vector<double> bar_ticks(const MapPicture& p, double height) {
  std::vector<double> round;
  if (p.logarithmic) {
    // The decades are few (a double spans about 600): an integer counts them.
    const auto first = static_cast<int>(std::ceil(std::log10(p.low)));
    const auto last = static_cast<int>(std::floor(std::log10(p.high)));
    for (int e = first; e <= last; ++e) round.push_back(std::pow(10.0, e));
  } else {
    round = ticks(p.low, p.high);
  }
  std::vector<double> out = {p.low};
  for (double v : round)
    if (height * scale_position(p, v) >= kTextSize) out.push_back(v);
  return out;
}

// The colour bar: a vertical gradient, high at the top, numbered from its
// lower end, with the label turned along its right side.
void put_colour_bar(OutputFile& out, const MapPicture& p, const Frame& f) {
  const double x = f.bar_x(), height = std::max(f.height, kLeastHeight);
  out.put("<defs><linearGradient id=\"scale\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">\n");
  for (int k = 0; k <= 4; ++k)
    out.put("<stop offset=\"" + px(k / 4.0) + "\" stop-color=\"" + colour(k / 4.0) + "\"/>\n");
  out.put("</linearGradient></defs>\n<rect x=\"" + px(x) + "\" y=\"" + px(f.top) + "\" width=\"" +
          px(kBarWidth) + "\" height=\"" + px(height) +
          "\" fill=\"url(#scale)\" stroke=\"black\"/>\n");
  for (double v : bar_ticks(p, height)) {
    const double y = f.top + height * (1.0 - scale_position(p, v));
    out.put("<line x1=\"" + px(x + kBarWidth) + "\" y1=\"" + px(y) + "\" x2=\"" +
            px(x + kBarWidth + kTick) + "\" y2=\"" + px(y) + "\" stroke=\"black\"/>\n");
    out.put(text(x + kBarWidth + kTick + 3, y + kTextSize / 3, short_number(v), "start"));
  }
  out.put(text(x + kBarLabel, f.top + height / 2, p.label, "middle", kTextSize, true));
}

// The title over the drawing, squeezed to the picture's width when it is long.
void put_title(OutputFile& out, const MapPicture& p, const Frame& f) {
  const double room = f.total_width() - 2 * kTick - kLeft / 4;
  std::string t = "<text x=\"" + px(kLeft / 4) + "\" y=\"" + px(kTop / 2 + 6) + "\" font-size=\"" +
                  px(kTitleSize) + "\"";
  if (static_cast<double>(p.title.size()) * kTitleSize * kCharWidth > room)
    t += " textLength=\"" + px(room) + "\" lengthAdjust=\"spacingAndGlyphs\"";
  out.put(t + ">" + xml_text(p.title) + "</text>\n");
}

}  // namespace

void write_svg_map(const std::string& target, const Mesh& mesh, const MapPicture& p) {
  const Frame f = frame_of(p);
  OutputFile out(target);
  out.put(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "width=\"" +
      px(f.total_width()) + "\" height=\"" + px(f.total_height()) +
      "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
  put_title(out, p, f);
  put_patches(out, mesh, p, f);
  put_axes(out, p, f);
  put_colour_bar(out, p, f);
  out.put("</svg>\n");
  out.close();
}

}  // namespace malha::report

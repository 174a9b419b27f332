#include "mesh/quality.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "mesh/processamento.h"
#include "platform.h"

namespace malha {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kRightAngle = 90.0;
constexpr double kFullTurn = 360.0;
constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

// Interior angle at corner c between the edges to the previous corner p and
// to the next corner n, in [0, 360): above 180 at a reflex (inverted) corner
// of a counter-clockwise volume.
double corner_angle(double px, double py, double cx, double cy, double nx, double ny) {
  const double ax = px - cx, ay = py - cy;  // to the previous corner
  const double bx = nx - cx, by = ny - cy;  // to the next corner
  double angle = std::atan2(bx * ay - by * ax, bx * ax + by * ay) * kDegreesPerRadian;
  if (angle < 0.0) angle += kFullTurn;
  return angle;
}

// Calls visit(x, y, cell) for every volume with its four corners in order.
template <class Visit>
void for_each_cell(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny,
                   Visit visit) {
  const std::int32_t nxv = nx + 1;
  for (std::int32_t j = 1; j <= ny; ++j) {
    for (std::int32_t i = 1; i <= nx; ++i) {
      const std::int64_t p1 = static_cast<std::int64_t>(j - 1) * nxv + (i - 1);
      const std::int64_t corners[4] = {p1, p1 + 1, p1 + nxv + 1, p1 + nxv};
      double x[4], y[4];
      for (int c = 0; c < 4; ++c) {
        x[c] = xv[corners[c]];
        y[c] = yv[corners[c]];
      }
      visit(x, y, CellRef{static_cast<std::int64_t>(j - 1) * nx + i, i, j});
    }
  }
}

// The order of the lists: the smaller area first (what is not a number
// before everything), then the lower volume number.
bool listed_before(const CellList::Entry& a, const CellList::Entry& b) {
  const double ka = std::isnan(a.area) ? -kInfinity : a.area;
  const double kb = std::isnan(b.area) ? -kInfinity : b.area;
  return ka < kb || (ka == kb && a.cell.volume < b.cell.volume);
}

}  // namespace

CellShape cell_shape(const double x[4], const double y[4], AreaFrame frame) {
  CellShape c;
  c.area = volume_area(x, y, frame);
  c.shortest_edge = kInfinity;
  c.longest_edge = 0.0;
  c.angle_deviation = 0.0;
  for (int corner = 0; corner < 4; ++corner) {
    const int next = (corner + 1) % 4, previous = (corner + 3) % 4;
    const double edge = std::hypot(x[next] - x[corner], y[next] - y[corner]);
    c.shortest_edge = std::min(c.shortest_edge, edge);
    c.longest_edge = std::max(c.longest_edge, edge);
    const double angle =
        corner_angle(x[previous], y[previous], x[corner], y[corner], x[next], y[next]);
    c.angle_deviation = std::max(c.angle_deviation, std::fabs(angle - kRightAngle));
  }
  c.smallest_turn = smallest_corner_turn(x, y);
  return c;
}

double smallest_corner_turn(const double x[4], const double y[4]) {
  double smallest = corner_turn(x, y, 0);
  for (int c = 1; c < 4; ++c) {
    const double turn = corner_turn(x, y, c);
    if (turn < smallest || std::isnan(turn)) smallest = turn;
  }
  return smallest;
}

void CellList::keep(const Entry& e) {
  if (listed_ == kListedCells && !listed_before(e, worst_[listed_ - 1])) return;
  std::size_t at = listed_ < kListedCells ? listed_++ : listed_ - 1;
  for (; at > 0 && listed_before(e, worst_[at - 1]); --at) worst_[at] = worst_[at - 1];
  worst_[at] = e;
}

void CellList::add(const CellRef& cell, double area) {
  ++count_;
  keep(Entry{cell, area});
}

void CellList::join(const CellList& other) {
  count_ += other.count_;
  for (const Entry& e : other) keep(e);
}

MeshQuality measure_mesh(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny,
                         AreaFrame frame) {
  const platform::FpTrapsHeld held;
  MeshQuality q;
  q.smallest_area = kInfinity;
  q.largest_area = -kInfinity;
  q.shortest_edge = kInfinity;
  for_each_cell(xv, yv, nx, ny, [&](const double* x, const double* y, const CellRef& here) {
    const CellShape shape = cell_shape(x, y, frame);
    ++q.cells;
    if (shape.area < q.smallest_area) q.smallest_area = shape.area, q.smallest_area_cell = here;
    if (shape.area > q.largest_area) q.largest_area = shape.area, q.largest_area_cell = here;
    if (shape.angle_deviation > q.largest_angle_deviation || q.worst_angle_cell.volume == 0) {
      q.largest_angle_deviation = shape.angle_deviation;
      q.worst_angle_cell = here;
    }
    q.shortest_edge = std::min(q.shortest_edge, shape.shortest_edge);
    q.bad.add(here, shape.area, shape.smallest_turn);
  });
  return q;
}

BadCells find_bad_cells(const double* xv, const double* yv, std::int32_t nx, std::int32_t ny,
                        AreaFrame frame) {
  const platform::FpTrapsHeld held;
  BadCells bad;
  for_each_cell(xv, yv, nx, ny, [&](const double* x, const double* y, const CellRef& here) {
    bad.add(here, volume_area(x, y, frame), smallest_corner_turn(x, y));
  });
  return bad;
}

}  // namespace malha

#include "report/measures/faces.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "mesh/processamento.h"
#include "report/measures/shape.h"

namespace malha::report {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;
// checkMesh's normalisation distance is at least this share of |d|; on the
// boundary, where d reaches the face only, twice it (the share of the line
// to the centre mirrored across the face).
constexpr double kSkewnessFloor = 0.2;
constexpr double kBoundaryFloor = 2 * kSkewnessFloor;

double dot(Point u, Point v) {
  return u.x * v.x + u.y * v.y;
}
Point minus(Point u, Point v) {
  return {u.x - v.x, u.y - v.y};
}
Point outward_normal(Point a, Point b) {
  return {b.y - a.y, a.x - b.x};
}

// |sv| over checkMesh's normalisation distance, for the centre line d and
// the face from a to b seen from c, with checkMesh's guards against a zero
// division (a tiny number added where it divides), so that a centre line
// along the face gives what checkMesh gives; a face of length zero, where
// checkMesh gives a number of no meaning, is the worst.
double skewness(Point c, Point d, Point a, Point b, double floor) {
  constexpr double kTiny = 1e-150;  // checkMesh's ROOTVSMALL
  const Point s = outward_normal(a, b);
  if (!(dot(s, s) > 0.0)) return kUnbounded;  // a face of length zero: the worst
  const Point cm = minus({0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}, c);
  const double t = dot(s, cm) / (dot(s, d) + kTiny);
  const Point sv = {cm.x - t * d.x, cm.y - t * d.y};
  const double size = std::sqrt(dot(sv, sv));
  const Point unit = {sv.x / (size + kTiny), sv.y / (size + kTiny)};
  // The face's corners are a and b, at half the face from its centre.
  const double extent = 0.5 * std::fabs(dot(unit, minus(b, a)));
  const double value = size / std::max(floor * std::sqrt(dot(d, d)) + kTiny, extent);
  return std::isnan(value) ? kUnbounded : std::min(value, kUnbounded);
}

}  // namespace

double face_cosine(Point c, Point n, Point a, Point b) {
  const Point s = outward_normal(a, b);
  const Point d = minus(n, c);
  const double cosine = dot(d, s) / std::sqrt(dot(d, d) * dot(s, s));
  return std::isnan(cosine) ? cosine : std::clamp(cosine, -1.0, 1.0);
}

OwnedFace owned_face(Point owner, Point other, Point a, Point b) {
  return {face_cosine(owner, other, a, b), interior_skewness(owner, other, a, b)};
}

double angle_of(double cosine) {
  return std::isnan(cosine) ? 180.0 : std::acos(cosine) * kDegrees;
}

double interior_skewness(Point c, Point n, Point a, Point b) {
  return skewness(c, minus(n, c), a, b, kSkewnessFloor);
}

double boundary_skewness(Point c, Point a, Point b) {
  const Point s = outward_normal(a, b);
  const double size = std::sqrt(dot(s, s));
  const Point unit = {s.x / size, s.y / size};
  const double along = dot(unit, minus({0.5 * (a.x + b.x), 0.5 * (a.y + b.y)}, c));
  return skewness(c, {along * unit.x, along * unit.y}, a, b, kBoundaryFloor);
}

Point ghost_centre(const Mesh& mesh, std::int32_t i, std::int32_t j, int side, Point a, Point b) {
  constexpr int kReentrant = 2;  // the eta+ side, row j = ny
  if (side == kReentrant && mesh.nx % 2 == 0) return {0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
  // Cell (i, j) is (i + 1, j + 1) in the extended numbering of the ring.
  std::int32_t I = i + 1, J = j + 1;
  if (side == 0) J = 1;
  if (side == 1) I = mesh.nx + 2;
  if (side == 2) J = mesh.ny + 2;
  if (side == 3) I = 1;
  const RingCentre g = ring_centre(I, J, mesh.nx, mesh.ny);
  return {g.x, g.y};
}

}  // namespace malha::report

#include "report/measures/shape.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace malha::report {

namespace {

constexpr int kCorners = 4;
constexpr double kDegrees = 180.0 / std::numbers::pi;
constexpr double kFullTurn = 360.0;
constexpr double kRightAngle = 90.0;
// Below this, Verdict takes the sum of the two corner areas of its aspect
// ratio for zero.
constexpr double kVerdictSmallest = 1e-30;

double bounded(double ratio) {
  return std::isnan(ratio) ? kUnbounded : std::min(ratio, kUnbounded);
}

// The corner angle from the turn J and the dot product D = -(in . out):
// the angle from the edge going out to the edge coming back, counter-
// clockwise, in [0, 360): above 180 where the cell turns clockwise.
double corner_angle(double turn, double dot) {
  const double angle = std::atan2(turn, dot) * kDegrees;
  return angle < 0.0 ? angle + kFullTurn : angle + 0.0;  // + 0.0: no -0
}

// A key of the corner angle that grows with it over [0, 360): from the
// share of the dot product in |J| + |D|, 0 to 2 up to 180 degrees where the
// turn is not negative, 2 to 4 beyond.
double angle_key(double turn, double dot) {
  const double share = dot / (std::fabs(turn) + std::fabs(dot));
  return turn < 0.0 ? 3.0 + share : 1.0 - share;
}

// The smallest and the largest corner angle and the equiangle skew: the two
// corners found by a key that grows with the angle (no arc tangent), then the
// arc tangent of those two alone.
void angle_measures(const double turn[kCorners], const double dot[kCorners], ShapeMeasures& m) {
  int smallest = 0, largest = 0;
  double low = angle_key(turn[0], dot[0]), high = low;
  for (int c = 1; c < kCorners; ++c) {
    const double key = angle_key(turn[c], dot[c]);
    if (key < low) low = key, smallest = c;
    if (key > high) high = key, largest = c;
  }
  m.min_angle = corner_angle(turn[smallest], dot[smallest]);
  m.max_angle = corner_angle(turn[largest], dot[largest]);
  m.equiangle_skew =
      std::min(1.0, std::max(m.max_angle - kRightAngle, kRightAngle - m.min_angle) / kRightAngle);
}

// The smallest turn over the largest in size. On a cell of positive area the
// largest turn is the largest in size (a turn and the one at the opposite
// corner add up to twice the area), so this is Gmsh's min J / max J there;
// -1 on every inverted cell.
double jacobian_ratio(const double turn[kCorners]) {
  double smallest_turn = turn[0], largest_size = 0.0;
  for (int c = 0; c < kCorners; ++c) {
    smallest_turn = std::min(smallest_turn, turn[c]);
    largest_size = std::max(largest_size, std::fabs(turn[c]));
  }
  return largest_size > 0.0 ? smallest_turn / largest_size : -1.0;
}

}  // namespace

ShapeMeasures shape_measures(const double x[4], const double y[4], unsigned parts) {
  const bool lengths = (parts & (kEdgeRatio | kAspectRatio | kScaledJacobian)) != 0;
  const bool angles = (parts & kAngles) != 0;
  double ex[kCorners], ey[kCorners], length[kCorners] = {};
  for (int c = 0; c < kCorners; ++c) {
    const int next = (c + 1) % kCorners;
    ex[c] = x[next] - x[c];
    ey[c] = y[next] - y[c];
    if (lengths) length[c] = std::sqrt(ex[c] * ex[c] + ey[c] * ey[c]);
  }
  // The turns in the operations of the quality module's corner_turn, so that
  // a corner is concave here exactly when it is there.
  double turn[kCorners], dot[kCorners] = {};
  for (int c = 0; c < kCorners; ++c) {
    const int in = (c + kCorners - 1) % kCorners;
    turn[c] = ex[in] * ey[c] - ey[in] * ex[c];
    if (angles) dot[c] = -(ex[in] * ex[c] + ey[in] * ey[c]);
  }
  ShapeMeasures m{};
  const auto [shortest, longest] = std::minmax({length[0], length[1], length[2], length[3]});
  if ((parts & kEdgeRatio) != 0) m.edge_ratio = bounded(longest / shortest);
  if ((parts & kAspectRatio) != 0) {
    // Verdict: half the longest edge times the perimeter over the sum of the
    // corner areas |J1| + |J3| (edges 0 x 1 and 2 x 3).
    const double corners13 = std::fabs(turn[1]) + std::fabs(turn[3]);
    m.aspect_ratio =
        corners13 < kVerdictSmallest
            ? kUnbounded
            : bounded(0.5 * longest * (length[0] + length[1] + length[2] + length[3]) / corners13);
  }
  if (angles) angle_measures(turn, dot, m);
  if ((parts & kScaledJacobian) != 0) {
    m.scaled_jacobian = 1.0;
    for (int c = 0; c < kCorners; ++c) {
      const int in = (c + kCorners - 1) % kCorners;
      m.scaled_jacobian = std::min(m.scaled_jacobian, turn[c] / (length[in] * length[c]));
    }
    m.scaled_jacobian = std::max(m.scaled_jacobian, -1.0);  // a rounding below -1
  }
  if ((parts & kJacobianRatio) != 0) m.jacobian_ratio = jacobian_ratio(turn);
  return m;
}

}  // namespace malha::report

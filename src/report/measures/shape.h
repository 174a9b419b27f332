// The measures of one quadrilateral from its four corners alone, as the
// mesh-quality tools of the field define them (VTK's Verdict library, Gmsh),
// but signed against +z: the corners of a valid cell run counter-clockwise
// seen from +z, and a cell turned over measures as turned over, whatever
// normal of its own it would have in a tool that takes one.
//
// Corners p0..p3 run (i, j), (i+1, j), (i+1, j+1), (i, j+1); edge c runs
// from p[c] to p[c+1]; at corner c the edge coming in is edge c-1 and the
// edge going out is edge c; its turn J[c] is their cross product.
#pragma once

namespace malha::report {

// Where a ratio has no bound (a zero-length edge, a zero area) it is given
// this value, as VTK's Verdict library gives it; a ratio beyond it is cut
// to it. Never a NaN or an infinity, so that every JSON reader can compare.
inline constexpr double kUnbounded = 1e30;

struct ShapeMeasures {
  double edge_ratio;       // longest edge / shortest edge
  double aspect_ratio;     // Verdict's quadrilateral aspect ratio
  double min_angle;        // smallest corner angle, degrees in [0, 360)
  double max_angle;        // largest corner angle
  double equiangle_skew;   // max((max_angle - 90) / 90, (90 - min_angle) / 90), at most 1
  double scaled_jacobian;  // min over corners of J[c] / (|edge in| |edge out|)
  double jacobian_ratio;   // min J[c] / max |J[c]|
};

// The parts of ShapeMeasures to compute (the others are left 0): the
// measures a part gives are the same doubles whatever else is asked for.
enum ShapePart : unsigned {
  kEdgeRatio = 1,
  kAspectRatio = 2,
  kAngles = 4,  // min_angle, max_angle, equiangle_skew
  kScaledJacobian = 8,
  kJacobianRatio = 16,
  kEveryShapePart = 31,
};

// The measures of a cell that has no edge of length zero (the degenerate
// cells have the worst values, not these).
ShapeMeasures shape_measures(const double x[4], const double y[4],
                             unsigned parts = kEveryShapePart);

}  // namespace malha::report

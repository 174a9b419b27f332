// The axes of the levels: where each level's vertices lie, the factors of
// its differences, and the tables of the transfers to the next coarser one.
#include "smoothing/multigrid/levels.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace malha::multigrid {

namespace {

// An axis of fewer steps than this is not coarsened.
constexpr std::int32_t kLeastStepsToCoarsen = 4;

}  // namespace

bool can_coarsen(std::int32_t n) {
  return n - 1 >= kLeastStepsToCoarsen;
}

Axis make_axis(std::vector<double> position, double spacing) {
  Axis a;
  a.n = static_cast<std::int32_t>(position.size());
  a.position = std::move(position);
  for (std::vector<double>* v : {&a.first, &a.next, &a.previous, &a.cross})
    v->assign(a.position.size(), 0.0);
  for (std::int32_t i = 1; i + 1 < a.n; ++i) {
    const double before = a.position[i] - a.position[i - 1];
    const double after = a.position[i + 1] - a.position[i];
    const double both = before + after;
    a.first[i] = 1.0 / (both * spacing);
    a.next[i] = 2.0 / (both * after);
    a.previous[i] = 2.0 / (both * before);
    a.cross[i] = 2.0 / both;
  }
  return a;
}

Axis coarsen(Axis& fine, double spacing) {
  const std::int32_t n = fine.n;
  std::vector<std::int32_t>& at = fine.fine_of;
  at.clear();
  if (can_coarsen(n)) {
    const std::int32_t steps = n - 1;
    for (std::int32_t c = 0; c < steps / 2; ++c) at.push_back(2 * c);
    at.push_back(steps);  // an odd count of steps: the last coarse step spans three
  } else {
    for (std::int32_t c = 0; c < n; ++c) at.push_back(c);
  }
  const auto nc = static_cast<std::int32_t>(at.size());
  std::vector<double> position(at.size());
  for (std::int32_t c = 0; c < nc; ++c) position[c] = fine.position[at[c]];

  fine.below.assign(n, nc - 1);
  fine.weight.assign(n, 1.0);
  for (std::int32_t c = 0; c + 1 < nc; ++c) {
    for (std::int32_t f = at[c]; f < at[c + 1]; ++f) {
      fine.below[f] = c;
      fine.weight[f] = (position[c + 1] - fine.position[f]) / (position[c + 1] - position[c]);
    }
  }
  fine.restrict_start.assign(1, 0);
  fine.restrict_fine.clear();
  fine.restrict_weight.clear();
  for (std::int32_t c = 0; c < nc; ++c) {
    const std::int32_t from = c > 0 ? at[c - 1] + 1 : at[c];
    const std::int32_t to = c + 1 < nc ? at[c + 1] - 1 : at[c];
    const std::size_t begin = fine.restrict_weight.size();
    double sum = 0.0;
    for (std::int32_t f = from; f <= to; ++f) {
      const double w = fine.below[f] == c ? fine.weight[f] : 1.0 - fine.weight[f];
      fine.restrict_fine.push_back(f);
      fine.restrict_weight.push_back(w);
      sum += w;
    }
    for (std::size_t k = begin; k < fine.restrict_weight.size(); ++k)
      fine.restrict_weight[k] /= sum;
    fine.restrict_start.push_back(static_cast<std::int32_t>(fine.restrict_weight.size()));
  }
  return make_axis(std::move(position), spacing);
}

}  // namespace malha::multigrid

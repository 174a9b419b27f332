// Post-processing: areas, centroids, the fictitious ring and the neighbour table.
#pragma once

#include "variaveis.h"

namespace malha {

// Signed area and centroid of every real volume, and the centre of every
// volume of the extended numbering, fictitious ring included.
void compute_centroids(MeshState& s);

// Fills nbr: the eta-minus, ksi-plus, eta-plus and ksi-minus neighbours of
// every real volume, 0 on the boundary.
void number_neighbours(MeshState& s);

}  // namespace malha

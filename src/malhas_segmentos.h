// The algebraic mesh of the L-shaped region and its connectivity tables.
#pragma once

#include "variaveis.h"

namespace malha {

// Places every vertex by the closed formulas of the L-shaped region and fills
// conn and the real-volume rows of connf. Needs nx >= 2 and ny >= 1.
void build_algebraic_mesh(MeshState& s);

}  // namespace malha

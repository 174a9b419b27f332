"""Meshes made by running malha, and observed orders of convergence: what the
convergence study and the tests share."""

import math
import os
import subprocess

from malhafiles import Mesh

# Smoothing to convergence: Gauss-Seidel needs sweeps in proportion to the
# number of volumes along a line squared. After nx*nx/10 outer iterations of
# five sweeps, twice as many move no vertex of the 160 x 80 mesh by more than
# 1.4e-7, 2e-5 of a spacing.
SWEEPS = 5
MIN_ITERATIONS = 100


def iterations(nx):
    return max(MIN_ITERATIONS, nx * nx // 10)


def make_mesh(program, folder, nx, ny, smoothed):
    """Runs malha in `folder` (unattended) and reads the mesh it writes."""
    os.makedirs(folder, exist_ok=True)
    case = f"{'s' if smoothed else 'a'}{nx}x{ny}"
    with open(os.path.join(folder, "entradas.txt"), "w") as f:
        f.write(f"{case}\n{nx}\n{ny}\n{2 if smoothed else 1}\n2\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w") as f:
        f.write(f"{SWEEPS}\n{iterations(nx)}\n0.0\n1.0\n1.0\n0\n0\n")
    env = dict(os.environ, COMSPEC="true")
    subprocess.run([program], cwd=folder, env=env, check=True,
                   stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return Mesh(folder, case)


def orders(sizes, errors):
    """Observed order between successive meshes: log(e1/e2) / log(h1/h2),
    with h the square root of the mean volume area (1 / sqrt(nvol) up to a
    constant)."""
    return [math.log(errors[k - 1] / errors[k]) / math.log(math.sqrt(sizes[k] / sizes[k - 1]))
            for k in range(1, len(errors))]

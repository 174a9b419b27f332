"""Meshes made by running malha, and observed orders of convergence: what the
convergence study and the tests share."""

import math
import os
import subprocess

from malhafiles import Mesh

# Smoothed meshes are smoothed to convergence (malha --converge, its default
# tolerance); the parameter file gives the spacings and the source flags.
PARAMETERS = "1\n1\n0.0\n1.0\n1.0\n0\n0\n"


def case_name(nx, ny, smoothed, grade=1.0, control=False):
    """The case's name: its kind, size, grading and control functions."""
    return (f"{'s' if smoothed else 'a'}{nx}x{ny}" + (f"g{grade:g}" if grade != 1.0 else "") +
            ("c" if control else ""))


def make_case(program, folder, nx, ny, smoothed, grade=1.0, control=False):
    """Runs malha in `folder` (unattended), smoothing to convergence when
    `smoothed` (with the control functions of --control when `control`),
    graded with --grade=GRADE unless it is 1; returns the case's name."""
    os.makedirs(folder, exist_ok=True)
    case = case_name(nx, ny, smoothed, grade, control)
    with open(os.path.join(folder, "entradas.txt"), "w") as f:
        f.write(f"{case}\n{nx}\n{ny}\n{2 if smoothed else 1}\n2\n")
    with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w") as f:
        f.write(PARAMETERS)
    env = dict(os.environ, COMSPEC="true")
    arguments = [program] + (["--converge"] if smoothed else [])
    arguments += [f"--grade={grade:g}"] if grade != 1.0 else []
    arguments += ["--control"] if control else []
    subprocess.run(arguments, cwd=folder, env=env, check=True,
                   stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return case


def make_mesh(program, folder, nx, ny, smoothed, grade=1.0, control=False):
    """make_case, and the mesh it writes."""
    return Mesh(folder, make_case(program, folder, nx, ny, smoothed, grade, control))


def orders(sizes, errors):
    """Observed order between successive meshes: log(e1/e2) / log(h1/h2),
    with h the square root of the mean volume area (1 / sqrt(nvol) up to a
    constant)."""
    return [math.log(errors[k - 1] / errors[k]) / math.log(math.sqrt(sizes[k] / sizes[k - 1]))
            for k in range(1, len(errors))]

"""The bilinear finite elements of examples/solver/fesolve.py on the Gmsh
files malha-report exports: the error's quadrature, the boundary it reads,
the linear solution exact, the order 2 of the smooth solution.

Usage: test_fe.py MALHA MALHA_REPORT SOLVER_DIR. Exits with 77 (skipped)
when numpy, scipy or meshio is missing.
"""

import functools
import os
import subprocess
import sys
import tempfile
import types
import unittest

try:
    import meshio  # noqa: F401
    import numpy as np
    import scipy  # noqa: F401
except ImportError as missing:
    print(f"skipped: {missing.name} is not installed (Debian: python3-numpy python3-scipy "
          "python3-meshio)")
    sys.exit(77)

MALHA, REPORT, SOLVER = (os.path.abspath(p) for p in sys.argv[1:4])
sys.path.insert(0, SOLVER)
import fesolve  # noqa: E402
import study  # noqa: E402

SCRATCH = tempfile.TemporaryDirectory(prefix="fe-test-")
REGION_AREA = 0.75  # the L: the unit square without its upper-right quarter
# (nx, ny, smoothed, gamma, control): meshes of the L (even nx).
MESHES = [(6, 3, False, 1.0, False), (8, 4, True, 1.0, False), (8, 4, True, 1.0, True),
          (8, 4, False, 2.0, False), (10, 4, True, 2.0, True)]


@functools.lru_cache(maxsize=None)
def mesh(nx, ny, smoothed=False, gamma=1.0, control=False):
    """The elements of the mesh malha makes, exported once per test program."""
    folder = os.path.join(SCRATCH.name, study.case_name(nx, ny, smoothed, gamma, control))
    case = study.make_case(MALHA, folder, nx, ny, smoothed, gamma, control)
    subprocess.run([REPORT, "--msh", case], cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return fesolve.Mesh(os.path.join(folder, case + ".msh"))


class Quadrature(unittest.TestCase):
    def test_interpolated_solution_has_no_error_and_an_offset_its_own(self):
        # The nodal values of a linear u are its interpolant, so u itself; an
        # offset c is then an error of c * sqrt(area) whatever the elements.
        offset = 1e-3
        for case in MESHES:
            with self.subTest(mesh=case):
                m = mesh(*case)
                u = fesolve.SOLUTIONS["linear"][0](*m.points.T)
                self.assertLess(fesolve.l2_error(m, u, "linear"), 1e-14)
                self.assertAlmostEqual(fesolve.l2_error(m, u + offset, "linear"),
                                       offset * np.sqrt(REGION_AREA), delta=1e-15)

    def test_inverted_element_is_refused(self):
        square = types.SimpleNamespace(points=np.array([[0.0, 0], [1, 0], [1, 1], [0, 1]]),
                                       quads=np.array([[0, 3, 2, 1]]), boundary=np.arange(4))
        with self.assertRaisesRegex(ValueError, "inverted"):
            fesolve.solve(square, "linear")


class Boundary(unittest.TestCase):
    def test_boundary_is_the_vertices_of_the_grid_edges(self):
        # The six sides' line elements cover the grid's edges: rows j = 1 and
        # ny + 1, columns i = 1 and nx + 1, odd nx included.
        for nx, ny in [(6, 3), (7, 2), (4, 1)]:
            with self.subTest(nx=nx, ny=ny):
                grid = np.arange((nx + 1) * (ny + 1)).reshape(ny + 1, nx + 1)
                edges = np.unique(np.concatenate([grid[0], grid[-1], grid[:, 0], grid[:, -1]]))
                self.assertEqual(mesh(nx, ny).boundary.tolist(), edges.tolist())


class Solutions(unittest.TestCase):
    def test_linear_solution_exact(self):
        for case in MESHES + [(7, 3, True, 1.0, True)]:
            with self.subTest(mesh=case):
                self.assertLess(fesolve.errors(mesh(*case), "linear")[1], 1e-12)

    # (solution, smoothed, gamma, control, least order at each step)
    ORDERS = [("smooth", False, 1.0, False, 1.9), ("smooth", True, 1.0, True, 1.9),
              ("lshape", False, 2.0, False, 1.8)]

    def test_orders_on_three_meshes(self):
        sizes = [(16, 8), (32, 16), (64, 32)]
        for solution, smoothed, gamma, control, least in self.ORDERS:
            with self.subTest(solution=solution, smoothed=smoothed, gamma=gamma, control=control):
                e = [fesolve.errors(mesh(nx, ny, smoothed, gamma, control), solution)[0]
                     for nx, ny in sizes]
                orders = study.orders([nx * ny for nx, ny in sizes], e)
                self.assertGreaterEqual(min(orders), least, f"errors {e}, orders {orders}")
                self.assertLess(max(orders), 2.3, f"errors {e}, orders {orders}")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)

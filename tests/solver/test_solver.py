"""The worked solver of examples/solver on meshes malha makes: the face and
neighbour rule against the geometry, the linear solution exact, the orders
of convergence on three small meshes, and on meshes graded toward the
re-entrant corner.

Usage: test_solver.py MALHA SOLVER_DIR. Exits with 77 (skipped) when numpy or
scipy is missing.
"""

import functools
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import numpy as np
    import scipy  # noqa: F401
except ImportError as missing:
    print(f"skipped: {missing.name} is not installed (Debian: python3-numpy python3-scipy)")
    sys.exit(77)

PROGRAM = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.abspath(sys.argv[2]))
import fvsolve  # noqa: E402
import study  # noqa: E402
from malhafiles import real  # noqa: E402

SCRATCH = tempfile.TemporaryDirectory(prefix="solver-test-")


@functools.lru_cache(maxsize=None)
def mesh(nx, ny, smoothed=False, grade=1.0):
    """The mesh malha makes, made once per test program: the tests only read it."""
    case = f"{'s' if smoothed else 'a'}{nx}x{ny}" + (f"g{grade:g}" if grade != 1.0 else "")
    folder = os.path.join(SCRATCH.name, case)
    return study.make_mesh(PROGRAM, folder, nx, ny, smoothed, grade)


def on_side(side, points, nx, corner_line):
    """True where the points lie on the named side of the meshed region."""
    x, y = points[..., 0], points[..., 1]
    if side == "right":
        if nx % 2 == 0:
            return np.isclose(x, 1.0)
        # Odd nx: the bottom arm has one face more than the left arm, each as
        # long as theirs; its end runs from (1 + 1/k, 0) to (1 + 0.5/k, 0.5).
        k = corner_line - 1
        return np.isclose(x, 1.0 + (1.0 - y) / k)
    line = {"left": (x, 0.0), "bottom": (y, 0.0), "reentrant_vertical": (x, 0.5),
            "reentrant_horizontal": (y, 0.5), "top": (y, 1.0)}[side]
    return np.isclose(*line)


class FacesAndNeighbours(unittest.TestCase):
    CASES = [(2, 1), (5, 1), (6, 1), (5, 3), (6, 4)]

    def test_neighbour_shares_the_face_and_lies_across_it(self):
        for nx, ny in self.CASES:
            with self.subTest(nx=nx, ny=ny):
                m = mesh(nx, ny)
                faces = fvsolve.Faces(m, warn=None)
                for v, f in zip(*np.nonzero(~faces.boundary)):
                    n = faces.nbr[v, f]
                    # Face f of v is face f + 2 of its neighbour, run backwards.
                    mine = m.corners[v, [f, (f + 1) % 4]]
                    theirs = m.corners[n, [(f + 3) % 4, (f + 2) % 4]]
                    self.assertEqual(mine.tolist(), theirs.tolist(), (v + 1, f + 1))
                    self.assertGreater(faces.S[v, f] @ faces.d[v, f], 0.0, (v + 1, f + 1))

    def test_boundary_face_on_the_side_its_numbers_name(self):
        for nx, ny in self.CASES:
            with self.subTest(nx=nx, ny=ny):
                m = mesh(nx, ny)
                faces = fvsolve.Faces(m, warn=None)
                edges = np.sort(np.stack([m.corners, np.roll(m.corners, -1, axis=1)], -1), -1)
                shared = {}
                for e in map(tuple, edges.reshape(-1, 2)):
                    shared[e] = shared.get(e, 0) + 1
                ends = m.vertices[m.corners - 1], m.vertices[np.roll(m.corners, -1, 1) - 1]
                for v, f in zip(*np.nonzero(faces.boundary)):
                    i, j = v % nx + 1, v // nx + 1
                    side = fvsolve.boundary_side(nx, ny, i, j, f + 1)
                    self.assertEqual(shared[tuple(edges[v, f])], 1)
                    for end in ends:
                        self.assertTrue(on_side(side, end[v, f], nx, (nx + 2) // 2),
                                        (i, j, f + 1, side))

    def test_ghost_centre_at_the_face_midpoint(self):
        for nx, ny in self.CASES:
            with self.subTest(nx=nx, ny=ny):
                m = mesh(nx, ny)
                faces = fvsolve.Faces(m, warn=None)
                ghost = m.ghosts[faces.ghost_numbers(m) - 1]
                at_mid = np.all(np.isclose(ghost, faces.mid, rtol=0, atol=1e-14), axis=-1)
                right = np.zeros_like(at_mid)
                right[nx - 1::nx, 1] = True
                # Except, for odd nx, beside the right end, which the ring puts at x = 1.
                expected = ~right if nx % 2 else np.ones_like(at_mid)
                self.assertEqual((at_mid | ~faces.boundary).tolist(),
                                 (expected | ~faces.boundary).tolist())


class Solutions(unittest.TestCase):
    def test_linear_solution_exact(self):
        for nx, ny, smoothed in [(2, 1, False), (5, 3, False), (12, 6, True), (13, 4, True)]:
            with self.subTest(nx=nx, ny=ny, smoothed=smoothed):
                l2, largest = fvsolve.solve(mesh(nx, ny, smoothed), "linear", warn=None)
                self.assertLess(largest, 1e-12)

    # The smoothed meshes keep large volumes at the corner (0, 0): their order
    # for the smooth solution rises to 1.8 only on finer meshes.
    ORDERS = [("smooth", False, 1.8), ("lshape", False, 1.2),
              ("smooth", True, 1.7), ("lshape", True, 1.2)]

    def test_orders_on_three_meshes(self):
        sizes = [(16, 8), (32, 16), (64, 32)]
        for solution, smoothed, least in self.ORDERS:
            with self.subTest(solution=solution, smoothed=smoothed):
                e = [fvsolve.solve(mesh(nx, ny, smoothed), solution)[0] for nx, ny in sizes]
                orders = study.orders([nx * ny for nx, ny in sizes], e)
                self.assertGreaterEqual(orders[-1], least, f"errors {e}, orders {orders}")


class Graded(unittest.TestCase):
    """Meshes graded toward the re-entrant corner (malha --grade): order 2 on
    the singular solution, where today's meshes give 4/3."""
    SIZES = [(16, 8), (32, 16), (64, 32)]
    # (smoothed, gamma, least order at each step, least gain on 64 x 32)
    CASES = [(False, 2.0, 1.9, 10.0), (True, 2.0, 1.85, 5.0), (False, 1.5, 1.9, 8.0)]

    def errors(self, smoothed, gamma):
        e = []
        for nx, ny in self.SIZES:
            e.append(fvsolve.solve(mesh(nx, ny, smoothed, gamma), "lshape")[0])
        return e

    def test_orders_on_the_singular_solution(self):
        today = self.errors(False, 1.0)
        for smoothed, gamma, least, gain in self.CASES:
            with self.subTest(smoothed=smoothed, gamma=gamma):
                e = self.errors(smoothed, gamma)
                orders = study.orders([nx * ny for nx, ny in self.SIZES], e)
                self.assertGreaterEqual(min(orders), least, f"errors {e}, orders {orders}")
                self.assertGreaterEqual(today[-1] / e[-1], gain, f"errors {e}, today {today}")

    def test_linear_solution_exact_and_ghosts_at_the_graded_midpoints(self):
        for nx, ny, smoothed in [(4, 2, False), (12, 6, True)]:
            with self.subTest(nx=nx, ny=ny, smoothed=smoothed):
                folder = os.path.join(SCRATCH.name, f"lin{nx}x{ny}{smoothed}")
                m = study.make_mesh(PROGRAM, folder, nx, ny, smoothed, 3.0)
                faces = fvsolve.Faces(m, warn=None)
                ghost = m.ghosts[faces.ghost_numbers(m) - 1]
                at_mid = np.all(np.isclose(ghost, faces.mid, rtol=0, atol=1e-14), axis=-1)
                self.assertTrue(np.all(at_mid | ~faces.boundary))
                self.assertLess(fvsolve.solve(m, "linear", warn=None)[1], 1e-12)


class Reading(unittest.TestCase):
    def test_exponent_without_its_letter(self):
        for field, value in [("    1.000000000000000-150", 1e-150),
                             ("   -2.500000000000000+120", -2.5e120),
                             ("   -1.500000000000000E-01", -0.15)]:
            self.assertEqual(real(field), value)


class Edges(unittest.TestCase):
    """What the programs of the worked solver say when they cannot run."""

    SOLVER = os.path.abspath(sys.argv[2])

    def run_solver(self, script, *args, python_options=()):
        return subprocess.run([sys.executable, *python_options,
                               os.path.join(self.SOLVER, script), *args],
                              capture_output=True, text=True, timeout=120)

    def test_without_numpy_and_scipy_says_which_packages_and_how(self):
        # -S: without the site folders, where the packages are installed.
        r = self.run_solver("fvsolve.py", ".", "x", python_options=("-S",))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.count("\n"), 1, r.stderr)
        self.assertIn("fvsolve: needs the Python packages numpy and scipy", r.stderr)
        self.assertIn("sudo apt install python3-numpy python3-scipy", r.stderr)
        self.assertIn(" -m pip install numpy scipy", r.stderr)

    def test_missing_files_are_told_in_one_line(self):
        mesh(4, 2)  # a case with nest files; its CASE.txt and ghost ring alone are copied
        folder = os.path.join(SCRATCH.name, "no-nest")
        os.makedirs(folder)
        for suffix in (".txt", "_cent_fict.txt"):
            shutil.copy(os.path.join(SCRATCH.name, "a4x2", "a4x2" + suffix), folder)
        for case, message in [
                ("a4x2", "fvsolve: a4x2_nest.txt is not in " + folder + ": the solver reads the "
                         "nest files, and the case was run without them; switch them on (2 on "
                         "line 5 of entradas.txt) and run malha again\n"),
                ("b4x2", "fvsolve: no case 'b4x2' in " + folder + ": b4x2.txt is not there\n")]:
            with self.subTest(case=case):
                r = self.run_solver("fvsolve.py", folder, case)
                self.assertEqual((r.returncode, r.stderr), (1, message))

    def test_nonorthogonality_without_its_arguments_prints_usage(self):
        for args in [(), (".",), (".", "a", "b")]:
            with self.subTest(args=args):
                r = self.run_solver("nonorthogonality.py", *args)
                self.assertEqual(r.returncode, 2)
                self.assertTrue(r.stderr.startswith("usage: nonorthogonality.py"), r.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

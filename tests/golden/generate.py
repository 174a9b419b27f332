#!/usr/bin/env python3
"""Reference generator for the golden files of the end-to-end tests.

Usage, from the repository root:

    python3 tests/golden/generate.py               regenerate every golden case
    python3 tests/golden/generate.py --self-check  check the generator against known values

This is an independent model of a complete malha run, written in plain Python
(standard library only).  Python floats are IEEE doubles and Python never fuses
a multiply with an add, so doing every operation in the order the program
documents for it reproduces the program's numbers bit for bit; the files are
then rendered with the same fixed-column rules (E25.15 under a 1P scale factor,
I10 and I8 fields, CR LF after every record).

Every case lives in a folder next to this script:

    <case>/entradas.txt               the case file, as a user would write it
    <case>/entrada_eq_elipticas.txt   the elliptic parameters (smoothing cases only)
    <case>/expected/                  every file the run must write, and nothing else

The folders are rewritten from the CASES table below; do not edit them by hand.
"""

import math
import shutil
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
CRLF = "\r\n"
THIRD = 1.0 / 3.0


# ----------------------------------------------------------------------------
# Record rendering
# ----------------------------------------------------------------------------

def field(text, width):
    """Right-aligns text in a field; a text that does not fit gives asterisks."""
    if len(text) > width:
        return "*" * width
    return text.rjust(width)


def int_field(value, width):
    return field(str(value), width)


def e25_15_text(value):
    """The text of one real under 1P,E25.15, before it is placed in the field."""
    if math.isnan(value) or math.isinf(value):
        raise ValueError("non-finite values are never written by a normal run")
    if value == 0.0:
        digits, x_exp, negative = "0", 0, False
    else:
        negative = value < 0.0
        # Stage 1: the exact value correctly rounded to 17 significant digits.
        mantissa, exponent = ("%.16e" % abs(value)).split("e")
        digits = mantissa.replace(".", "")
        assert len(digits) == 17
        x_exp = int(exponent) + 1  # value = 0.D1D2... times ten to the power x_exp
        digits = digits.rstrip("0")
        # Stage 2: down to the 16 digits shown, looking at digit 17 alone.
        if len(digits) > 16:
            head, next_digit = digits[:16], digits[16]
            if next_digit >= "5":
                head = str(int(head) + 1)
                if len(head) > 16:  # carry out of the first digit
                    head = head[:16]
                    x_exp += 1
            digits = head
    digits = digits.ljust(16, "0")
    printed = x_exp - 1 if value != 0.0 else 0
    sign = "-" if printed < 0 else "+"
    if -99 <= printed <= 99:
        exponent_text = "E" + sign + "%02d" % abs(printed)
    elif -999 <= printed <= 999:
        exponent_text = sign + "%03d" % abs(printed)
    else:
        return "*" * 26  # cannot happen for a double; forces asterisks
    return ("-" if negative else "") + digits[0] + "." + digits[1:16] + exponent_text


def e25_15(value):
    return field(e25_15_text(value), 25)


def rec_ints(values, width):
    return "".join(int_field(v, width) for v in values) + CRLF


def rec_reals(*values):
    return "".join(e25_15(v) for v in values) + CRLF


FREE_RECORD = " " + CRLF


# ----------------------------------------------------------------------------
# The mesh
# ----------------------------------------------------------------------------

class Mesh:
    """The state of one run.  Arrays are Python lists indexed from 1 (slot 0 unused)."""

    def __init__(self, case_name, nx, ny, opt_elliptic, opt_nest, elliptic=None):
        self.case_name = case_name
        self.nx, self.ny = nx, ny
        self.opt_elliptic, self.opt_nest = opt_elliptic, opt_nest
        self.nxf, self.nyf = nx + 2, ny + 2
        self.nvol = nx * ny
        self.nxv, self.nyv = nx + 1, ny + 1
        self.nvolf = self.nxf * self.nyf
        self.nvert = self.nxv * self.nyv
        self.dksi = 1.0
        self.deta = 1.0
        self.elliptic = elliptic

    # -- algebraic mesh and connectivity --------------------------------------
    def build_algebraic_mesh(self):
        nxv, nyv, nx, ny, nxf = self.nxv, self.nyv, self.nx, self.ny, self.nxf
        self.xv = [None] * (self.nvert + 1)
        self.yv = [None] * (self.nvert + 1)
        m = (nxv + 1) // 2
        for j in range(1, nyv + 1):
            for i in range(1, nxv + 1):
                k = (j - 1) * nxv + i
                t = float(j - 1) / float(nyv - 1)
                s = 0.5 * t
                d = (1.0 - s) / float(m - 1)
                if i <= m:
                    self.xv[k] = s
                    self.yv[k] = 1.0 + float(1 - i) * d
                else:
                    self.xv[k] = s + float(i - m) * d
                    self.yv[k] = s
        self.conn = [None] * (self.nvol + 1)
        self.connf = [None] * (self.nvolf + 1)
        for j in range(1, ny + 1):
            for i in range(1, nx + 1):
                v = (j - 1) * nx + i
                w = j * nxf + i + 1
                row = ((j - 1) * nxv + i, (j - 1) * nxv + i + 1, j * nxv + i + 1, j * nxv + i)
                self.conn[v] = row
                self.connf[w] = row

    # -- elliptic smoothing ---------------------------------------------------
    def interior(self):
        nxv = self.nxv
        for j in range(2, self.nyv):
            for i in range(2, nxv):
                yield (j - 1) * nxv + i

    def compute_metrics(self):
        nxv, xv, yv = self.nxv, self.xv, self.yv
        cksi = 0.5 / self.dksi
        ceta = 0.5 / self.deta
        for k in self.interior():
            e, w, n, s = k + 1, k - 1, k + nxv, k - nxv
            xeta = (xv[n] - xv[s]) * ceta
            yeta = (yv[n] - yv[s]) * ceta
            xksi = (xv[e] - xv[w]) * cksi
            yksi = (yv[e] - yv[w]) * cksi
            self.xeta[k], self.yeta[k], self.xksi[k], self.yksi[k] = xeta, yeta, xksi, yksi
            self.alpha[k] = yeta * yeta + xeta * xeta
            self.beta[k] = xeta * xksi + yeta * yksi
            self.gamma[k] = xksi * xksi + yksi * yksi
            self.jac[k] = 1.0 / (yeta * xksi - xeta * yksi)

    def clear_sources(self):
        if self.opt_psrc != 2:
            self.psrc = [0.0] * (self.nvert + 1)
        if self.opt_qsrc != 2:
            self.qsrc = [0.0] * (self.nvert + 1)

    def compute_coefficients(self):
        for k in self.interior():
            g = 1.0 / (self.jac[k] * self.jac[k])
            alpha, beta, gamma = self.alpha[k], self.beta[k], self.gamma[k]
            self.ae[k] = alpha + 0.5 * self.psrc[k] * g
            self.aw[k] = alpha - 0.5 * self.psrc[k] * g
            self.an[k] = gamma + 0.5 * self.qsrc[k] * g
            self.as_[k] = gamma - 0.5 * self.qsrc[k] * g
            self.ane[k] = -0.5 * beta
            self.anw[k] = 0.5 * beta
            self.ase[k] = 0.5 * beta
            self.asw[k] = -0.5 * beta
            self.ap[k] = ((self.aw[k] + self.an[k]) + self.ae[k]) + self.as_[k]

    def gauss_seidel(self, u):
        nxv = self.nxv
        for _ in range(self.nsweep):
            for k in self.interior():
                s = (self.asw[k] * u[k - nxv - 1] + self.as_[k] * u[k - nxv]
                     + self.an[k] * u[k + nxv] + self.anw[k] * u[k + nxv - 1]
                     + self.aw[k] * u[k - 1] + self.ae[k] * u[k + 1]
                     + self.ase[k] * u[k - nxv + 1] + self.ane[k] * u[k + nxv + 1])
                u[k] = s / self.ap[k]

    def smooth(self):
        (self.nsweep, self.niter, _unused, self.dksi, self.deta,
         self.opt_psrc, self.opt_qsrc) = self.elliptic
        size = self.nvert + 1
        for name in ("xksi", "yeta", "yksi", "xeta", "beta", "gamma", "jac", "alpha", "ae", "aw",
                     "an", "as_", "ane", "anw", "ase", "asw", "ap", "qsrc", "psrc"):
            setattr(self, name, [0.0] * size)
        for _ in range(self.niter):
            self.compute_metrics()
            self.clear_sources()
            self.compute_coefficients()
            self.gauss_seidel(self.xv)
            self.gauss_seidel(self.yv)

    # -- centroids and the fictitious ring ------------------------------------
    def compute_centroids(self):
        nx, ny, nxf, nyf = self.nx, self.ny, self.nxf, self.nyf
        xv, yv = self.xv, self.yv
        self.area = [None] * (self.nvol + 1)
        self.xc = [None] * (self.nvol + 1)
        self.yc = [None] * (self.nvol + 1)
        self.xcf = [None] * (self.nvolf + 1)
        self.ycf = [None] * (self.nvolf + 1)
        self.triangles = [None] * (self.nvol + 1)  # (A1, A2), kept for the self-check
        for j in range(1, ny + 1):
            for i in range(1, nx + 1):
                v = (j - 1) * nx + i
                c1, c2, c3, c4 = self.conn[v]
                x1, x2, x3, x4 = xv[c1], xv[c2], xv[c3], xv[c4]
                y1, y2, y3, y4 = yv[c1], yv[c2], yv[c3], yv[c4]
                xg1 = (x2 + x3 + x1) * THIRD
                yg1 = (y2 + y3 + y1) * THIRD
                a1 = 0.5 * ((x1 - x3) * y2 + (y3 - y1) * x2 - y3 * x1 + x3 * y1)
                xg2 = (x3 + x4 + x1) * THIRD
                yg2 = (y3 + y4 + y1) * THIRD
                a2 = 0.5 * ((x1 - x4) * y3 + (x4 - x3) * y1 + (x3 - x1) * y4)
                self.area[v] = a2 + a1
                r = 1.0 / self.area[v]
                self.xc[v] = (a1 * xg1 + a2 * xg2) * r
                self.yc[v] = (a1 * yg1 + a2 * yg2) * r
                self.triangles[v] = (a1, a2)
                w = j * nxf + i + 1
                self.xcf[w] = self.xc[v]
                self.ycf[w] = self.yc[v]

        m = nxf // 2
        h = 1.0 / float(m - 1)
        h2 = 0.5 / float(m - 1)
        hy = 0.5 / float(ny)

        def put(i, j, x, y):
            w = (j - 1) * nxf + i
            assert self.xcf[w] is None, "ring position written twice"
            self.xcf[w], self.ycf[w] = x, y

        for i in range(2, m + 1):  # a
            put(i, 1, 0.0, 1.0 - (float(i) - 1.5) * h)
        for i in range(m + 1, nxf):  # b
            put(i, 1, (float(i - m) - 0.5) * h, 0.0)
        for i in range(2, m + 1):  # c
            put(i, nyf, 0.5, 1.0 - (float(i) - 1.5) * h2)
        for i in range(m + 1, nxf):  # d
            put(i, nyf, 0.5 + (float(i - m) - 0.5) * h2, 0.5)
        for j in range(2, nyf):  # e
            put(1, j, (float(j) - 1.5) * hy, 1.0)
        for j in range(2, nyf):  # f
            put(nxf, j, 1.0, (float(j) - 1.5) * hy)
        put(1, 1, 0.0, 1.0)  # g
        put(nxf, 1, 1.0, 0.0)
        put(1, nyf, 0.5, 1.0)
        put(nxf, nyf, 1.0, 0.5)
        assert all(x is not None for x in self.xcf[1:])

    # -- neighbour table ------------------------------------------------------
    def number_neighbours(self):
        nx, ny = self.nx, self.ny
        self.nbr = [None] * (self.nvol + 1)
        for j in range(1, ny + 1):
            for i in range(1, nx + 1):
                v = (j - 1) * nx + i
                self.nbr[v] = (v - nx if j > 1 else 0, v + 1 if i < nx else 0,
                               v + nx if j < ny else 0, v - 1 if i > 1 else 0)

    def run(self):
        self.build_algebraic_mesh()
        self.dksi = 1.0
        self.deta = 1.0
        if self.opt_elliptic == 2:
            self.smooth()
        self.compute_centroids()
        if self.opt_nest == 2:
            self.number_neighbours()
        return self

    # -- output files -----------------------------------------------------------
    def vertex_records(self):
        return [rec_reals(self.xv[k], self.yv[k]) for k in range(1, self.nvert + 1)]

    def mesh_files(self):
        stem = self.case_name.rstrip(" ")
        volumes = range(1, self.nvol + 1)  # j outer, i inner: number order
        f1 = [rec_ints((self.nx, self.ny, self.nxv, self.nyv, self.opt_elliptic), 10),
              rec_reals(self.deta, self.dksi)] + self.vertex_records()
        f2 = []
        for v in volumes:
            c = self.conn[v]
            for k in (c[0], c[1], c[2], c[3], c[0]):
                f2.append(rec_reals(self.xv[k], self.yv[k]))
            f2.append(FREE_RECORD)
        f3 = [rec_ints(self.conn[v], 10) for v in volumes]
        f5 = [rec_reals(self.xc[v], self.yc[v]) for v in volumes]
        f4 = []
        for jj in range(2, self.nyf):
            for ii in range(2, self.nxf):
                w = (jj - 1) * self.nxf + ii
                f4.append(rec_ints((w,) + self.connf[w], 10))
        f6 = [rec_reals(self.xcf[w], self.ycf[w]) for w in range(1, self.nvolf + 1)]
        return {
            stem + ".txt": f1,
            "malha.txt": f2,
            stem + "_vert.txt": f3,
            stem + "_vert_fict.txt": f4,
            stem + "_cent.txt": f5,
            stem + "_cent_fict.txt": f6,
            "centroides.txt": list(f5),
        }

    def nest_files(self):
        stem = self.case_name.rstrip(" ")
        volumes = range(1, self.nvol + 1)
        return {
            stem + "_nest_conec.txt": [rec_ints(self.nbr[v], 8) for v in volumes],
            stem + "_nest_vert.txt": [rec_ints(self.conn[v], 8) for v in volumes],
            stem + "_nest_cent.txt": [rec_reals(self.xc[v], self.yc[v]) for v in volumes],
            stem + "_nest.txt": [rec_ints((self.nx, self.ny, self.nxv, self.nyv,
                                           self.opt_elliptic), 8)] + self.vertex_records(),
            stem + "_nest_area.txt": [rec_reals(self.area[v]) for v in volumes],
        }

    def output_files(self):
        files = self.mesh_files()
        if self.opt_nest == 2:
            files.update(self.nest_files())
        return {name: "".join(records) for name, records in files.items()}


# ----------------------------------------------------------------------------
# Input files
# ----------------------------------------------------------------------------

CASE_REMARKS = ("case name", "nx: volumes along ksi", "ny: volumes along eta",
                "opt_elliptic: 2 = elliptic smoothing", "opt_nest: 2 = write the nest files")
ELLIPTIC_REMARKS = ("nsweep: sweeps per solver call", "niter: outer iterations",
                    "not used", "dksi: ksi spacing", "deta: eta spacing",
                    "opt_psrc: 2 keeps the ksi source term",
                    "opt_qsrc: 2 keeps the eta source term")


def input_text(values, remarks, eol):
    return "".join("%-8s %s%s" % (value, remark, eol) for value, remark in zip(values, remarks))


def first_items(text):
    """The first item of every line that holds anything (quoted text unquoted)."""
    items = []
    for line in text.replace("\r", "").split("\n"):
        line = line.lstrip(" \t")
        if not line:
            continue
        if line[0] in "'\"":
            mark, value, pos = line[0], "", 1
            while True:
                end = line.index(mark, pos)
                value += line[pos:end]
                if line[end + 1:end + 2] == mark:
                    value += mark
                    pos = end + 2
                else:
                    break
            items.append(value)
        else:
            items.append(line.split()[0])
    return items


# ----------------------------------------------------------------------------
# The golden cases
# ----------------------------------------------------------------------------
# name_text: record 1 as written; elliptic: (nsweep, niter, record 3, dksi, deta,
# opt_psrc, opt_qsrc) as written, or None.

CASES = [
    # Two volumes, algebraic mesh, nest files.
    dict(folder="ex2x1", name_text="ex2x1", nx=2, ny=1, opt_elliptic=1, opt_nest=2,
         elliptic=None, eol="\r\n"),
    # One interior row smoothed by a single sweep.
    dict(folder="gs4x2", name_text="gs4x2", nx=4, ny=2, opt_elliptic=2, opt_nest=2,
         elliptic=("1", "1", "0.0", "1.0", "1.0", "0", "0"), eol="\n"),
    # Odd nx: the bottom arm runs past x = 1; no smoothing, no nest files.
    dict(folder="odd3x2", name_text="odd3x2", nx=3, ny=2, opt_elliptic=1, opt_nest=1,
         elliptic=None, eol="\r\n"),
    # Several iterations and sweeps with unequal spacings.
    dict(folder="ell8x4", name_text="'ell8x4'", nx=8, ny=4, opt_elliptic=2, opt_nest=2,
         elliptic=("3", "5", "1.0E-3", "0.5", "2.0", "0", "0"), eol="\n"),
    # One interior vertex, smoothed once; no nest files.
    dict(folder="gs2x2", name_text="gs2x2", nx=2, ny=2, opt_elliptic=2, opt_nest=0,
         elliptic=("2", "1", "0.0", "1.0", "1.0", "1", "1"), eol="\r\n"),
]


def parse_elliptic(values):
    nsweep, niter, rec3, dksi, deta, psrc, qsrc = values
    return (int(nsweep), int(niter), float(rec3), float(dksi), float(deta), int(psrc), int(qsrc))


def build_case(case):
    case_text = input_text((case["name_text"], case["nx"], case["ny"], case["opt_elliptic"],
                            case["opt_nest"]), CASE_REMARKS, case["eol"])
    items = first_items(case_text)
    mesh = Mesh(items[0].ljust(100)[:100], int(items[1]), int(items[2]), int(items[3]),
                int(items[4]))
    inputs = {"entradas.txt": case_text}
    if case["elliptic"] is not None:
        ell_text = input_text(case["elliptic"], ELLIPTIC_REMARKS, case["eol"])
        assert first_items(ell_text) == list(case["elliptic"])
        mesh.elliptic = parse_elliptic(first_items(ell_text))
        inputs["entrada_eq_elipticas.txt"] = ell_text
    assert mesh.opt_elliptic == 2 or mesh.elliptic is None
    return inputs, mesh.run()


def write_cases():
    for case in CASES:
        inputs, mesh = build_case(case)
        folder = HERE / case["folder"]
        if folder.exists():
            shutil.rmtree(folder)
        (folder / "expected").mkdir(parents=True)
        for name, text in inputs.items():
            (folder / name).write_bytes(text.encode("ascii"))
        for name, text in mesh.output_files().items():
            (folder / "expected" / name).write_bytes(text.encode("ascii"))
        print("wrote %s (%d output files)" % (case["folder"], len(mesh.output_files())))


# ----------------------------------------------------------------------------
# Self-check against values worked out by hand
# ----------------------------------------------------------------------------

def close(a, b, tol=4e-16):
    return abs(a - b) <= tol * max(1.0, abs(b))


def self_check():
    # Real fields.
    assert e25_15(1.5) == "    1.500000000000000E+00"
    assert e25_15(1.5) + e25_15(-0.25) == ("    1.500000000000000E+00"
                                           "   -2.500000000000000E-01")
    assert e25_15(0.0) == e25_15(-0.0) == "    0.000000000000000E+00"
    assert e25_15(0.3) == "    3.000000000000000E-01"
    assert e25_15(2.0 / 3.0) == "    6.666666666666666E-01"
    assert e25_15(1.0 / 7.0) == "    1.428571428571429E-01"
    assert "%.16e" % (1.0 / 7.0) == "1.4285714285714285e-01"
    assert e25_15(1.0 - 2.0 ** -53) == "    9.999999999999999E-01"
    assert e25_15(-0.00001) == "   -1.000000000000000E-05"
    assert e25_15(1e-150) == "    1.000000000000000-150"
    assert e25_15(1e100) == "    1.000000000000000+100"
    assert e25_15(1e99) == "    1.000000000000000E+99"
    assert e25_15(0.99999999999999995) == "    1.000000000000000E+00"  # 1 - 2^-54 rounds to 1
    # The doubles nearest 1e-7, 1e24, 1e99 and 1e-149 lie just below those powers of ten; their
    # 17-digit strings are 9999999999999999 followed by 5 or more, so the carry runs out.
    assert "%.16e" % 1e-7 == "9.9999999999999995e-08"
    assert e25_15(1e-7) == "    1.000000000000000E-07"
    assert "%.16e" % 1e24 == "9.9999999999999998e+23"
    assert e25_15(1e24) == "    1.000000000000000E+24"
    assert "%.16e" % 1e99 == "9.9999999999999997e+98"
    assert "%.16e" % 1e-149 == "9.9999999999999998e-150"
    assert e25_15(1e-149) == "    1.000000000000000-149"
    assert e25_15(-1e-149) == "   -1.000000000000000-149"
    assert e25_15(5e-324) == "    4.940656458412465-324"
    assert e25_15(1.7976931348623157e308) == "    1.797693134862316+308"
    assert rec_reals(1.5) == "    1.500000000000000E+00\r\n"
    # Integer fields.
    assert rec_ints((1, 2, 3, 4, 5), 10) == "".join(" " * 9 + str(n) for n in range(1, 6)) + CRLF
    assert len(rec_ints((1, 2, 3, 4), 10)) == 42
    assert int_field(7, 10) == " " * 9 + "7"
    assert int_field(-12, 10) == " " * 7 + "-12"
    assert int_field(-2147483648, 10) == "*" * 10
    assert int_field(100000000, 8) == "*" * 8
    assert int_field(99999999, 8) == "99999999" and int_field(-9999999, 8) == "-9999999"
    assert int_field(-10000000, 8) == "*" * 8
    assert FREE_RECORD == " \r\n"

    # Input reading of the values written for the cases.
    assert first_items("  12   number of volumes\r\n") == ["12"]
    assert first_items("'it''s'  name\n\n  \n7") == ["it's", "7"]

    # nx = 2, ny = 1: the algebraic mesh, connectivity, centroids and ring.
    m = Mesh("ex2x1".ljust(100), 2, 1, 1, 2).run()
    assert (m.nxv, m.nyv, m.nvert, m.nvol, m.nxf, m.nyf, m.nvolf) == (3, 2, 6, 2, 4, 3, 12)
    assert list(zip(m.xv[1:], m.yv[1:])) == [(0, 1), (0, 0), (1, 0), (0.5, 1), (0.5, 0.5),
                                             (1, 0.5)]
    assert m.conn[1] == (1, 2, 5, 4) and m.conn[2] == (2, 3, 6, 5)
    assert m.connf[6] == m.conn[1] and m.connf[7] == m.conn[2]
    assert m.triangles[1] == (0.25, 0.125)
    assert m.area[1] == m.area[2] == 0.375
    assert close(m.xc[1], 2.0 / 9.0) and close(m.yc[1], 11.0 / 18.0)
    # yc(1) is 0.611111111111111049...: its 17-digit string ends in 5, so it is written with
    # a last digit 1, where rounding the exact value to 16 digits would give 0.
    assert "%.16e" % m.yc[1] == "6.1111111111111105e-01"
    assert e25_15(m.yc[1]) == "    6.111111111111111E-01"
    ring = list(zip(m.xcf[1:], m.ycf[1:]))
    assert ring[0:4] == [(0, 1), (0, 0.5), (0.5, 0), (1, 0)]
    assert ring[8:12] == [(0.5, 1), (0.5, 0.75), (0.75, 0.5), (1, 0.5)]
    assert ring[4] == (0.25, 1) and ring[7] == (1, 0.25)
    assert ring[5] == (m.xc[1], m.yc[1]) and ring[6] == (m.xc[2], m.yc[2])
    assert m.nbr[1] == (0, 2, 0, 0) and m.nbr[2] == (0, 0, 0, 1)
    files = m.mesh_files()
    f1 = files["ex2x1.txt"]
    assert len(f1) == 8 and f1[0] == rec_ints((2, 1, 3, 2, 1), 10)
    assert f1[1] == "    1.000000000000000E+00    1.000000000000000E+00\r\n"
    assert f1[2] == "    0.000000000000000E+00    1.000000000000000E+00\r\n"
    f2 = files["malha.txt"]
    assert len(f2) == 12 and f2[5] == f2[11] == " \r\n"
    assert f2[0:5] == [rec_reals(0.0, 1.0), rec_reals(0.0, 0.0), rec_reals(0.5, 0.5),
                       rec_reals(0.5, 1.0), rec_reals(0.0, 1.0)]
    assert files["ex2x1_vert.txt"] == [rec_ints((1, 2, 5, 4), 10), rec_ints((2, 3, 6, 5), 10)]
    assert files["ex2x1_vert_fict.txt"] == [rec_ints((6, 1, 2, 5, 4), 10),
                                            rec_ints((7, 2, 3, 6, 5), 10)]
    assert files["ex2x1_cent.txt"] == files["centroides.txt"]
    assert len(files["ex2x1_cent.txt"]) == 2 and len(files["ex2x1_cent_fict.txt"]) == 12
    nest = m.nest_files()
    assert nest["ex2x1_nest_conec.txt"] == [rec_ints((0, 2, 0, 0), 8), rec_ints((0, 0, 0, 1), 8)]
    assert nest["ex2x1_nest_vert.txt"] == [rec_ints((1, 2, 5, 4), 8), rec_ints((2, 3, 6, 5), 8)]
    assert nest["ex2x1_nest_area.txt"] == ["    3.750000000000000E-01\r\n"] * 2
    assert nest["ex2x1_nest.txt"][0] == rec_ints((2, 1, 3, 2, 1), 8)
    assert nest["ex2x1_nest.txt"][1:] == f1[2:] and len(nest["ex2x1_nest.txt"]) == 7
    assert nest["ex2x1_nest_cent.txt"] == files["ex2x1_cent.txt"]

    # nx = 20, ny = 10: steps and corners.
    m = Mesh("x", 20, 10, 1, 1).run()
    top, bottom = 0, 10 * 21  # first vertex of the lines j = 1 and j = 11
    assert close(m.yv[top + 1] - m.yv[top + 2], 0.1) and close(m.xv[top + 13] - m.xv[top + 12], 0.1)
    assert close(m.yv[bottom + 1] - m.yv[bottom + 2], 0.05)
    assert close(m.xv[bottom + 13] - m.xv[bottom + 12], 0.05)
    assert (m.xv[11], m.yv[11]) == (0.0, 0.0)
    assert (m.xv[21 + 10 * 21], m.yv[21 + 10 * 21]) == (1.0, 0.5)
    assert all(abs(m.xv[(j - 1) * 21 + 11] - m.yv[(j - 1) * 21 + 11]) <= 2 ** -52
               for j in range(1, 12))
    assert all(a > 0 for a in m.area[1:]) and close(sum(m.area[1:]), 0.75, 1e-14)

    # nx = 3 (odd): the bottom arm runs past x = 1.
    m = Mesh("x", 3, 2, 1, 2).run()
    assert (m.xv[4], m.yv[4]) == (2.0, 0.0) and (m.xv[12], m.yv[12]) == (1.5, 0.5)
    assert close(sum(m.area[1:]), 1.125, 1e-15)
    assert m.nbr[1] == (0, 2, 4, 0) and m.nbr[3] == (0, 0, 6, 2)
    assert m.nbr[5] == (2, 6, 0, 4) and m.nbr[6] == (3, 0, 0, 5)

    # nx = ny = 2: metric terms, coefficients and the solve at the one interior vertex.
    m = Mesh("x", 2, 2, 2, 1, elliptic=(1, 0, 0.0, 1.0, 1.0, 0, 0)).run()
    assert (m.xv[5], m.yv[5]) == (0.25, 0.25)
    m.niter = 1
    m.compute_metrics()
    m.clear_sources()
    m.compute_coefficients()
    assert (m.xksi[5], m.yksi[5], m.xeta[5], m.yeta[5]) == (0.375, -0.375, 0.25, 0.25)
    assert (m.alpha[5], m.beta[5], m.gamma[5], m.jac[5]) == (0.125, 0.0, 0.28125, 1 / 0.1875)
    assert (m.ae[5], m.aw[5], m.an[5], m.as_[5]) == (0.125, 0.125, 0.28125, 0.28125)
    assert (m.ane[5], m.anw[5], m.ase[5], m.asw[5]) == (0.0, 0.0, 0.0, 0.0)
    assert m.ap[5] == 0.8125
    for nsweep in (1, 2, 5):
        m = Mesh("x", 2, 2, 2, 1, elliptic=(nsweep, 1, 0.0, 1.0, 1.0, 0, 0)).run()
        assert m.xv[5] == m.yv[5] == 19.0 / 52.0
    # Scaling both spacings by a power of two scales the metric terms exactly.
    m2 = Mesh("x", 2, 2, 2, 1, elliptic=(1, 0, 0.0, 4.0, 4.0, 0, 0)).run()
    m2.compute_metrics()
    assert m2.xksi[5] == 0.375 / 4 and m2.alpha[5] == 0.125 / 16 and m2.jac[5] == 16 / 0.1875

    # nx = 4, ny = 2, one iteration of one sweep.
    alg = Mesh("x", 4, 2, 1, 1).run()
    assert [(alg.xv[k], alg.yv[k]) for k in (7, 8, 9)] == [(0.25, 0.625), (0.25, 0.25),
                                                            (0.625, 0.25)]
    m = Mesh("x", 4, 2, 2, 1, elliptic=(1, 1, 0.0, 1.0, 1.0, 0, 0)).run()
    want = [(0.25, 73 / 112), (0.37, 53 / 140), (377 / 560, 107 / 392)]
    for k, (x, y) in zip((7, 8, 9), want):
        assert close(m.xv[k], x) and close(m.yv[k], y), (k, m.xv[k], m.yv[k])
    boundary = [k for k in range(1, m.nvert + 1) if k not in (7, 8, 9)]
    assert all((m.xv[k], m.yv[k]) == (alg.xv[k], alg.yv[k]) for k in boundary)
    # The ring does not depend on the smoothing.
    for jj in range(1, m.nyf + 1):
        for ii in range(1, m.nxf + 1):
            if ii in (1, m.nxf) or jj in (1, m.nyf):
                w = (jj - 1) * m.nxf + ii
                assert (m.xcf[w], m.ycf[w]) == (alg.xcf[w], alg.ycf[w])

    # The golden cases: inputs read back, counts, and the cases' own worked values.
    for case in CASES:
        inputs, mesh = build_case(case)
        out = mesh.output_files()
        for text in list(inputs.values()) + list(out.values()):
            assert text.endswith(case["eol"] if text in inputs.values() else CRLF)
        stem = mesh.case_name.rstrip(" ")
        assert stem == case["folder"]
        assert out[stem + "_cent.txt"] == out["centroides.txt"]
        assert out["malha.txt"].count(CRLF) == 6 * mesh.nvol
        assert len(out) == (12 if mesh.opt_nest == 2 else 7)
        if case["folder"] == "gs2x2":
            assert mesh.xv[5] == mesh.yv[5] == 19.0 / 52.0
        if case["folder"] == "gs4x2":
            assert out["gs4x2.txt"].split(CRLF)[8 + 1] == e25_15(mesh.xv[8]) + e25_15(mesh.yv[8])
            assert close(mesh.xv[8], 0.37) and close(mesh.yv[8], 53 / 140)
        if case["folder"] == "ell8x4":
            assert out["ell8x4.txt"].split(CRLF)[1] == (e25_15(2.0) + e25_15(0.5))

    print("self-check passed")


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-check"]:
        self_check()
    elif sys.argv[1:]:
        sys.exit("usage: generate.py [--self-check]")
    else:
        self_check()
        write_cases()

"""Readers for the files malha writes.

Every record is one line ending in CR LF. Reals are E25.15 fields (25
columns each); integers are I10 or I8 fields. Fields are read by column, not
by splitting on blanks: an integer that fills its width touches its
neighbour, and an exponent beyond +-99 is written without its letter
(`1.000000000000000-150`), which float() alone rejects.
"""

import os
import sys

import needs

needs.require("numpy")

import numpy as np  # noqa: E402

REAL_WIDTH = 25


def real(field):
    """One E25.15 field as a float, the exponent without its letter included."""
    text = field.strip()
    if "E" not in text and "e" not in text:
        # The exponent's sign is the last '+' or '-' after the first digit.
        cut = max(text.rfind("+"), text.rfind("-"))
        if cut > 0:
            text = text[:cut] + "E" + text[cut:]
    return float(text)


def records(path):
    """The lines of a file without their CR LF."""
    with open(path, "r", encoding="ascii", newline="") as f:
        return [line.rstrip("\r\n") for line in f]


def integer(field):
    """One integer field; a field of asterisks held a number too wide for it."""
    if field and set(field) == {"*"}:
        raise ValueError("a number too wide for its field (asterisks): read the I10 files")
    return int(field)


def fields(path, width, count, convert, skip=0, stop=None):
    """`count` fields of `width` columns from records skip + 1 .. stop, as an
    array of one row per record; a field that does not read names its record."""
    rows = []
    for number, line in enumerate(records(path)[skip:stop], start=skip + 1):
        try:
            rows.append([convert(line[k * width:(k + 1) * width]) for k in range(count)])
        except ValueError as error:
            raise ValueError(f"{path}, record {number}: {error}") from None
    return np.array(rows).reshape(-1, count)


def reals(path, count, skip=0, stop=None):
    return fields(path, REAL_WIDTH, count, real, skip, stop).astype(float)


def integers(path, width, count, skip=0, stop=None):
    return fields(path, width, count, integer, skip, stop).astype(np.int64)


class Mesh:
    """The nest files of case `case` in folder `folder`, and its ghost ring.

    Numbers are kept 1-based as written: vertex k is row k-1 of `vertices`,
    volume v is row v-1 of `corners`, `neighbours`, `centroids`, `areas`.
    """

    def __init__(self, folder, case):
        name = lambda suffix: os.path.join(folder, case + suffix)
        header = integers(name("_nest.txt"), 8, 5, stop=1)[0]
        self.nx, self.ny, self.nxv, self.nyv, self.smoothed = (int(n) for n in header)
        self.nxf, self.nyf = self.nx + 2, self.ny + 2
        self.vertices = reals(name("_nest.txt"), 2, skip=1)   # (nxv*nyv, 2)
        self.neighbours = integers(name("_nest_conec.txt"), 8, 4)  # 0 = boundary
        self.corners = integers(name("_nest_vert.txt"), 8, 4)
        self.centroids = reals(name("_nest_cent.txt"), 2)
        self.areas = reals(name("_nest_area.txt"), 1)[:, 0]
        self.ghosts = reals(name("_cent_fict.txt"), 2)        # (nxf*nyf, 2)
        nvol = self.nx * self.ny
        for what, table, rows in (("vertices", self.vertices, self.nxv * self.nyv),
                                  ("volumes", self.corners, nvol),
                                  ("neighbours", self.neighbours, nvol),
                                  ("centroids", self.centroids, nvol),
                                  ("areas", self.areas, nvol),
                                  ("ghost ring", self.ghosts, self.nxf * self.nyf)):
            if len(table) != rows:
                raise ValueError(f"{case}: {len(table)} records of {what}, expected {rows}")


def load(folder, case, program):
    """The Mesh, or the end of the run with a one-line report naming what is
    wrong (a missing file, a field that does not read)."""
    try:
        return Mesh(folder, case)
    except FileNotFoundError as error:
        sys.exit(f"{program}: {missing_file_text(folder, case, error.filename)}")
    except (OSError, ValueError) as error:
        sys.exit(f"{program}: {error}")


def missing_file_text(folder, case, path):
    """What a missing file of the case means."""
    name = os.path.basename(path)
    where = folder if folder not in ("", ".") else "the current folder"
    if not os.path.exists(os.path.join(folder, case + ".txt")):
        return f"no case '{case}' in {where}: {case}.txt is not there"
    if name.startswith(case + "_nest"):
        return (f"{name} is not in {where}: the solver reads the nest files, and the case was "
                "run without them; switch them on (2 on line 5 of entradas.txt) and run malha "
                "again")
    return f"{name} is not in {where}, which every run of malha writes: run malha again"


def first_vertex_file(path):
    """CASE.txt: the sizes (I10), the spacing record (deta, dksi), the vertices."""
    nx, ny, nxv, nyv, smoothed = integers(path, 10, 5, stop=1)[0]
    deta, dksi = reals(path, 2, skip=1, stop=2)[0]
    return (nx, ny, nxv, nyv, smoothed), (deta, dksi), reals(path, 2, skip=2)

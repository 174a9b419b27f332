#!/usr/bin/python3
"""Draws the numbering of small meshes from their files: volume numbers at
the centroids, the ghost ring with its extended numbers, the side of the
region each boundary face lies on, and the faces and corners of one volume.

Usage: numbering.py FOLDER CASE [FOLDER CASE ...] PICTURE.png
"""

import sys

import needs

needs.require("numpy", "scipy", "matplotlib")

import numpy as np  # noqa: E402

from fvsolve import Faces, boundary_side  # noqa: E402
from malhafiles import load  # noqa: E402

SIDE_COLOURS = {"left": "tab:blue", "bottom": "tab:cyan", "top": "tab:green",
                "right": "tab:red", "reentrant_vertical": "tab:purple",
                "reentrant_horizontal": "tab:orange"}


def draw_one(ax, mesh, shown=(2, 2)):
    faces = Faces(mesh, warn=None)
    ends = mesh.vertices[mesh.corners - 1], mesh.vertices[np.roll(mesh.corners, -1, 1) - 1]
    for v in range(mesh.nx * mesh.ny):
        i, j = v % mesh.nx + 1, v // mesh.nx + 1
        outline = mesh.vertices[np.append(mesh.corners[v], mesh.corners[v, 0]) - 1]
        ax.plot(outline[:, 0], outline[:, 1], color="0.7", lw=0.6)
        ax.text(*mesh.centroids[v], str(v + 1), ha="center", va="center", fontsize=7)
        for f in range(4):
            side = boundary_side(mesh.nx, mesh.ny, i, j, f + 1)
            if side:
                seg = np.array([ends[0][v, f], ends[1][v, f]])
                ax.plot(seg[:, 0], seg[:, 1], color=SIDE_COLOURS[side], lw=3, label=side,
                        solid_capstyle="butt")
    # The ghost ring: every extended position that is not a real volume.
    I, J = np.meshgrid(np.arange(1, mesh.nxf + 1), np.arange(1, mesh.nyf + 1))
    ring = ((I == 1) | (I == mesh.nxf) | (J == 1) | (J == mesh.nyf)).ravel()
    w = np.nonzero(ring)[0]
    ax.plot(mesh.ghosts[w, 0], mesh.ghosts[w, 1], "kx", ms=4, label="ghost centre")
    for k in w:
        ax.annotate(str(k + 1), mesh.ghosts[k], fontsize=6, color="0.3",
                    xytext=(3, 3), textcoords="offset points")
    # One volume's faces and corners.
    v = (shown[1] - 1) * mesh.nx + shown[0] - 1
    c = mesh.centroids[v]
    for f in range(4):
        p = c + 0.62 * (faces.mid[v, f] - c)
        ax.text(*p, f"f{f + 1}", color="tab:red", fontsize=7, ha="center", va="center")
        q = c + 0.8 * (mesh.vertices[mesh.corners[v, f] - 1] - c)
        ax.text(*q, f"c{f + 1}", color="tab:blue", fontsize=7, ha="center", va="center")
    handles, labels = ax.get_legend_handles_labels()
    unique = dict(zip(labels, handles))
    ax.legend(unique.values(), unique.keys(), fontsize=7, loc="upper right")
    ax.set_aspect("equal")
    ax.set_title(f"nx = {mesh.nx}, ny = {mesh.ny}: volumes, sides, ghost ring", fontsize=10)


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2:
        sys.exit(__doc__.split("\n\n")[1])
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    pairs = list(zip(sys.argv[1:-1:2], sys.argv[2:-1:2]))
    fig, axes = plt.subplots(1, len(pairs), figsize=(6.2 * len(pairs), 6.2), squeeze=False)
    for ax, (folder, case) in zip(axes[0], pairs):
        draw_one(ax, load(folder, case, "numbering"))
    fig.tight_layout()
    fig.savefig(sys.argv[-1], dpi=100, bbox_inches="tight")


if __name__ == "__main__":
    main()

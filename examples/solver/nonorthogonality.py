#!/usr/bin/python3
"""How far each face is from orthogonal: the angle between the face normal
and the line from the volume's centroid to the point across the face (the
neighbour's centroid, or the ghost centre on the boundary). Prints the
largest and the mean angle over the inner faces and, given a PNG name, draws
each volume coloured by the largest angle of its faces.

Usage: nonorthogonality.py FOLDER CASE [FOLDER CASE ...] [--png MAP.png]
"""

import argparse

import needs

needs.require("numpy", "scipy")

import numpy as np  # noqa: E402

from fvsolve import Faces  # noqa: E402
from malhafiles import load  # noqa: E402


def angles(mesh):
    """(nvol, 4) angles in degrees between S and d, per volume and face."""
    faces = Faces(mesh, warn=None)
    cos = np.einsum("nki,nki->nk", faces.S, faces.d) / (
        np.linalg.norm(faces.S, axis=-1) * np.linalg.norm(faces.d, axis=-1))
    return np.degrees(np.arccos(np.clip(cos, -1.0, 1.0))), faces.boundary


def draw(meshes, titles, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.collections import PolyCollection
    fig, axes = plt.subplots(1, len(meshes), figsize=(4.6 * len(meshes) + 1.0, 4.6),
                             squeeze=False)
    for ax, mesh, title in zip(axes[0], meshes, titles):
        cells = PolyCollection(mesh.vertices[mesh.corners - 1], cmap="viridis",
                               edgecolors="white", linewidths=0.2)
        cells.set_array(angles(mesh)[0].max(axis=1))
        cells.set_clim(0, 50)
        ax.add_collection(cells)
        ax.set_xlim(-0.02, 1.02)
        ax.set_ylim(-0.02, 1.02)
        ax.set_aspect("equal")
        ax.set_title(title)
    fig.colorbar(cells, ax=axes[0].tolist(), shrink=0.85,
                 label="largest angle of a face from orthogonal (degrees)")
    fig.savefig(path, dpi=100, bbox_inches="tight")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("cases", nargs="+", metavar="FOLDER CASE", help="FOLDER CASE pairs")
    p.add_argument("--png", help="draw the map into this file")
    args = p.parse_args()
    if len(args.cases) % 2:
        p.error(f"the cases come in FOLDER CASE pairs; '{args.cases[-1]}' has no pair")
    if args.png:
        needs.require("matplotlib")
    pairs = list(zip(args.cases[0::2], args.cases[1::2]))
    meshes = [load(folder, case, "nonorthogonality") for folder, case in pairs]
    titles = []
    for (folder, case), mesh in zip(pairs, meshes):
        theta, boundary = angles(mesh)
        inner = theta[~boundary]
        kind = "smoothed" if mesh.smoothed == 2 else "algebraic"
        titles.append(f"{kind}, {mesh.nx} × {mesh.ny}")
        print(f"{case}: {kind} {mesh.nx} x {mesh.ny}: inner faces up to {inner.max():.1f}°"
              f" from orthogonal, mean {inner.mean():.1f}°")
    if args.png:
        draw(meshes, titles, args.png)


if __name__ == "__main__":
    main()

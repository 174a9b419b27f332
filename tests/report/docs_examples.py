#!/usr/bin/python3
"""The output the docs quote, made again: each case below is run as the
docs say, and the lines it prints must stand in the docs verbatim (the
figures a text quotes rounded, as it quotes them). A change of the output
that leaves a doc behind fails here.

Usage: docs_examples.py MALHA MALHA_REPORT SOURCE_DIR
"""
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

MALHA, REPORT, SOURCE = (os.path.abspath(a) for a in sys.argv[1:4])
EXAMPLES = os.path.join(SOURCE, "examples")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def doc(name):
    with open(os.path.join(SOURCE, name), encoding="utf-8") as f:
        return f.read()


def unwrapped(text):
    """A doc's text with its lines joined, for sentences a quote may break."""
    return re.sub(r"\s+", " ", text)


def run(folder, args, terminal=False):
    """malha (or malha-report) in `folder` with no editor nor plotter; its
    standard error, a terminal when `terminal` (the run's summary)."""
    env = dict(os.environ, COMSPEC="true")
    if not terminal:
        r = subprocess.run(args, cwd=folder, env=env, capture_output=True, text=True, timeout=120)
        return r.stdout + r.stderr
    main, side = pty.openpty()
    with subprocess.Popen(args, cwd=folder, env=env, stdout=subprocess.DEVNULL,
                          stderr=side) as p:
        os.close(side)
        out = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
        p.wait(timeout=120)
    os.close(main)
    return out.decode().replace("\r\n", "\n")


def case(parent, name, case_lines, elliptic_lines=None):
    folder = os.path.join(parent, name)
    os.makedirs(folder)
    with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
        f.write("\n".join(map(str, case_lines)) + "\n")
    if elliptic_lines:
        with open(os.path.join(folder, "entrada_eq_elipticas.txt"), "w", encoding="ascii") as f:
            f.write("\n".join(map(str, elliptic_lines)) + "\n")
    return folder


def example(parent, name, smoothing=2):
    folder = os.path.join(parent, name)
    os.makedirs(folder)
    for f in ("entradas.txt", "entrada_eq_elipticas.txt"):
        shutil.copy(os.path.join(EXAMPLES, f), folder)
    if smoothing != 2:
        case_lines = ["exemplo", 40, 20, smoothing, 2]
        with open(os.path.join(folder, "entradas.txt"), "w", encoding="ascii") as f:
            f.write("\n".join(map(str, case_lines)) + "\n")
    return folder


def folded_case(parent):
    """README: the 20 x 10 case smoothed with deta = 0.1 (its warnings);
    failures.md: the same with --converge (its F6901 report)."""
    readme, failures_md = doc("README.md"), doc("docs/failures.md")
    folder = case(parent, "fold", ["fold", 20, 10, 2, 1], [5, 20, "0.0", "1.0", "0.1", 0, 0])
    warnings = run(folder, [MALHA]).splitlines()
    check(len(warnings) == 2, f"the folded case warns twice ({warnings})")
    for line in warnings:
        check(line in readme, f"README.md quotes the warning: {line}")
    report = run(folder, [MALHA, "--converge"]).splitlines()
    message = report[-1][2:] if report else ""
    check(report and report[-2].startswith("run-time error F6901"),
          f"--converge on the folded case fails ({report})")
    # The row of failures.md quotes the report, "..." for what it leaves out.
    row = re.search(r"(?m)^\|.*deta` = 0\.1.*?`F6901` \"([^\"]*)\"", failures_md)
    check(row, "docs/failures.md has the row of the folded case")
    if row:
        for piece in row.group(1).split("..."):
            check(piece.strip(" ;") in message, f"the report holds what failures.md quotes: {piece}")


def cut_values(parent):
    """README: the warnings of values cut at a ',' or a '/', one after the
    report of the run it made fail."""
    readme = doc("README.md")
    comma = case(parent, "comma", ["comma", 20, 10, 2, 1], [5, 20, "0.0", "1.0", "0,5", 0, 0])
    named = case(parent, "named", ["meshes/l120", 20, 10, 1, 1])
    for folder in (comma, named):
        said = run(folder, [MALHA]).splitlines()
        check(said and said[-1].startswith("malha: warning:"), f"a warning ({said})")
        if said:
            check(said[-1] in readme, f"README.md quotes the warning: {said[-1]}")


def converged_example(parent):
    """README: the summary of --converge on the example, and the figure
    malha-report finds in its files."""
    readme = doc("README.md")
    folder = example(parent, "converged")
    summary = run(folder, [MALHA, "--converge"], terminal=True)
    last = re.search(r"malha: convergence: .*", summary, re.S)
    check(last and unwrapped(last.group(0).strip()) in unwrapped(readme),
          f"README.md quotes the convergence lines of the summary: {last and last.group(0)}")
    figure = re.search(r"vertex (\d+) \(\S+ \S+ by (\S+), (\S+) times",
                       run(folder, [REPORT, "exemplo"]))
    check(figure, "malha-report gives the convergence figure")
    if figure:
        quoted = f"vertex {figure.group(1)} by {figure.group(2)}"
        check(quoted in unwrapped(readme), f"README.md quotes malha-report's figure: {quoted}")


def angles(parent):
    """The solver guide: the report's largest and mean non-orthogonality of
    the algebraic and the smoothed example."""
    guide = doc("docs/solver-guide.md")
    for name, smoothing in (("algebraic", 1), ("smoothed", 2)):
        folder = example(parent, name, smoothing)
        run(folder, [MALHA])
        row = re.search(r"(?m)^non-orthogonality \(deg\)\s+\S+\s+(\S+)\s+(\S+)",
                        run(folder, [REPORT, "exemplo"]))
        check(row, f"{name}: the report gives the non-orthogonality")
        if row:
            mean, largest = (f"{float(v):.2f}°" for v in row.groups())
            check(f"{largest} | {mean}" in guide,
                  f"docs/solver-guide.md quotes the {name} mesh's {largest} and {mean}")


def main():
    with tempfile.TemporaryDirectory(prefix="malha-docs-") as parent:
        folded_case(parent)
        cut_values(parent)
        converged_example(parent)
        angles(parent)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""The Python packages the worked solver needs beyond the standard library:
a program that lacks one ends at once with one line saying which ones and
how to get them, not with a traceback."""

import importlib.util
import os
import sys

# Module: (Debian and Ubuntu package, for /usr/bin/python3; pip package).
PACKAGES = {
    "numpy": ("python3-numpy", "numpy"),
    "scipy": ("python3-scipy", "scipy"),
    "matplotlib": ("python3-matplotlib", "matplotlib"),
    "meshio": ("python3-meshio", "meshio"),
}


def require(*modules):
    """Ends the program when a module is not installed for this Python."""
    missing = [m for m in modules if importlib.util.find_spec(m) is None]
    if not missing:
        return
    program = os.path.splitext(os.path.basename(sys.argv[0]))[0] or "python3"
    debian = " ".join(PACKAGES[m][0] for m in missing)
    pip = " ".join(PACKAGES[m][1] for m in missing)
    sys.exit(f"{program}: needs the Python package{'s' if len(missing) > 1 else ''} "
             f"{' and '.join(missing)}, not installed for {sys.executable}; on Debian and "
             f"Ubuntu: sudo apt install {debian} (they are for /usr/bin/python3), "
             f"elsewhere: {sys.executable} -m pip install {pip}")

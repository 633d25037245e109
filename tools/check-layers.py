#!/usr/bin/env python3
"""Keeps the source folders layered: every include points down.

Each folder of the product is one layer and may include only the layers
below it (the transitive closure of BELOW), never one above it or beside
it, so no two folders can include each other. A source folder that is not
in the table fails the check too: a new folder must be given its place.

  tools/check-layers.py [ROOT]     ROOT defaults to the repository

Exit 0 when every include keeps to the layers, 1 with one line per
offending include (file:line: ...), 2 when the table itself is wrong.
"""
import os
import re
import sys

# Each layer and the layers it builds on directly, top of the tree last.
# The library never includes the tester; the tester binds it at run time,
# except the demo's device server, which reuses its Telnet codec.
BELOW = {
    # The library's public records: shipped with it, and the base of the
    # OS seam's Win32 types, so that tester and library share one
    # definition. A file of its own below everything, including nothing.
    "netserial/qelnet_types.h": [],
    "platform": ["netserial/qelnet_types.h"],
    "netserial": ["platform"],
    "tester/config": ["platform"],
    "tester/version": ["platform"],
    "tester/port": ["platform"],
    "tester/demo": ["platform", "netserial"],
    "tester/engine": ["tester/port", "tester/config"],
    "tester/session": ["tester/engine"],
    "tester/report": ["tester/session"],
    "tester/batch": ["tester/report"],
    "tester/ui/tui": ["tester/report", "tester/version"],
    "tester/ui/win32": ["tester/report", "tester/version"],
    "tester/app": ["tester/ui/tui", "tester/ui/win32", "tester/batch", "tester/demo",
                   "tester/version"],
}
ROOTS = ("platform", "netserial", "tester")
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|rc|inl)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def closure():
    """The layers each layer may include; exits 2 on a cycle or an unknown name."""
    allowed = {}

    def reach(layer, trail):
        if layer in trail:
            sys.exit("check-layers: the table has a cycle: " + " -> ".join(trail + [layer]))
        if layer not in BELOW:
            sys.exit("check-layers: the table names an unknown layer: " + layer)
        if layer not in allowed:
            found = set()
            for lower in BELOW[layer]:
                found.add(lower)
                found |= reach(lower, trail + [layer])
            allowed[layer] = found
        return allowed[layer]

    for layer in BELOW:
        reach(layer, [])
    return allowed


def layer_of(path):
    """The deepest layer that holds `path` (a path relative to the root), or None."""
    best = None
    for layer in BELOW:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    allowed = closure()
    problems = []
    for top in ROOTS:
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                own = layer_of(path)
                if own is None:
                    problems.append(f"{path}: in no layer; give its folder a place in "
                                    "tools/check-layers.py")
                    continue
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = layer_of(m.group(1))
                        # A name without a layer ("resource.h") is the folder's own.
                        if target is None or target == own or target in allowed[own]:
                            continue
                        problems.append(f"{path}:{number}: {own} includes {m.group(1)} "
                                        f"from {target}, which is not below it")
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} include(s) break the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Fails when a folder of src/ includes a folder above it, or when folders
include each other in a circle. The floors, from the bottom up:

    platform < model < link, protocol, faultrec < settings < tags < component

`vorlan/` (the public header) may be included from anywhere.
"""
import os
import re
import sys

FLOORS = {
    "platform": 0,
    "model": 1,
    "link": 2, "protocol": 2, "faultrec": 2,
    "settings": 3,
    "tags": 4,
    "component": 5,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def main(root):
    src = os.path.join(root, "src")
    edges = {}
    problems = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in FLOORS:
            problems.append(f"src/{folder}: a folder with no floor; add it to {sys.argv[0]}")
            continue
        for name in sorted(os.listdir(path)):
            file = os.path.join(path, name)
            with open(file, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or m.group(1) in ("vorlan", folder):
                        continue
                    target = m.group(1)
                    where = f"src/{folder}/{name}:{number}"
                    if target not in FLOORS:
                        problems.append(f"{where}: includes unknown folder {target}/")
                    elif FLOORS[target] > FLOORS[folder]:
                        problems.append(f"{where}: {folder}/ includes {target}/, a floor above it")
                    edges.setdefault(folder, set()).add(target)
    # Circles among folders on one floor.
    def reaches(start, goal, seen):
        for nxt in edges.get(start, ()):
            if nxt == goal:
                return True
            if nxt not in seen:
                seen.add(nxt)
                if reaches(nxt, goal, seen):
                    return True
        return False
    for folder in sorted(edges):
        for target in sorted(edges[folder]):
            if reaches(target, folder, {target}):
                problems.append(f"src/{folder}/ and src/{target}/ include each other (a circle)")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))

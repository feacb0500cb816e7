#!/usr/bin/env python3
"""Holds the includes of src/ to the layers of docs/architecture.md.

Also checks that every file docs/architecture.md names exists.

A file may include a header of its own folder or of a folder in a lower
layer.  An include of a higher layer is allowed only where a comment stands
right above it saying why.  Prints every include that breaks the order and
exits 1; prints the count of includes checked and exits 0 otherwise.
"""
import os
import re
import sys

# Top to bottom; folders on one line are one layer and may include each other.
LAYERS = [
    ["shell"],
    ["unload", "unload/writers"],
    ["scan", "unload/parallel"],
    ["unload/values"],
    ["lob", "view"],
    ["index", "dictionary"],
    ["unload/rows", "unload/charsets"],
    ["block"],
    ["datafile"],
    ["asm"],
    ["core"],
]
RANK = {folder: rank for rank, layer in enumerate(LAYERS) for folder in layer}
INCLUDE = re.compile(r'^\s*#include "([a-z_]+(?:/[a-z_]+)*)/[A-Za-z0-9_]+\.h"')


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src")
    faults = []
    checked = 0
    for root, _, files in os.walk(src):
        folder = os.path.relpath(root, src)
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            if folder not in RANK:
                faults.append(f"{folder}/{name}: folder {folder} has no layer")
                continue
            with open(os.path.join(root, name), encoding="utf-8") as f:
                lines = f.read().split("\n")
            for number, line in enumerate(lines, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                checked += 1
                target = m.group(1)
                if target not in RANK:
                    faults.append(f"{folder}/{name}:{number}: {target}/ has no layer")
                elif RANK[target] < RANK[folder] and not said_why(lines, number - 1):
                    faults.append(f"{folder}/{name}:{number}: {folder}/ includes {target}/, a higher layer, "
                                  "with no comment saying why")
    faults += missing_from_map(os.path.join(src, "..", "docs", "architecture.md"), src)
    for fault in faults:
        print(fault)
    print(f"{checked} includes checked, {len(faults)} faults")
    return 1 if faults else 0


def missing_from_map(doc, src):
    """Files the architecture page names in backquotes that do not exist."""
    if not os.path.exists(doc):
        return [f"{doc} is missing"]
    root = os.path.join(src, "..")
    with open(doc, encoding="utf-8") as f:
        names = re.findall(r"`([A-Za-z0-9_./-]+\.(?:cpp|h|py|md|sh))`", f.read())
    return [f"docs/architecture.md names {name}, which does not exist" for name in sorted(set(names))
            if not os.path.exists(os.path.join(src, name)) and not os.path.exists(os.path.join(root, name))]


def said_why(lines, index):
    """A comment line directly above the include."""
    return index > 0 and lines[index - 1].lstrip().startswith("//")


if __name__ == "__main__":
    sys.exit(main())

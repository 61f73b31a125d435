#!/usr/bin/env python3
"""Fails when a library under src/ includes a header of a library above it.

The order is the one the top-level CMakeLists.txt builds the libraries in (its
BSPPVS_LIBRARIES list), with the viewer last: each library may include its own headers and
those of the libraries before it, never those after it.
"""

import os
import re
import sys

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.MULTILINE)


def library_order():
    text = open(os.path.join(SOURCE_DIR, "CMakeLists.txt")).read()
    match = re.search(r"set\(BSPPVS_LIBRARIES([^)]*)\)", text)
    if not match:
        sys.exit("layering_test: no BSPPVS_LIBRARIES list in CMakeLists.txt")
    return match.group(1).split() + ["viewer"]


def upward_includes(order):
    rank = {name: i for i, name in enumerate(order)}
    src = os.path.join(SOURCE_DIR, "src")
    for folder in sorted(os.listdir(src)):
        if folder not in rank:
            yield f"src/{folder}/ is not in BSPPVS_LIBRARIES"
            continue
        for root, _, files in os.walk(os.path.join(src, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(root, name)
                for included in INCLUDE.findall(open(path).read()):
                    if included in rank and rank[included] > rank[folder]:
                        yield (f"{os.path.relpath(path, SOURCE_DIR)} includes {included}/, "
                               f"which comes after {folder}/")


def main():
    problems = list(upward_includes(library_order()))
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)
    print("every include points down the library order")


if __name__ == "__main__":
    main()

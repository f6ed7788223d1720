#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Checks that the program's includes run downhill only.

Floors, lowest first (a file may include its own floor and the ones below):
  runtime/ < firmware/cpu/ < image/ < firmware/ < ops/, record/ < app/ < kit/
and the host tools over them:
  fwtree/ < diff/compare/ < diff/report/ < diff/, fleet/, explain/
ops/ and record/ stand side by side and include neither each other, and so do
pellrix-diff's command line (diff/), fleet/ and explain/. The host tools read
the kit's RESULT.TXT with the kit's own reader (kit/result_text.h). The program never includes
the host code (sim/, diff/, fwtree/, fleet/, explain/, tests/, bench/).
Prints one line per upward include and exits 1 when there is any.

usage: check-include-floors.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

FLOORS = [  # (folder, floor); the longest matching folder decides
    ("runtime", 0),
    ("firmware/cpu", 1),
    ("image", 2),
    ("firmware", 3),
    ("ops", 4),
    ("record", 4),
    ("app", 5),
    ("kit", 6),
    # Host tools: the comparison carries no writer, so pellrix-fleet can link
    # it alone.
    ("fwtree", 7),
    ("diff/compare", 8),
    ("diff/report", 9),
    ("diff", 10),
    ("fleet", 10),
    ("explain", 10),
]
HOST = ("sim", "diff", "fwtree", "fleet", "explain", "tests", "bench")
HOST_FLOOR = 7
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(path):
    """The program folder a path (relative to the source dir) belongs to, or None."""
    best = None
    for folder, floor in FLOORS:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best[0]):
                best = (folder, floor)
    return best


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        own = folder_of(relative)
        if own is None:
            continue
        for included in INCLUDE.findall(source.read_text(errors="replace")):
            if own[1] < HOST_FLOOR and included.split("/")[0] in HOST:
                problems.append(f"{relative}: includes host code {included}")
                continue
            target = folder_of(included)
            if target is None or target[0] == own[0]:
                continue
            if target[1] > own[1] or (target[1] == own[1]):
                problems.append(f"{relative}: includes {included}, on a floor above or beside {own[0]}/")
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} upward includes")
        return 1
    print("includes run downhill only")
    return 0


if __name__ == "__main__":
    sys.exit(main())

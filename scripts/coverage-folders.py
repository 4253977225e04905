#!/usr/bin/env python3
"""Line and branch coverage per top folder, from gcovr's JSON summary.

usage: coverage-folders.py SUMMARY.json

Prints one row per folder of the files in the summary (their paths relative to the
report's root), then the total. Exits non-zero when the summary has no lines, so an
empty run never reads as a figure.
"""
import json
import sys


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} %" if total else "    - "


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        summary = json.load(f)
    folders = {}
    for entry in summary["files"]:
        name = entry["filename"].replace("\\", "/")
        folder = name.split("/", 1)[0] if "/" in name else "."
        row = folders.setdefault(folder, [0, 0, 0, 0])
        row[0] += entry["line_covered"]
        row[1] += entry["line_total"]
        row[2] += entry["branch_covered"]
        row[3] += entry["branch_total"]
    total = [sum(r[i] for r in folders.values()) for i in range(4)]
    print(f"{'folder':<12}{'lines':>22}{'branches':>24}")
    for folder, r in sorted(folders.items()) + [("total", total)]:
        print(f"{folder:<12}{percent(r[0], r[1]):>9} {r[0]:>5}/{r[1]:<6}"
              f"{percent(r[2], r[3]):>11} {r[2]:>5}/{r[3]:<6}")
    return 0 if total[1] else 1


if __name__ == "__main__":
    sys.exit(main())

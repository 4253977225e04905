#!/usr/bin/env python3
"""Counts single tests from GoogleTest's XML files and CTest's JUnit file.

usage: count-results.py [LABEL=]RESULTS_DIR...

A test executable that ends without its XML (a crash, a time-out) or fails without a
failing case in it counts as one failed test, and so does a folder without CTest's file,
so a broken run never reads as green.
For each folder given a LABEL (a target), prints "LABEL: N passed, N failed";
the last line is always the sum, "N passed, N failed". Exits non-zero when anything
failed, or when nothing ran in one of the folders.
"""
import os
import sys
import xml.etree.ElementTree as ET


def count(results):
    passed = failed = skipped = 0
    ctest = {}
    junit = os.path.join(results, "ctest.junit")
    if not os.path.exists(junit):
        return 0, 1, 0  # the run never got to its tests (its harness failed)
    for case in ET.parse(junit).getroot().iter("testcase"):
        status = case.get("status", "")
        bad = case.find("failure") is not None or case.find("error") is not None
        ctest[case.get("name")] = "fail" if (bad or status == "fail") else status or "run"

    for name, status in sorted(ctest.items()):
        path = os.path.join(results, name + ".xml")
        if status in ("disabled", "notrun"):
            continue
        if not os.path.exists(path):
            if status == "fail":
                failed += 1
            else:
                passed += 1
            continue
        p = f = s = 0
        try:
            for case in ET.parse(path).getroot().iter("testcase"):
                if case.find("failure") is not None:
                    f += 1
                elif case.get("result") == "skipped" or case.find("skipped") is not None:
                    s += 1
                elif case.get("status") == "notrun":
                    s += 1
                else:
                    p += 1
        except ET.ParseError:
            f += 1
        if status == "fail" and f == 0:
            f += 1
        passed, failed, skipped = passed + p, failed + f, skipped + s
    return passed, failed, skipped


def line(passed, failed, skipped):
    text = f"{passed} passed, {failed} failed"
    return text + (f", {skipped} skipped" if skipped else "")


total = [0, 0, 0]
ok = True
folders = sys.argv[1:]
for arg in folders:
    label, _, folder = arg.rpartition("=")
    p, f, s = count(folder)
    if label:
        print(f"{label or folder}: {line(p, f, s)}")
    ok = ok and f == 0 and p > 0
    total = [total[0] + p, total[1] + f, total[2] + s]
print(line(*total))
sys.exit(0 if ok and folders else 1)

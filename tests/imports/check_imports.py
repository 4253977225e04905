#!/usr/bin/env python3
"""Checks the import tables of staged Windows binaries against the oldest Windows they
must start on.

usage: check_imports.py OBJDUMP LATE_LIST BINARY...

LATE_LIST names, one a line, the functions and (as "dll: NAME") the DLLs that the oldest
supported Windows lacks; a trailing "*" matches any ending. A binary that imports one
of them would not load there. A binary whose import table cannot be read, or that shows
no kernel32 imports at all, fails too: an empty reading must never pass.
"""
import subprocess
import sys


def imports(objdump, path):
    """{dll (lower case): [function names]} from `objdump -p`."""
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                         text=True).stdout
    table, dll = {}, None
    for line in out.splitlines():
        text = line.strip()
        if text.startswith("DLL Name:"):
            dll = text.split(":", 1)[1].strip().lower()
            table.setdefault(dll, [])
        elif dll and line.startswith("\t") and text and not text.startswith("vma:"):
            fields = text.split()
            # "<rva> <hint> <name>"; an ordinal import shows "<rva> <ordinal> <none>".
            if len(fields) >= 3 and all(c in "0123456789abcdef" for c in fields[0]):
                table[dll].append(fields[2])
    return table


def matches(pattern, name):
    if pattern.endswith("*"):
        return name.startswith(pattern[:-1])
    return name == pattern


def main():
    objdump, late_list = sys.argv[1], sys.argv[2]
    late_dlls, late_functions = [], []
    with open(late_list) as f:
        for line in f:
            entry = line.split("#", 1)[0].strip()
            if entry.lower().startswith("dll:"):
                late_dlls.append(entry[4:].strip().lower())
            elif entry:
                late_functions.append(entry)
    failed = False
    for path in sys.argv[3:]:
        try:
            table = imports(objdump, path)
        except (OSError, subprocess.CalledProcessError) as e:
            print(f"{path}: cannot read the import table ({e})")
            failed = True
            continue
        if not table.get("kernel32.dll"):
            print(f"{path}: no kernel32.dll imports read")
            failed = True
            continue
        bad = []
        for dll, functions in sorted(table.items()):
            if any(matches(p, dll) for p in late_dlls):
                bad.append(dll)
            bad += [f"{dll}!{fn}" for fn in functions
                    if any(matches(p, fn) for p in late_functions)]
        count = sum(len(v) for v in table.values())
        if bad:
            print(f"{path}: imports what the oldest Windows lacks: {', '.join(bad)}")
            failed = True
        else:
            print(f"{path}: {count} imports from {len(table)} DLLs, none later than allowed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

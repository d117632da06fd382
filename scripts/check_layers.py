#!/usr/bin/env python3
"""Checks every #include "..." of src/ against the layering table of the
README (between the <!-- layers --> markers): a file may include its own
subsystem and the subsystems its row names, nothing else. Also refuses a
table whose rows form a cycle. Prints what it found; exit status 1 on any
violation.

    scripts/check_layers.py [ROOT]
"""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
NESTED = ("ui",)  # subsystems whose sub-folders are subsystems of their own (ui/console, ui/win32, ui/web)


def read_table():
    text = open(os.path.join(root, "README.md"), encoding="utf-8").read()
    m = re.search(r"<!-- layers -->(.*?)<!-- /layers -->", text, re.S)
    if not m:
        sys.exit("lint: the README has no layering table (<!-- layers --> ... <!-- /layers -->)")
    table = {}
    for line in m.group(1).splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 2 or not cells[0].startswith("`"):
            continue
        name = cells[0].strip("`")
        allowed = {a.strip().strip("`") for a in cells[1].split(",") if a.strip() and a.strip() not in ("—", "-")}
        table[name] = allowed
    return table


def subsystem_of(path):
    """The subsystem of a path below src/ ("link/ws.h" -> "link")."""
    parts = path.split("/")
    if parts[0] in NESTED and len(parts) > 2:
        return parts[0] + "/" + parts[1]
    return parts[0]


def find_cycle(table):
    state = {}

    def visit(n, trail):
        state[n] = 1
        for m in sorted(table.get(n, ())):
            if state.get(m) == 1:
                return trail + [n, m]
            if m not in state:
                found = visit(m, trail + [n])
                if found:
                    return found
        state[n] = 2
        return None

    for n in sorted(table):
        if n not in state:
            found = visit(n, [])
            if found:
                return found
    return None


def main():
    table = read_table()
    bad = []
    cycle = find_cycle(table)
    if cycle:
        bad.append("the layering table has a cycle: " + " -> ".join(cycle))
    for name, allowed in table.items():
        for a in allowed - set(table):
            bad.append(f"the layering table's row {name} names {a}, which has no row")
    src = os.path.join(root, "src")
    checked = 0
    for dirpath, _, files in os.walk(src):
        for f in sorted(files):
            if not re.search(r"\.(c|cc|cpp|h|hpp|inc)$", f):
                continue
            rel = os.path.relpath(os.path.join(dirpath, f), src).replace(os.sep, "/")
            own = subsystem_of(rel)
            if own.startswith("sys"):
                own = "sys"
            if own not in table:
                bad.append(f"src/{rel}: subsystem {own} has no row in the layering table")
                continue
            checked += 1
            for n, line in enumerate(open(os.path.join(dirpath, f), encoding="utf-8", errors="replace"), 1):
                m = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
                if not m:
                    continue
                inc = m.group(1)
                if inc == "tolvex_sdk.h":
                    target = "sdk"
                elif "/" not in inc:
                    continue  # beside the including file: its own subsystem
                else:
                    target = subsystem_of(inc)
                if target == own or target in table[own]:
                    continue
                bad.append(f"src/{rel}:{n}: {own} may not include {inc} ({target})")
    if bad:
        print("lint: includes that break the layering (README, section Layers):")
        for b in bad:
            print("  " + b)
        return 1
    print(f"lint: layering ok ({checked} files, {len(table)} subsystems)")
    return 0


sys.exit(main())

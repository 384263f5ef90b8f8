#!/usr/bin/env python3
"""Checks the source tree's layering: every project include points to the
same folder or to a lower layer, and no two units (a .h with its .cpp)
need each other, directly or through others. Prints each fault; the exit
status is 1 when there is one."""
import os
import re
import sys

# Lower numbers are lower layers; folders of one rank are siblings and do
# not include each other.
RANKS = {"base": 0, "system": 1, "net": 2, "ui": 2, "sensors": 2, "update": 3, "crash": 3, "app": 4}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([^"]+)"', re.M)


def units(source_root):
    """Unit name ("ui/Layout") -> set of unit names it includes."""
    graph = {}
    for folder in RANKS:
        for directory, _, names in os.walk(os.path.join(source_root, folder)):
            for name in names:
                stem, extension = os.path.splitext(name)
                if extension not in (".h", ".cpp"):
                    continue
                path = os.path.join(directory, name)
                unit = os.path.relpath(os.path.join(directory, stem), source_root)
                unit = unit.replace(os.sep, "/")
                with open(path, encoding="utf-8") as text:
                    found = INCLUDE.findall(text.read())
                graph.setdefault(unit, set()).update(
                    f"{top}/{os.path.splitext(rest)[0]}" for top, rest in found if top in RANKS)
    return graph


def layer_faults(graph):
    for unit, targets in sorted(graph.items()):
        own = unit.split("/")[0]
        for target in sorted(targets):
            other = target.split("/")[0]
            if other != own and RANKS[other] >= RANKS[own]:
                way = "up" if RANKS[other] > RANKS[own] else "sideways"
                yield f"{unit} includes {target}: {way} from {own} to {other}"


def cycles(graph):
    """Groups of units that reach each other (Tarjan's strongly connected
    components), each of more than one unit."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for target in graph.get(unit, ()):
            if target not in graph or target == unit:
                continue
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return groups


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    graph = units(os.path.join(root, "src"))
    faults = list(layer_faults(graph))
    faults += ["units that include each other: " + ", ".join(group) for group in cycles(graph)]
    for fault in faults:
        print(fault)
    print(f"{len(graph)} units, {len(faults)} layering faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Prints the folder-level include graph of src/ and checks it against the
layers of src/LAYERS: every edge goes to the same layer or a lower one, and
the folders have no cycle. Exit status 1 on a violation.

    scripts/layers.py           the graph, layer by layer, then the verdict
    scripts/layers.py --dot     the graph in Graphviz form
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def read_layers():
    layers = []  # [(name, [folders])], bottom first
    with open(os.path.join(ROOT, "LAYERS")) as f:
        for line in f:
            words = line.split()
            if words and not words[0].startswith("#"):
                layers.append((words[0], words[1:]))
    return layers


def read_edges(folders):
    edges = {}  # (from, to) -> number of includes
    for folder in folders:
        path = os.path.join(ROOT, folder)
        for name in sorted(os.listdir(path)):
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for target in INCLUDE.findall(f.read()):
                    if target != folder:
                        edges[(folder, target)] = edges.get((folder, target), 0) + 1
    return edges


def find_cycle(folders, edges):
    """A list of folders forming a cycle, or None."""
    out = {f: sorted(t for (s, t) in edges if s == f) for f in folders}
    state = {}  # 1 on the stack, 2 done

    def visit(f, stack):
        state[f] = 1
        stack.append(f)
        for t in out.get(f, []):
            if state.get(t) == 1:
                return stack[stack.index(t):] + [t]
            if t not in state:
                found = visit(t, stack)
                if found:
                    return found
        stack.pop()
        state[f] = 2
        return None

    for f in folders:
        if f not in state:
            found = visit(f, [])
            if found:
                return found
    return None


def main():
    layers = read_layers()
    level = {}
    for i, (_, folders) in enumerate(layers):
        for f in folders:
            level[f] = i
    present = sorted(d for d in os.listdir(ROOT) if os.path.isdir(os.path.join(ROOT, d)))
    folders = [f for _, fs in layers for f in fs]
    edges = read_edges([f for f in folders if f in present])

    if "--dot" in sys.argv:
        print("digraph layers {\n  rankdir=BT;")
        for (s, t), n in sorted(edges.items()):
            print(f'  "{s}" -> "{t}" [label={n}];')
        print("}")
        return 0

    problems = []
    for d in present:
        if d not in level:
            problems.append(f"src/{d} is in no layer of src/LAYERS")
    for i in reversed(range(len(layers))):
        name, fs = layers[i]
        print(f"{i + 1} {name}")
        for f in fs:
            targets = sorted((t for (s, t) in edges if s == f), key=lambda t: (-level.get(t, 99), t))
            shown = ", ".join(f"{t} ({edges[(f, t)]})" for t in targets)
            print(f"    {f:12} -> {shown or '-'}")
    for (s, t), n in sorted(edges.items()):
        if t not in level:
            problems.append(f"{s} includes {t}/, which is in no layer")
        elif level[t] > level[s]:
            problems.append(f"upward: {s} ({layers[level[s]][0]}) includes {t} "
                            f"({layers[level[t]][0]}) {n} time(s)")
    cycle = find_cycle(folders, edges)
    if cycle:
        problems.append("cycle: " + " -> ".join(cycle))
    for p in problems:
        print("FAIL " + p)
    if problems:
        return 1
    print("layers: no upward edge, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())

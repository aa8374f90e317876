#!/usr/bin/env python3
"""Include rule of the product folders: no two folders include each other, directly or
through other folders, and the seam includes nothing outside itself.

Reads every '#include "folder/file"' of the product sources, builds the graph of folders,
and prints one PASS or FAIL line per rule with the cycles or the offending includes, then
"N passed, M failed". Exit status 0 only when both rules hold.

    python3 tests/layers/check_layers.py [REPO]
"""
import os
import re
import sys

SOURCES = (".h", ".cpp", ".rc")
NOT_PRODUCT = {"tests", "build", "out", "docs", "cmake", "scripts", ".git", ".ci"}
SEAM = "seam"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def folder_graph(repo):
    """{folder: {included folder: [(file, line text)]}} for the top-level product folders."""
    graph = {}
    for top in sorted(os.listdir(repo)):
        path = os.path.join(repo, top)
        if top in NOT_PRODUCT or top.startswith(".") or not os.path.isdir(path):
            continue
        edges = graph.setdefault(top, {})
        for base, _, files in os.walk(path):
            for name in files:
                if not name.endswith(SOURCES):
                    continue
                src = os.path.join(base, name)
                with open(src, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for m in INCLUDE.finditer(text):
                    target = m.group(1)
                    if target != top and os.path.isdir(os.path.join(repo, target)):
                        edges.setdefault(target, []).append(os.path.relpath(src, repo))
    return graph


def cycles(graph):
    """Every elementary cycle, once, as a list of folders starting at its smallest name."""
    found = set()

    def walk(start, node, path, on_path):
        for nxt in graph.get(node, {}):
            if nxt == start:
                found.add(tuple(path))
            elif nxt not in on_path and nxt > start:
                on_path.add(nxt)
                walk(start, nxt, path + [nxt], on_path)
                on_path.discard(nxt)

    for start in sorted(graph):
        walk(start, start, [start], {start})
    return sorted(found)


def main():
    repo = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    graph = folder_graph(repo)
    passed = failed = 0
    loops = cycles(graph)
    if loops:
        failed += 1
        shown = []
        for loop in loops:
            hops = []
            for a, b in zip(loop, loop[1:] + loop[:1]):
                hops.append("%s -> %s (%s)" % (a, b, graph[a][b][0]))
            shown.append(", ".join(hops))
        print("FAIL folders include each other: %s" % "; ".join(shown))
    else:
        passed += 1
        print("PASS no folders include each other (%d folders)" % len(graph))
    outside = graph.get(SEAM, {})
    if outside:
        failed += 1
        print("FAIL the seam includes %s" % ", ".join(
            "%s (%s)" % (folder, files[0]) for folder, files in sorted(outside.items())))
    else:
        passed += 1
        print("PASS the seam includes nothing outside itself")
    print("layers: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

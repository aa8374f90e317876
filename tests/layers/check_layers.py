#!/usr/bin/env python3
"""Include rule of the product folders: no two folders include each other, directly or
through other folders, and the seam includes nothing outside itself; a failure names the cycles
or the offending includes. Ends with "layers: N passed, M failed, 0 skipped".

    python3 tests/layers/check_layers.py [REPO]
"""
import os
import re
import sys
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import Report  # noqa: E402

NOT_PRODUCT = {"tests", "build", "out", "docs", "cmake", "scripts", ".git", ".ci"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def folder_graph(repo):
    """{folder: {included folder: [including files]}} for the top-level product folders."""
    graph = {}
    for top in sorted(os.listdir(repo)):
        if top in NOT_PRODUCT or top.startswith(".") or not os.path.isdir(os.path.join(repo, top)):
            continue
        edges = graph.setdefault(top, {})
        for base, _, files in os.walk(os.path.join(repo, top)):
            for src in [os.path.join(base, n) for n in files if n.endswith((".h", ".cpp", ".rc"))]:
                for target in INCLUDE.findall(Path(src).read_text("utf-8", "replace")):
                    if target != top and os.path.isdir(os.path.join(repo, target)):
                        edges.setdefault(target, []).append(os.path.relpath(src, repo))
    return graph


def cycles(graph):
    """Every elementary cycle, once, as a list of folders starting at its smallest name."""
    found = set()

    def walk(start, node, path):
        for nxt in graph.get(node, {}):
            if nxt == start:
                found.add(tuple(path))
            elif nxt not in path and nxt > start:
                walk(start, nxt, path + [nxt])

    for start in sorted(graph):
        walk(start, start, [start])
    return sorted(found)


def main():
    repo = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), "..", ".."))
    graph = folder_graph(repo)
    loops, seam, report = cycles(graph), graph.get("seam", {}), Report("layers")
    report.check("no folders include each other (%d folders)" % len(graph), not loops, "; ".join(
        ", ".join("%s -> %s (%s)" % (a, b, graph[a][b][0]) for a, b in zip(loop, loop[1:] + loop[:1]))
        for loop in loops))
    report.check("the seam includes nothing outside itself", not seam, "it includes " + ", ".join(
        "%s (%s)" % (f, files[0]) for f, files in sorted(seam.items())))
    return report.closing()


if __name__ == "__main__":
    sys.exit(main())

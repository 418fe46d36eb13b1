#!/usr/bin/env python3
"""Fails when the #include lines between source folders form a circle, or when a folder's
CMakeLists.txt does not name each of its .cpp files (a file's library comes from its folder's
explicit list, never from a pattern). Each folder, subfolders included, counts on its own."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TOP = ("app", "catalogue", "search", "retrieval")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folders_graph():
    edges = {}
    for top in TOP:
        for f in (ROOT / top).rglob("*"):
            if f.suffix not in (".h", ".cpp", ".inc"):
                continue
            here = f.parent.relative_to(ROOT).as_posix()
            for inc in INCLUDE.findall(f.read_text(encoding="utf-8")):
                there = pathlib.PurePosixPath(inc).parent.as_posix()
                if there != here and there.split("/")[0] in TOP:
                    edges.setdefault(here, {}).setdefault(there, f"{f.relative_to(ROOT)} -> {inc}")
    return edges


def find_circle(edges):
    state, stack = {}, []

    def visit(n):
        state[n] = 1
        stack.append(n)
        for m in sorted(edges.get(n, {})):
            if state.get(m) == 1:
                return stack[stack.index(m):] + [m]
            if m not in state:
                found = visit(m)
                if found:
                    return found
        stack.pop()
        state[n] = 2
        return None

    for n in sorted(edges):
        if n not in state:
            found = visit(n)
            if found:
                return found
    return None


def unlisted_sources():
    missing = []
    for top in TOP:
        for f in (ROOT / top).rglob("*.cpp"):
            lists = f.parent / "CMakeLists.txt"
            text = lists.read_text(encoding="utf-8") if lists.exists() else ""
            if not re.search(r"(^|[\s(])" + re.escape(f.name) + r"($|[\s)])", text, re.M):
                missing.append(f.relative_to(ROOT).as_posix())
    return missing


def main():
    ok = True
    edges = folders_graph()
    circle = find_circle(edges)
    if circle:
        ok = False
        print("includes between folders form a circle: " + " -> ".join(circle))
        for a, b in zip(circle, circle[1:]):
            print(f"  {edges[a][b]}")
    for f in unlisted_sources():
        ok = False
        print(f"{f}: not named in its folder's CMakeLists.txt")
    if ok:
        print("layers: " + ", ".join(f"{a} -> {' '.join(sorted(b))}" for a, b in sorted(edges.items())))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

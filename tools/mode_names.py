#!/usr/bin/env python3
"""For each of loopcheck's modes (a folder of loopcheck/ with a row in the
mode table), the files of loopcheck/ outside its folder that name one of its
types or functions (those its headers declare): the mode table, and the few
a mode's design needs (--buffers runs the latency and the monitor). Prints
a line per mode, its count and the files with the names they use.

    tools/mode_names.py [ROOT]     (ROOT: the tree, default the one it is in)
"""
import re
import sys
from pathlib import Path

MODES = ["latency", "quality", "idle", "monitor", "buffers"]


def declared(header):
    text = re.sub(r"//.*", "", header.read_text())
    names = set(re.findall(r"\bstruct\s+(\w+)", text))
    # A declaration's name: the word before its parameter list, at the start of a line.
    names |= set(re.findall(r"^[\w:<>,&*\s]*?\b(\w+)\s*\(", text, re.M))
    names |= set(re.findall(r"constexpr\s+[\w\s*]+?\b(\w+)\s*=", text))
    # Words of the language and the types modes share, which a header names too.
    return names - {"void", "if", "return", "operator", "report_plot", "report_page", "stream", "html_page"}


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    files = sorted((root / "loopcheck").rglob("*.[ch]pp"))
    for mode in MODES:
        folder = root / "loopcheck" / mode
        names = set()
        for header in folder.glob("*.hpp"):
            names |= declared(header)
        outside = []
        for f in files:
            if folder in f.parents:
                continue
            text = f.read_text()
            used = sorted(n for n in names if re.search(r"\b" + re.escape(n) + r"\b", text))
            if used:
                outside.append(f"{f.relative_to(root)} ({', '.join(used)})")
        print(f"{mode}: {len(outside)}")
        for line in outside:
            print(f"    {line}")


if __name__ == "__main__":
    main()

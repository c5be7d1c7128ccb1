#!/usr/bin/env python3
"""Puts a benchmark run's block (standard input) into a document between its bench markers.

    write-doc.py DOC < block

The document is left as it is, with exit code 1 and the reason, when the block's table is
not a whole measured run: no table, a row without a measured figure (empty, not a number),
or a row whose verdict is neither "yes" nor "**no**".
"""
import re
import sys


def table_faults(block):
    rows = [line for line in block.splitlines() if line.startswith("|")]
    if len(rows) < 3 or not rows[0].startswith("| figure |"):
        return ["the block holds no table of figures"]
    faults = []
    for row in rows[2:]:
        cells = [c.strip() for c in row.strip().strip("|").split("|")]
        if len(cells) != 4:
            faults.append("a row without its four cells: " + row)
            continue
        figure, measured, target, met = cells
        if not figure or not target:
            faults.append("a row without its figure or target: " + row)
        if not re.search(r"\d", measured) or re.search(r"\b(nan|inf|unmeasured)\b", measured, re.I):
            faults.append("an unmeasured row: " + row)
        if met not in ("yes", "**no**"):
            faults.append("a row with no verdict: " + row)
    return faults


def main():
    path = sys.argv[1]
    block = sys.stdin.read().rstrip("\n")
    faults = table_faults(block)
    if faults:
        sys.exit(path + " left as it was: " + "; ".join(faults))
    text = open(path, encoding="utf-8").read()
    begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
    if begin not in text or end not in text:
        sys.exit(path + " has no bench markers")
    head, rest = text.split(begin, 1)
    _, tail = rest.split(end, 1)
    open(path, "w", encoding="utf-8").write(head + begin + "\n" + block + "\n" + end + tail)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Puts a benchmark run's block (standard input) into a document between its bench markers.

    write-doc.py DOC < block
"""
import sys

path = sys.argv[1]
block = sys.stdin.read().rstrip("\n")
text = open(path, encoding="utf-8").read()
begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
if begin not in text or end not in text:
    sys.exit(path + " has no bench markers")
head, rest = text.split(begin, 1)
_, tail = rest.split(end, 1)
open(path, "w", encoding="utf-8").write(head + begin + "\n" + block + "\n" + end + tail)

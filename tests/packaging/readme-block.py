#!/usr/bin/env python3
"""Prints one command block of the README, exactly as written: the indented block under the
given heading that contains the given text.
    readme-block.py README.md '## Installing' 'cmake --install'
"""
import sys

readme, heading, needle = sys.argv[1:4]
lines = open(readme, encoding="utf-8").read().split("\n")
level = heading.split(" ")[0]
inside, blocks, block = False, [], []
for line in lines:
    if line.startswith("#"):
        marks = line.split(" ")[0]
        if line.strip() == heading:
            inside = True
            continue
        if inside and len(marks) <= len(level):
            break
    if not inside:
        continue
    if line.startswith("    "):
        block.append(line[4:])
    elif block and line.strip() == "":
        block.append("")
    elif block:
        blocks.append(block)
        block = []
if block:
    blocks.append(block)
found = ["\n".join(b).strip() for b in blocks if needle in "\n".join(b)]
if len(found) != 1:
    sys.exit("README: %d blocks under %r contain %r" % (len(found), heading, needle))
print(found[0])

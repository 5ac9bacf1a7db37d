#!/usr/bin/env python3
"""Makes or checks a chain of directories deeper than the longest path the
system takes in one call. It works one level at a time with relative paths.

  chain.py make DIR DEPTH    DIR/d/d/.../d, DEPTH levels; each hundredth level
                             holds level.txt (its number, read-only), the last
                             one bottom.txt
  chain.py check DIR DEPTH   exits 1 unless DIR holds exactly that chain
"""
import os
import sys


def make(top, depth):
    os.makedirs(top)
    os.chdir(top)
    for level in range(1, depth + 1):
        os.mkdir("d")
        os.chdir("d")
        if level % 100 == 0:
            with open("level.txt", "w") as f:
                f.write(str(level))
            os.chmod("level.txt", 0o444)
    with open("bottom.txt", "w") as f:
        f.write("bottom")


def check(top, depth):
    os.chdir(top)
    for level in range(1, depth + 1):
        if sorted(os.listdir(".")) != ["d"] + (["level.txt"] if level > 1 and (level - 1) % 100 == 0 else []):
            sys.exit(f"level {level - 1} holds {sorted(os.listdir('.'))}")
        os.chdir("d")
        if level % 100 == 0:
            if open("level.txt").read() != str(level) or os.stat("level.txt").st_mode & 0o200:
                sys.exit(f"level.txt of level {level} differs")
    want = ["bottom.txt"] + (["level.txt"] if depth % 100 == 0 else [])
    if sorted(os.listdir(".")) != want or open("bottom.txt").read() != "bottom":
        sys.exit(f"the last level holds {sorted(os.listdir('.'))}")


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2], int(sys.argv[3]))

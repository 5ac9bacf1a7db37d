#!/usr/bin/env python3
"""Generates the case table of platform/Text.cpp from Unicode's CaseFolding.txt.

    gen_casefold.py CaseFolding.txt OUTPUT.cpp

Names compare without case by their simple case folding (the lines of status
C and S; the full foldings F and the Turkic ones T are left out, so every
code point folds to exactly one code point). For ordering, each code point
gets a comparison key: the smallest code point among all those that share its
simple folding. For ASCII and Latin-1 that is the upper-case letter ("a" ->
"A", "e acute" -> "E acute"), which keeps the order names have always had,
with upper-case letters before '_'.

The output lists the code points whose key is not the code point itself as
ranges: a run of code points, consecutive or every second one, that all add
the same delta to get their key. ASCII is left out; the C++ code handles it
without the table. Besides the ranges the output holds the Unicode version
named in the data file's first line.

The script checks what the C++ code relies on and fails otherwise: keys of
ASCII are exactly the upper-case letters, a key lies in the same plane as its
code point (so UTF-16 text keeps its length when folded), and the ranges
reproduce every key.
"""

import bisect
import re
import sys


def parse(path):
    version = None
    fold = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if version is None:
                m = re.match(r"#\s*CaseFolding-(\d+\.\d+\.\d+)\.txt", line)
                if m:
                    version = m.group(1)
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            fields = [x.strip() for x in data.split(";")]
            if len(fields) < 3:
                sys.exit(f"{path}:{number}: expected 'code; status; mapping;'")
            status = fields[1]
            if status not in ("C", "S"):
                continue
            targets = fields[2].split()
            if len(targets) != 1:
                sys.exit(f"{path}:{number}: a simple folding must be a single code point")
            fold[int(fields[0], 16)] = int(targets[0], 16)
    if version is None:
        sys.exit(f"{path}: no 'CaseFolding-X.Y.Z.txt' line naming the Unicode version")
    if not fold:
        sys.exit(f"{path}: no foldings of status C or S")
    return version, fold


def comparison_keys(fold):
    """Maps each code point that has a case partner to the smallest code
    point of its class (the code points with the same simple folding)."""
    classes = {}
    for cp, target in fold.items():
        classes.setdefault(target, {target}).add(cp)
    key = {}
    for members in classes.values():
        smallest = min(members)
        for cp in members:
            if cp != smallest:
                key[cp] = smallest
    return key


def check(key):
    for c in range(0x80):
        expected = c - 0x20 if ord("a") <= c <= ord("z") else c
        if key.get(c, c) != expected:
            sys.exit(f"U+{c:04X}: the key of an ASCII character must be its upper-case letter")
    for cp, k in key.items():
        if (cp >= 0x10000) != (k >= 0x10000) or 0xD800 <= cp <= 0xDFFF or 0xD800 <= k <= 0xDFFF:
            sys.exit(f"U+{cp:04X} -> U+{k:04X}: a key must lie in the plane of its code point")


def make_ranges(key):
    """Groups the (code point, delta) pairs, in code-point order, into runs of
    one delta whose code points are 1 or 2 apart. Taken in order, the runs
    cannot overlap."""
    ranges = []  # [first, last, delta, stride]
    for cp in sorted(c for c in key if c >= 0x80):
        delta = key[cp] - cp
        if ranges:
            r = ranges[-1]
            if r[2] == delta:
                if r[0] == r[1] and cp - r[1] in (1, 2):
                    r[1], r[3] = cp, cp - r[1]
                    continue
                if cp - r[1] == r[3]:
                    r[1] = cp
                    continue
        ranges.append([cp, cp, delta, 1])
    return ranges


def verify(ranges, key):
    firsts = [r[0] for r in ranges]
    for a, b in zip(ranges, ranges[1:]):
        if a[1] >= b[0]:
            sys.exit("internal error: ranges overlap")
    # Every code point a range spans, and every code point with a key.
    points = {cp for cp in key if cp >= 0x80}
    for first, last, _, _ in ranges:
        points.update(range(first, last + 1))
    for cp in points:
        i = bisect.bisect_right(firsts, cp) - 1
        got = cp
        if i >= 0:
            first, last, delta, stride = ranges[i]
            if cp <= last and (cp - first) % stride == 0:
                got = cp + delta
        if got != key.get(cp, cp):
            sys.exit(f"internal error: the ranges give U+{got:04X} for U+{cp:04X}")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_casefold.py CaseFolding.txt OUTPUT.cpp")
    source, output = sys.argv[1], sys.argv[2]
    version, fold = parse(source)
    key = comparison_keys(fold)
    check(key)
    ranges = make_ranges(key)
    verify(ranges, key)

    lines = [
        f"// Generated by scripts/gen_casefold.py from CaseFolding-{version}.txt; do not edit.",
        '#include "platform/CaseFoldTable.h"',
        "",
        "namespace text {",
        "",
        f'extern const char kCaseFoldingVersion[] = "{version}";',
        "",
        "namespace casefold {",
        "",
        "const KeyRange kKeyRanges[] = {",
    ]
    for first, last, delta, stride in ranges:
        lines.append(f"    {{0x{first:05X}, 0x{last:05X}, {delta}, {stride}}},")
    lines += [
        "};",
        "const std::size_t kKeyRangeCount = sizeof kKeyRanges / sizeof kKeyRanges[0];",
        "",
        "}  // namespace casefold",
        "}  // namespace text",
        "",
    ]
    with open(output, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()

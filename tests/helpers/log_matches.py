#!/usr/bin/env python3
"""Checks an install log: log_matches.py LOG RECORD...

Each RECORD is the JSON of one expected line, in order, without its "time"
field: every record must carry a time in UTC with milliseconds as its first
field, which is checked for its form and then left out of the comparison. A
string value ending in "..." matches any string that starts with the rest.
Every line of the log must be one JSON object and the records must be
exactly the ones given."""
import json
import re
import sys

TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


def matches(want, got):
    if isinstance(want, str) and want.endswith("...") and isinstance(got, str):
        return got.startswith(want[:-3])
    if isinstance(want, dict) and isinstance(got, dict):
        return list(want) == list(got) and all(matches(want[k], got[k]) for k in want)
    if isinstance(want, list) and isinstance(got, list):
        return len(want) == len(got) and all(matches(w, g) for w, g in zip(want, got))
    return want == got


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = f.read().splitlines()
    got = []
    for n, line in enumerate(lines, 1):
        rec = json.loads(line, object_pairs_hook=dict)
        if list(rec)[0] != "time" or not TIME.match(rec["time"]):
            print(f"line {n}: no time in UTC with milliseconds first: {line}")
            return 1
        del rec["time"]
        got.append(rec)
    want = [json.loads(r) for r in sys.argv[2:]]
    if len(want) != len(got) or not all(matches(w, g) for w, g in zip(want, got)):
        print("log differs\nwant:\n" + "\n".join(map(json.dumps, want)) + "\ngot:\n" + "\n".join(lines))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

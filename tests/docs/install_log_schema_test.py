#!/usr/bin/env python3
"""The install log's schema accepts every record kind the log is documented
to hold, and refuses records that break the format: a missing or malformed
time, a phase of no kind, a command with both or neither of result and
error, counts below zero, exit statuses vsl never gives, keys it never
writes."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
import log_schema  # noqa: E402

T = "2026-12-05T21:04:05.123Z"
PARAMS = ["Software\\X", "v", "1", ""]

VALID = {
    "parse command": {"time": T, "phase": "parse", "line": 3, "op": "OP_REGWRITESTRING", "params": PARAMS,
                      "result": "True"},
    "parse command that failed": {"time": T, "phase": "parse", "line": 2, "op": "OP_COPY",
                                  "params": ["a", "b", "", ""], "error": "File a could not be located"},
    "run instruction": {"time": T, "phase": "run", "index": 0, "line": 5, "op": "OP_DELFILE",
                        "params": ["a.txt", "", "", ""], "result": ""},
    "run instruction without a line": {"time": T, "phase": "run", "index": 7, "op": "OP_MSGBOX",
                                       "params": ["x", "", "", ""], "result": ""},
    "opcode without a name": {"time": T, "phase": "run", "index": 1, "op": "", "params": ["", "", "", ""],
                              "result": ""},
    "parse error": {"time": T, "phase": "parse", "line": 2, "error": "Expecting string parameter"},
    "commit": {"time": T, "phase": "commit", "changes": 0},
    "rollback": {"time": T, "phase": "rollback", "undone": 3, "failed": [], "not_undoable": 0},
    "rollback with failures": {"time": T, "phase": "rollback", "undone": 1,
                               "failed": ["restore C:\\a.txt: permission denied"], "not_undoable": 2},
    **{f"end {n}": {"time": T, "phase": "end", "exit": n} for n in range(5)},
}


def without(record, key):
    return {k: v for k, v in record.items() if k != key}


def but(record, **changes):
    return {**record, **changes}


INVALID = {
    **{f"{name} without time": without(r, "time") for name, r in VALID.items()},
    **{f"{name} without phase": without(r, "phase") for name, r in VALID.items()},
    "time without milliseconds": but(VALID["commit"], time="2026-12-05T21:04:05Z"),
    "time with an offset": but(VALID["commit"], time="2026-12-05T21:04:05.123+01:00"),
    "time of no day": but(VALID["end 0"], time="2026-13-05T21:04:05.123Z"),
    "time as a number": but(VALID["end 0"], time=1765000000123),
    "unknown phase": but(VALID["commit"], phase="done"),
    "command with result and error": but(VALID["run instruction"], error="x"),
    "command with neither result nor error": without(VALID["run instruction"], "result"),
    "run instruction without index": without(VALID["run instruction"], "index"),
    "parse command with an index": but(VALID["parse command"], index=0),
    "three params": but(VALID["parse command"], params=PARAMS[:3]),
    "five params": but(VALID["parse command"], params=PARAMS + [""]),
    "a param that is no string": but(VALID["parse command"], params=["a", 1, "", ""]),
    "command without op": without(VALID["run instruction"], "op"),
    "lower-case op": but(VALID["run instruction"], op="delfile"),
    "line 0": but(VALID["parse error"], line=0),
    "parse error without line": without(VALID["parse error"], "line"),
    "parse error with a result": but(VALID["parse error"], result="True"),
    "negative index": but(VALID["run instruction"], index=-1),
    "negative changes": but(VALID["commit"], changes=-1),
    "changes as a string": but(VALID["commit"], changes="3"),
    "commit without changes": without(VALID["commit"], "changes"),
    "rollback without failed": without(VALID["rollback"], "failed"),
    "rollback without not_undoable": without(VALID["rollback"], "not_undoable"),
    "failed as a string": but(VALID["rollback"], failed="none"),
    "failed holding a number": but(VALID["rollback"], failed=[1]),
    "end with exit 5": but(VALID["end 0"], exit=5),
    "end with exit as a string": but(VALID["end 0"], exit="0"),
    "end with a key of another kind": but(VALID["end 0"], changes=1),
    "not an object": [T, "end", 0],
}


class InstallLogSchemaTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.check, _ = log_schema.validator()

    def test_accepts_every_documented_record_kind(self):
        for name, record in VALID.items():
            with self.subTest(name):
                self.assertEqual([], [e.message for e in self.check.iter_errors(record)])

    def test_refuses_malformed_records(self):
        for name, record in INVALID.items():
            with self.subTest(name):
                self.assertFalse(self.check.is_valid(record), record)

    def test_reports_lines_by_their_place_in_the_log(self):
        text = '{"time":"%s","phase":"end","exit":0}\nnot json\n{"phase":"end","exit":0}\n' % T
        found = log_schema.problems(text, "x.log", first_line=4)
        self.assertEqual(2, len(found), found)
        self.assertTrue(found[0].startswith("x.log:5: not JSON"), found[0])
        self.assertTrue(found[1].startswith("x.log:6: not a valid install log record (end record: "
                                            "'time' is a required property)"), found[1])


if __name__ == "__main__":
    unittest.main()

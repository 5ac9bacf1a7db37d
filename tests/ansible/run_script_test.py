#!/usr/bin/env python3
"""How varnel.vsl.run_script tells from a run's records whether the host
changed, and how it names an exit status. The fleet test (fleet_test.sh)
runs the module for real; these are the cases a fleet does not meet."""
import importlib.util
import os
import unittest

MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "integrations", "ansible",
                      "ansible_collections", "varnel", "vsl", "plugins", "modules", "run_script.py")
spec = importlib.util.spec_from_file_location("run_script", MODULE)
run_script = importlib.util.module_from_spec(spec)
spec.loader.exec_module(run_script)


def cmd(op, phase="run", **outcome):
    return dict(phase=phase, op=op, params=["", "", "", ""], **(outcome or {"result": ""}))


END = {"phase": "end", "exit": 0}


class ChangedTest(unittest.TestCase):
    def test_plain_run(self):
        cases = {
            "a registry write": ([cmd("OP_REGWRITESTRING", result="True"), END], True),
            "a write assigned while parsing": ([cmd("OP_WRITEFILE", "parse", result="x"), END], True),
            "a shell command": ([cmd("OP_SHELLCMD"), END], True),
            "a delete that found nothing": ([cmd("OP_DELFILE", result="False"), END], False),
            "a failed copy": ([cmd("OP_COPY", error="File a could not be located"), END], False),
            "reads, dialogs and cd": ([cmd("OP_REGREADSTRING", result="1"), cmd("OP_ASKYESNODLG", "parse",
                                       result="True"), cmd("OP_CD", result="True"), cmd("OP_MSGBOX"), END],
                                      False),
            "parse errors alone": ([{"phase": "parse", "line": 2, "error": "Expecting ="}, END], False),
            "nothing": ([], False),
        }
        for name, (records, changed) in cases.items():
            with self.subTest(name):
                self.assertIs(changed, run_script.run_changed(records))

    def test_atomic_run_counts_only_its_closing_record(self):
        write = cmd("OP_REGWRITESTRING", result="True")
        cases = {
            "commit of changes": ([write, {"phase": "commit", "changes": 2}, END], True),
            "commit of none": ([cmd("OP_DELFILE", result="False"), {"phase": "commit", "changes": 0}, END],
                               False),
            "rollback of everything": ([write, {"phase": "rollback", "undone": 1, "failed": [],
                                                "not_undoable": 0}, END], False),
            "rollback that could not undo": ([write, {"phase": "rollback", "undone": 0,
                                                      "failed": ["restore x"], "not_undoable": 0}, END], True),
            "rollback after a program ran": ([cmd("OP_RUN", result="0"), {"phase": "rollback", "undone": 0,
                                              "failed": [], "not_undoable": 1}, END], True),
        }
        for name, (records, changed) in cases.items():
            with self.subTest(name):
                self.assertIs(changed, run_script.run_changed(records))


class ExitMeaningTest(unittest.TestCase):
    def test_names(self):
        self.assertEqual(["run-time failure", "parse errors", "cancelled", "no script"],
                         [run_script.exit_meaning(rc) for rc in (1, 2, 3, 4)])
        self.assertEqual("killed by signal 9", run_script.exit_meaning(-9))
        self.assertEqual("an exit status vsl does not give", run_script.exit_meaning(7))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Validates install logs against docs/install-log.schema.json.

  log_schema.py LOG...      every line of every LOG must be one record that
                            the schema accepts; exits 1 naming each that is not

run_script_test.py imports problems() to check the records a test's run
appended to its log."""
import json
import os
import sys

SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                           "install-log.schema.json")


KINDS = {"parse": "command", "run": "command", "commit": "commit", "rollback": "rollback", "end": "end"}


def validator():
    """The schema's validator, and one for each record kind that explains a
    failure by what the record's phase says it is."""
    try:
        import jsonschema
    except ImportError:
        sys.exit(f"{sys.executable} has no jsonschema: install python3-jsonschema "
                 "(scripts/install-deps.sh test does)")
    with open(SCHEMA_PATH, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    base = {k: v for k, v in schema.items() if k != "oneOf"}
    kinds = {k: jsonschema.Draft202012Validator(dict(base, **{"$ref": "#/$defs/" + k}))
             for k in set(KINDS.values()) | {"parseError"}}
    return jsonschema.Draft202012Validator(schema), kinds


def kind_of(record):
    phase = record.get("phase") if isinstance(record, dict) else None
    if phase == "parse" and "op" not in record:
        return "parseError"
    return KINDS.get(phase)


def problems(text, where, check=None, first_line=1):
    """The reasons why lines of `text` (a log's content from line
    `first_line` on) are no valid records."""
    check, kinds = check or validator()
    found = []
    for n, line in enumerate(text.splitlines(), first_line):
        try:
            record = json.loads(line)
        except json.JSONDecodeError as e:
            found.append(f"{where}:{n}: not JSON ({e}): {line}")
            continue
        if check.is_valid(record):
            continue
        kind = kind_of(record)
        if kind is None:
            detail = "no phase of a known kind"
        else:
            errors = kinds[kind].iter_errors(record)
            detail = f"{kind} record: " + "; ".join(sorted({e.message for e in errors}))
        found.append(f"{where}:{n}: not a valid install log record ({detail}): {line}")
    return found


def main():
    check = validator()
    found = []
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8") as f:
            found += problems(f.read(), path, check)
    for p in found:
        print(p)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

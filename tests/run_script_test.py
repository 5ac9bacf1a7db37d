#!/usr/bin/env python3
"""Runs one .vsl script test against the built interpreter.

A test is a .vsl file whose comment lines beginning with one of these marks
say what the run must do (all other lines are the script itself):

  #> TEXT    a line the run must write to standard error, in order; the whole
             of standard error must be exactly these lines
  #| TEXT    a line the run must write to standard output (same rule)
  #< TEXT    a line fed to standard input
  #! N       the expected exit status (default 0)
  #$ CMD     a shell command run in the work directory before the script
  #? CMD     a shell command run after the script; it must exit with 0
  #@ ARGS    run `vsltool ARGS SCRIPT` instead of `vsl SCRIPT`
  #& ARGS    run `vsl ARGS` instead of `vsl SCRIPT` (split at blanks; may be empty)
  #= NAME=VALUE  an environment variable for the run
  #% NAME N  a resource limit for the run, soft and hard (NAME as in
             RLIMIT_NAME, e.g. NOFILE for the open files)

When the run writes an install log (`--log FILE` in #& or VSL_LOG in #=),
every record it appended must be valid under docs/install-log.schema.json.

Each test runs in a fresh directory: the script is copied to work/NAME.vsl and
run from work/ as `vsl NAME.vsl`; VSL_PREFIX, TMPDIR and HOME point into the
directory. In every mark's text these words are replaced:

  {work}  the work directory as a host path     {WORK}  the same in drive form
  {tmp}   the temporary directory (host path)   {TMP}   drive form, ending in \\
  {prefix} the prefix (host path)               {helpers} tests/helpers
  {vsl}   the interpreter under test            {vsltool} the tool under test
"""

import argparse
import itertools
import os
import resource
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "helpers"))
import log_schema  # noqa: E402


def drive_form(host_path):
    return "Z:" + host_path.replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vsl", required=True)
    ap.add_argument("--vsltool", required=True)
    ap.add_argument("--keep", action="store_true", help="keep the test directory")
    ap.add_argument("--launcher", default="",
                    help="a command that starts vsl and vsltool (wine for the Windows build)")
    ap.add_argument("script")
    args = ap.parse_args()

    with open(args.script, encoding="utf-8") as f:
        lines = f.read().splitlines()

    marks = {m: [] for m in "><|!$?@&=%"}
    for line in lines:
        if len(line) >= 2 and line[0] == "#" and line[1] in marks:
            marks[line[1]].append(line[3:])
    expect_err, expect_out, stdin_lines = marks[">"], marks["|"], marks["<"]
    setup, checks = marks["$"], marks["?"]
    exit_status = int(marks["!"][-1]) if marks["!"] else 0
    tool_args = marks["@"][-1].split() if marks["@"] else None
    vsl_args = marks["&"][-1].split() if marks["&"] else None
    env_extra = dict(r.partition("=")[::2] for r in marks["="])
    limits = [(getattr(resource, "RLIMIT_" + n), int(v)) for n, v in (r.split() for r in marks["%"])]

    root = tempfile.mkdtemp(prefix="vsltest-")
    work, tmp, prefix, home = (os.path.join(root, d) for d in ("work", "tmp", "prefix", "home"))
    for d in (work, tmp, home):
        os.makedirs(d)
    helpers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "helpers")
    words = {
        "{work}": work, "{WORK}": drive_form(work),
        "{tmp}": tmp, "{TMP}": drive_form(tmp) + "\\",
        "{prefix}": prefix, "{helpers}": helpers,
        # Under a launcher the programs are started through it in commands too.
        "{vsl}": " ".join(args.launcher.split() + [os.path.abspath(args.vsl)]),
        "{vsltool}": " ".join(args.launcher.split() + [os.path.abspath(args.vsltool)]),
    }

    def subst(s):
        for k, v in words.items():
            s = s.replace(k, v)
        return s

    env = dict(os.environ)
    env.update({"VSL_PREFIX": prefix, "TMPDIR": tmp, "HOME": home, "LC_ALL": "C.UTF-8"})
    if args.launcher:
        # A Windows build under its launcher keeps the launcher's own home
        # and temporary directory: Wine would set up its desktop files anew
        # in every fresh one.
        for k in ("TMPDIR", "HOME"):
            if k in os.environ:
                env[k] = os.environ[k]
            else:
                env.pop(k, None)
    env.pop("VSL_REGISTRY", None)
    env.pop("XDG_DATA_HOME", None)
    for k, v in env_extra.items():
        env[k] = subst(v)

    def shell(cmd, what):
        c = subprocess.run(["bash", "-c", subst(cmd)], cwd=work, env=env, capture_output=True, text=True)
        return [] if c.returncode == 0 else [f"{what} failed ({c.returncode}): {subst(cmd)}\n{c.stdout}{c.stderr}"]

    def host_path(path):
        if path[:2].upper() == "Z:":
            path = path[2:].replace("\\", "/")
        return os.path.join(work, path)

    # The install log the run writes, if any: `--log FILE`, else VSL_LOG.
    log_path = None
    if vsl_args is not None and "--log" in vsl_args[:-1]:
        log_path = host_path(subst(vsl_args[vsl_args.index("--log") + 1]))
    elif "VSL_LOG" in env_extra:
        log_path = host_path(env["VSL_LOG"])

    def appended_records(path, offset):
        if path is None or not os.path.isfile(path):
            return []
        with open(path, "rb") as f:
            content = f.read()
        return log_schema.problems(content[offset:].decode("utf-8", "replace"), os.path.relpath(path, work),
                                   first_line=content[:offset].count(b"\n") + 1)

    name = os.path.basename(args.script)
    shutil.copy(args.script, os.path.join(work, name))
    failures = []
    try:
        for cmd in setup:
            failures += shell(cmd, "setup command")
        if not failures:
            if tool_args is not None:
                argv = [args.vsltool] + [subst(a) for a in tool_args] + [name]
            elif vsl_args is not None:
                argv = [args.vsl] + [subst(a) for a in vsl_args]
            else:
                argv = [args.vsl, name]
            argv = args.launcher.split() + argv
            stdin = "".join(subst(s) + "\n" for s in stdin_lines)
            log_offset = os.path.getsize(log_path) if log_path and os.path.isfile(log_path) else 0
            def apply_limits():
                for which, value in limits:
                    resource.setrlimit(which, (value, value))
            r = subprocess.run(argv, cwd=work, env=env, input=stdin.encode(),
                               capture_output=True, timeout=120,
                               preexec_fn=apply_limits if limits else None)
            for stream, got, want in (("error", r.stderr, expect_err), ("output", r.stdout, expect_out)):
                got, want = got.decode("utf-8", "replace").splitlines(), [subst(s) for s in want]
                if got != want:
                    failures.append(f"standard {stream} differs:\n" + diff(want, got))
            if r.returncode != exit_status:
                failures.append(f"exit status {r.returncode}, expected {exit_status}")
            for cmd in checks:
                failures += shell(cmd, "check")
            failures += appended_records(log_path, log_offset)
    finally:
        if args.keep or failures:
            print(f"test directory kept: {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)

    if failures:
        print(f"FAIL {args.script}")
        for f in failures:
            print(f)
        return 1
    print(f"PASS {args.script}")
    return 0


def diff(want, got):
    rows = itertools.zip_longest(want, got, fillvalue="<nothing>")
    return "\n".join(f"{m}want: {w}\n{m}got:  {g}" for w, g in rows for m in ["  " if w == g else "! "])


if __name__ == "__main__":
    sys.exit(main())

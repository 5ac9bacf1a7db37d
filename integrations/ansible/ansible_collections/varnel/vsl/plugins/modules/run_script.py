#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 vsl maintainers
# MIT License (see the collection's galaxy.yml)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: run_script
short_description: Run a Varnel Script Language install script with vsl
version_added: "0.1.0"
description:
  - Runs an install script with C(vsl) on the managed host, by default as an
    atomic run (C(vsl --atomic)) that leaves the host as it found it unless
    the script succeeds.
  - Reads the run's install log back and reports its records, whether the run
    changed anything, and whether it was rolled back.
  - "A non-zero exit status of C(vsl) fails the task with a message that names
    what the status means: 1 a run-time failure, 2 parse errors, 3 cancelled,
    4 no script."
  - In check mode only C(vsltool check) runs, which parses the script and
    reports its parse errors without running anything.
options:
  script:
    description:
      - Path of the script on the managed host.
      - Exactly one of I(script) and I(content) is required.
    type: path
  content:
    description:
      - The text of the script. The module writes it to a temporary file that
        only the remote user can read, runs it and removes it afterwards.
      - Exactly one of I(script) and I(content) is required.
    type: str
  atomic:
    description:
      - Run with C(--atomic). A run that does not succeed (exit status 1, 2 or
        3) undoes every change the script made to files, directories and the
        registry before C(vsl) ends.
      - With C(false) the run is a plain one, as C(vsl) runs without the
        option (C(VSL_ATOMIC) in the module's environment is ignored).
    type: bool
    default: true
  answers:
    description:
      - The answers to the script's dialogs, in the order they are asked, one
        a line on standard input. A dialog asked after the last answer reads
        the end of the input. C(AskYesNoDlg) answers No, C(AskStringDlg) keeps
        its initial text.
    type: list
    elements: str
    default: []
  prefix:
    description:
      - The prefix that holds C(dosdevices/) (the drive letters) and
        C(drive_c/), set as C(VSL_PREFIX) for the run. An atomic run keeps
        its journal in C(journal/) inside it.
      - By default C(vsl) takes C($XDG_DATA_HOME/vsl) or C(~/.local/share/vsl).
    type: path
  registry:
    description:
      - The registry database, set as C(VSL_REGISTRY) for the run.
      - By default C(registry.db) in the prefix.
    type: path
  log:
    description:
      - Keep the install log at this path. C(vsl) appends to it, and the
        module reports the records this run appended.
      - Without it, the module has the run write a temporary log, reads it
        back and removes it.
    type: path
  creates:
    description:
      - A path (or glob pattern) that, when it already exists, means that
        the script has run. The script is then not run and the task reports
        C(ok).
    type: path
  removes:
    description:
      - A path (or glob pattern) that, when it does not exist, means that
        the script has nothing to do. The script is then not run and the task
        reports C(ok).
    type: path
  chdir:
    description:
      - Change into this directory before running the script. Relative paths
        of the other options are taken from it.
    type: path
  executable:
    description:
      - The C(vsl) program to run, a path or a name looked up on the PATH.
      - Check mode runs the C(vsltool) beside it, or the one on the PATH.
    type: path
    default: vsl
notes:
  - "The exit status of C(vsl): 0 the script ran to its end or to C(Exit),
    1 a run-time failure ended the run, 2 parse errors were reported, 3 the
    run was cancelled, 4 there was no script."
  - "C(changed) comes from the install log: for an atomic run, its C(commit)
    record counted at least one change (or its C(rollback) record says that
    a change could not be undone, or that programs ran whose effects cannot
    be undone); for a plain run, a command that changes the host (files,
    directories, the registry, the programs it starts) succeeded."
requirements:
  - vsl on the managed host (and vsltool for check mode)
seealso:
  - module: ansible.builtin.command
author:
  - vsl maintainers
attributes:
  check_mode:
    support: full
    description: Runs C(vsltool check) only; parse errors fail the task.
'''

EXAMPLES = r'''
- name: Install the sample application, all or nothing
  varnel.vsl.run_script:
    script: /srv/install/sample.vsl
    answers:
      - "y"
      - C:\Program Files\Sample
    creates: /srv/sample/installed.txt

- name: Write a registry value with a script given inline, in a prefix of its own
  varnel.vsl.run_script:
    content: |
      RegWriteString "Software\Sample", "Version", "2.1"
    prefix: /var/lib/sample/vsl
    log: /var/log/sample-install.log
  register: install

- name: Show what the run did
  ansible.builtin.debug:
    msg: "{{ install.records | selectattr('phase', 'equalto', 'run') | map(attribute='op') | list }}"

- name: A plain run, without the journal of an atomic run
  varnel.vsl.run_script:
    script: maintenance.vsl
    chdir: /srv/install
    atomic: false
    executable: /opt/vsl/bin/vsl
'''

RETURN = r'''
rc:
  description: The exit status of vsl (in check mode, of vsltool check).
  returned: when the script ran or was checked
  type: int
  sample: 0
changed:
  description: Whether the run changed the host, as its install log shows.
  returned: always
  type: bool
  sample: true
rolled_back:
  description: Whether an atomic run undid its changes (the log has a rollback record).
  returned: always
  type: bool
  sample: false
records:
  description:
    - The records this run wrote to the install log, in order, as
      docs/install-log.schema.json of vsl describes them. Commands run while
      parsing and instructions run by the executor, parse errors, the commit
      or rollback record of an atomic run, and the end record with the exit
      status.
  returned: always
  type: list
  elements: dict
  sample:
    - {"time": "2026-12-05T21:04:05.123Z", "phase": "run", "index": 0, "line": 1,
       "op": "OP_REGWRITESTRING", "params": ["Software\\Sample", "Version", "2.1", ""], "result": "True"}
    - {"time": "2026-12-05T21:04:05.131Z", "phase": "commit", "changes": 1}
    - {"time": "2026-12-05T21:04:05.132Z", "phase": "end", "exit": 0}
errors:
  description: "In check mode, the parse errors as C(SCRIPT:LINE: MESSAGE) lines."
  returned: in check mode
  type: list
  elements: str
  sample: ["/srv/install/sample.vsl:2: Expecting string parameter"]
stdout:
  description: The standard output of vsl.
  returned: when the script ran or was checked
  type: str
  sample: ""
stderr:
  description: The standard error of vsl (its dialogs and messages).
  returned: when the script ran or was checked
  type: str
  sample: "Question: Install where? [C:\\Sample] \n"
stderr_lines:
  description: The standard error split into lines.
  returned: when the script ran or was checked
  type: list
  elements: str
  sample: ["Question: Install where? [C:\\Sample] "]
'''

import glob
import json
import os
import re
import shutil
import subprocess
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_native, to_text

EXIT_MEANINGS = {
    1: "run-time failure",
    2: "parse errors",
    3: "cancelled",
    4: "no script",
}

# Commands that change the host: files, directories, the registry, and the
# programs and registration entry points they start.
CHANGING_OPS = frozenset([
    "OP_RD", "OP_MD", "OP_DELFILE", "OP_DELDIR", "OP_COPY", "OP_XCOPY", "OP_WRITEFILE",
    "OP_REGWRITESTRING", "OP_REGWRITEVALUE", "OP_REGDELKEY", "OP_REGDELSTRING",
    "OP_REGDLL", "OP_UNREGDLL", "OP_DELCOMDLL", "OP_REGTLB", "OP_REGEXE", "OP_UNREGEXE",
    "OP_RUN", "OP_SHELLCMD",
])

CHECK_LINE = re.compile(r"^.+:\d+: ")


def exit_meaning(rc):
    if rc < 0:
        return "killed by signal %d" % -rc
    return EXIT_MEANINGS.get(rc, "an exit status vsl does not give")


def run_changed(records):
    """Whether the run that wrote `records` changed the host."""
    for record in records:
        if record.get("phase") == "commit":
            return record.get("changes", 0) > 0
        if record.get("phase") == "rollback":
            return bool(record.get("failed")) or record.get("not_undoable", 0) > 0
    # A plain run: a changing command that succeeded. A command that found
    # nothing to do answers False.
    return any(r.get("op") in CHANGING_OPS and "result" in r and r["result"] != "False"
               for r in records if r.get("phase") in ("parse", "run"))


def read_records(module, path, offset):
    """The records that the run appended to the log at `path` after `offset`."""
    records = []
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            data = f.read()
    except (IOError, OSError):
        return records
    for line in to_text(data, errors="surrogate_or_replace").splitlines():
        if not line.strip():
            continue
        try:
            records.append(json.loads(line))
        except ValueError:
            # A run that was killed can leave its last line unfinished.
            module.warn("The install log has a line that is no JSON record: %s" % line)
    return records


def matches(pattern):
    return bool(glob.glob(pattern))


def find_program(module, executable):
    if os.sep in executable:
        if not os.access(executable, os.X_OK):
            module.fail_json(msg="%s is not an executable program" % executable, changed=False,
                             rolled_back=False, records=[])
        return executable
    found = module.get_bin_path(executable)
    if not found:
        module.fail_json(msg="%s was not found on the PATH: install vsl or set executable" % executable,
                         changed=False, rolled_back=False, records=[])
    return found


def run(argv, env, stdin):
    p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         env=env, close_fds=True)
    out, err = p.communicate(stdin)
    return p.returncode, to_text(out, errors="surrogate_or_replace"), to_text(err, errors="surrogate_or_replace")


def main():
    module = AnsibleModule(
        argument_spec=dict(
            script=dict(type="path"),
            content=dict(type="str"),
            atomic=dict(type="bool", default=True),
            answers=dict(type="list", elements="str", default=[]),
            prefix=dict(type="path"),
            registry=dict(type="path"),
            log=dict(type="path"),
            creates=dict(type="path"),
            removes=dict(type="path"),
            chdir=dict(type="path"),
            executable=dict(type="path", default="vsl"),
        ),
        mutually_exclusive=[("script", "content")],
        required_one_of=[("script", "content")],
        supports_check_mode=True,
    )
    p = module.params

    if p["chdir"]:
        try:
            os.chdir(p["chdir"])
        except (IOError, OSError) as e:
            module.fail_json(msg="Cannot change into %s: %s" % (p["chdir"], to_native(e)),
                             changed=False, rolled_back=False, records=[])

    skipped = dict(changed=False, rolled_back=False, records=[], stdout="", stderr="", stderr_lines=[], rc=0)
    if p["creates"] and matches(p["creates"]):
        module.exit_json(msg="Did not run: %s exists" % p["creates"], **skipped)
    if p["removes"] and not matches(p["removes"]):
        module.exit_json(msg="Did not run: %s does not exist" % p["removes"], **skipped)

    vsl = find_program(module, p["executable"])
    env = dict(os.environ)
    env.pop("VSL_ATOMIC", None)
    env.pop("VSL_LOG", None)
    if p["prefix"]:
        env["VSL_PREFIX"] = p["prefix"]
    if p["registry"]:
        env["VSL_REGISTRY"] = p["registry"]

    private = tempfile.mkdtemp(prefix="vsl-run-")
    try:
        script = p["script"]
        if p["content"] is not None:
            script = os.path.join(private, "script.vsl")
            fd = os.open(script, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with os.fdopen(fd, "wb") as f:
                f.write(p["content"].encode("utf-8"))

        if module.check_mode:
            check(module, vsl, script, env)

        log = os.path.abspath(p["log"]) if p["log"] else os.path.join(private, "install.log")
        offset = os.path.getsize(log) if os.path.isfile(log) else 0
        argv = [vsl, "--log", log] + (["--atomic"] if p["atomic"] else []) + [script]
        stdin = "".join(a + "\n" for a in p["answers"]).encode("utf-8")
        try:
            rc, out, err = run(argv, env, stdin)
        except (IOError, OSError) as e:
            module.fail_json(msg="Cannot start %s: %s" % (vsl, to_native(e)), changed=False,
                             rolled_back=False, records=[])
        records = read_records(module, log, offset)
    finally:
        shutil.rmtree(private, ignore_errors=True)

    result = dict(
        rc=rc,
        changed=run_changed(records),
        rolled_back=any(r.get("phase") == "rollback" for r in records),
        records=records,
        stdout=out,
        stderr=err,
        stderr_lines=err.splitlines(),
    )
    if rc != 0:
        # What went wrong first: a failing command or a parse error, else
        # vsl's own last word (no such script, cancelled).
        errors = [r["error"] for r in records if "error" in r] or result["stderr_lines"][-1:]
        detail = (": " + errors[0]) if errors else ""
        if result["rolled_back"]:
            detail += " (rolled back)"
        module.fail_json(msg="vsl exited with status %d (%s)%s" % (rc, exit_meaning(rc), detail), **result)
    module.exit_json(**result)


def check(module, vsl, script, env):
    """Check mode: parse the script with vsltool check and run nothing."""
    beside = os.path.join(os.path.dirname(vsl), "vsltool")
    vsltool = beside if os.access(beside, os.X_OK) else find_program(module, "vsltool")
    try:
        rc, out, err = run([vsltool, "check", script], env, b"")
    except (IOError, OSError) as e:
        module.fail_json(msg="Cannot start %s: %s" % (vsltool, to_native(e)), changed=False,
                         rolled_back=False, records=[])
    lines = err.splitlines()
    result = dict(rc=rc, rolled_back=False, records=[], stdout=out, stderr=err, stderr_lines=lines,
                  errors=[line for line in lines if CHECK_LINE.match(line)])
    if rc == 2:
        module.fail_json(msg="vsltool check found parse errors in %s" % script, changed=False, **result)
    if rc != 0:
        module.fail_json(msg="vsltool check failed with status %d: %s" % (rc, err.strip()), changed=False,
                         **result)
    module.exit_json(changed=True, **result)


if __name__ == "__main__":
    main()

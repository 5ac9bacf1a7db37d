#!/usr/bin/env bash
# The Ansible collection's module on a fleet of 20 hosts on this machine
# (local connections, each host a prefix and a registry of its own, ten at
# a time), with Debian's ansible-core:
#   tests/ansible/fleet_test.sh BUILD_DIR
# Hosts 00-11 run a script that succeeds, 12-16 one that fails at run time,
# 17-19 one with a parse error. fleet.yml checks what the module reports;
# this script checks each host's state through vsltool reg export and its
# files: after check mode as seeded, after the run installed where the
# script succeeded and as seeded everywhere else.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/vsl-fleet-XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL fleet: $*" >&2; exit 1; }

outcome_of() {
  if [ "$1" -lt 12 ]; then echo good; elif [ "$1" -lt 17 ]; then echo fail; else echo parse; fi
}
{
  echo "fleet:"
  echo "  vars:"
  echo "    ansible_connection: local"
  echo "    ansible_python_interpreter: /usr/bin/python3"
  echo "    vsl: $build/vsl"
  echo "    scripts: $here/scripts"
  echo "  hosts:"
  for i in $(seq -w 0 19); do
    echo "    host$i: {vsl_prefix: $work/host$i/prefix, vsl_registry: $work/host$i/registry.db, outcome: $(outcome_of "$i")}"
  done
} > "$work/inventory.yml"
cat > "$work/ansible.cfg" <<CFG
[defaults]
inventory = $work/inventory.yml
collections_path = $root/integrations/ansible
forks = 10
retry_files_enabled = false
local_tmp = $work/ansible-local
remote_tmp = $work/ansible-remote
[connection]
pipelining = true
CFG
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=0

playbook() {
  local out="$work/playbook.out"
  if ! ansible-playbook "$here/fleet.yml" "$@" >"$out" 2>&1; then
    cat "$out"
    fail "ansible-playbook $* failed"
  fi
  # Every host took part and none was unreachable.
  [ "$(grep -c '^host[0-9][0-9] .*unreachable=0' "$out")" = 20 ] || { cat "$out"; fail "not every host ran"; }
}

# The state of a host, as an administrator would look at it.
state() {
  local dir="$work/host$1"
  VSL_PREFIX="$dir/prefix" VSL_REGISTRY="$dir/registry.db" "$build/vsltool" reg export 'Software\Fleet'
  (cd "$dir/prefix/drive_c/Fleet" && find . -type f | sort | while read -r f; do echo "$f: $(cat "$f")"; done)
}
seeded() {
  printf '%s\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Fleet]' '"Seed"="before"' \
    './keep.txt: keep' './seed.txt: before'
}
installed() {
  printf '%s\n' REGEDIT4 '' '[HKEY_LOCAL_MACHINE\Software\Fleet]' "\"Host\"=\"host$1\"" '"Seed"="after"' \
    "./App/done.txt: host$1" './keep.txt: keep' './seed.txt: before'
}
expect_state() {
  local got
  got="$(state "$1")"
  [ "$got" = "$2" ] || fail "host$1 ($(outcome_of "$1")), $3:"$'\n'"want:"$'\n'"$2"$'\n'"got:"$'\n'"$got"
}

playbook --tags seed
for i in $(seq -w 0 19); do expect_state "$i" "$(seeded)" "after seeding"; done

playbook --tags install --check
for i in $(seq -w 0 19); do expect_state "$i" "$(seeded)" "check mode changed the host"; done

playbook --tags install
for i in $(seq -w 0 19); do
  if [ "$(outcome_of "$i")" = good ]; then
    expect_state "$i" "$(installed "$i")" "after the run"
  else
    expect_state "$i" "$(seeded)" "not as before after the rollback"
  fi
  journal="$work/host$i/prefix/journal"
  [ -z "$(ls -A "$journal" 2>/dev/null)" ] || fail "host$i: the journal was left behind: $(ls -A "$journal")"
done

# The logs kept with `log` hold both runs' records, each valid.
logs=("$work"/host*/prefix/install.log)
[ ${#logs[@]} = 10 ] || fail "expected 10 kept install logs, found ${#logs[@]}"
/usr/bin/python3 "$root/tests/helpers/log_schema.py" "${logs[@]}" || fail "a kept install log is not valid"
echo "PASS fleet: 20 hosts, 12 installed, 8 rolled back"

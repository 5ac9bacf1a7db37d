#!/usr/bin/env bash
# vsltool reg against its nearest peer and against its memory budget:
#   - export of one key with 200,000 direct subkeys of one value each
#     (BENCH_SUBKEYS), against the sqlite3 tool's .dump of the same
#     registry database;
#   - import of a registry file of 100 MB (BENCH_REG_MB): keys with a
#     string, a dword and 1 KiB of binary data each; the peak memory of the
#     process against the size of the file.
#
#   benchmarks/regtool_bench.sh PATH/TO/vsltool [RUNS]
#
# BENCH_DIR chooses where the files are made (default /dev/shm).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/bench_lib.sh"

tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
export BENCH_RUNS="${2:-5}"
[ -x "$tool" ] || { echo "regtool_bench: $1 is not an executable" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "regtool_bench: sqlite3 is not installed" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "regtool_bench: GNU time (/usr/bin/time) is not installed" >&2; exit 2; }
subkeys="${BENCH_SUBKEYS:-200000}"
megabytes="${BENCH_REG_MB:-100}"

root="$(mktemp -d "${BENCH_DIR:-/dev/shm}/vslbench-XXXXXX")"
trap 'rm -rf "$root"' EXIT
export VSL_PREFIX="$root/prefix" TMPDIR="$root/tmp" HOME="$root" VSL_REGISTRY="$root/registry.db"
mkdir -p "$root/tmp"
cd "$root"

awk -v n="$subkeys" 'BEGIN {
  printf "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wide]\n"
  for (i = 1; i <= n; i++) printf "\n[HKEY_LOCAL_MACHINE\\Software\\Wide\\Key%06d]\n\"Value\"=\"Data %d\"\n", i, i
}' > wide.reg
"$tool" reg import wide.reg
"$tool" reg export 'Software\Wide' > wide.out
[ "$(grep -c '^\[' wide.out)" = $((subkeys + 1)) ] ||
  { echo "regtool_bench: the export does not hold every key" >&2; exit 1; }

awk -v mb="$megabytes" 'BEGIN {
  printf "REGEDIT4\n"
  hex = "hex:"
  for (b = 0; b < 1024; b++) {
    hex = hex sprintf("%02x", b % 256) (b < 1023 ? "," : "")
    if (b % 25 == 24 && b < 1023) hex = hex "\\\n  "
  }
  for (k = 0; size < mb * 1048576; k++) {
    s = sprintf("\n[HKEY_LOCAL_MACHINE\\Software\\Big\\Group%d\\Key%d]\n\"Path\"=\"C:\\\\Program Files\\\\App %d\"\n\"Count\"=dword:%08x\n\"Blob\"=%s\n", k % 100, k, k, k, hex)
    printf "%s", s
    size += length(s)
  }
}' > big.reg

echo "== $(df --output=fstype "$root" | tail -1) ($root)"
bench_header "work"
bench_compare "export of $subkeys subkeys / .dump" : "$tool" reg export 'Software\Wide' -- sqlite3 "$VSL_REGISTRY" .dump

# The peak resident memory of one import into a fresh registry (GNU time's
# count for the process itself), against the size of the file.
peak_kib="$(VSL_REGISTRY="$root/big.db" /usr/bin/time -f %M "$tool" reg import big.reg 2>&1 >/dev/null | tail -1)"
size="$(stat -c %s big.reg)"
awk -v peak="$peak_kib" -v size="$size" 'BEGIN {
  printf "%-34s %8.1f MB  ratio to the file %5.2f\n", sprintf("import of a %d MB file: peak memory", size / 1048576),
    peak / 1024, peak * 1024 / size
}'

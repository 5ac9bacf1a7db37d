#!/usr/bin/env bash
# Compares whole vsl processes with their nearest peers:
#   - start-up: an empty script run 200 times in a shell loop, against dash
#     running an empty file the same way;
#   - the front end: a script of 100,000 assignments to 1,000 names
#     (x1 = "v1", ..., x0 = "v1000", x1 = "v1001", ...), against dash running
#     the same assignments;
#   - registry writes: 10,000 RegWriteString assigned at parse time (each one
#     a durable transaction of its own), against the sqlite3 command-line
#     tool doing 10,000 autocommit inserts into a table of the same shape
#     (WAL, synchronous=NORMAL);
#   - the same 10,000 RegWriteString in an atomic run against a plain run.
#
#   benchmarks/process_bench.sh PATH/TO/vsl [RUNS]
#
# BENCH_DIR chooses where the files are made (default /dev/shm, where the
# file system costs little and our own overhead shows).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/bench_lib.sh"

vsl="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
export BENCH_RUNS="${2:-5}"
[ -x "$vsl" ] || { echo "process_bench: $1 is not an executable" >&2; exit 2; }
for tool in dash sqlite3; do
  command -v "$tool" >/dev/null || { echo "process_bench: $tool is not installed" >&2; exit 2; }
done

root="$(mktemp -d "${BENCH_DIR:-/dev/shm}/vslbench-XXXXXX")"
trap 'rm -rf "$root"' EXIT
export VSL_PREFIX="$root/prefix" TMPDIR="$root/tmp" HOME="$root" VSL_REGISTRY="$root/registry.db"
mkdir -p "$root/tmp"
cd "$root"

: > empty.vsl
: > empty.sh
awk 'BEGIN { for (i = 1; i <= 100000; i++) printf "x%d = \"v%d\"\n", i % 1000, i }' > assign.vsl
awk 'BEGIN { for (i = 1; i <= 100000; i++) printf "x%d=\"v%d\"\n", i % 1000, i }' > assign.sh
awk 'BEGIN { for (i = 1; i <= 10000; i++) printf "r%d = RegWriteString \"Software\\Bench\", \"Value%d\", \"C:\\Program Files\\App %d\"\n", i, i, i }' > regwrite.vsl
{
  echo "PRAGMA journal_mode=WAL;"
  echo "PRAGMA synchronous=NORMAL;"
  echo "CREATE TABLE key_values(key_id INTEGER NOT NULL, name TEXT NOT NULL, name_folded TEXT NOT NULL,"
  echo "  type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key_id, name_folded));"
  awk 'BEGIN { for (i = 1; i <= 10000; i++) printf "INSERT INTO key_values VALUES(2, '\''Value%d'\'', '\''VALUE%d'\'', 1, '\''C:\\Program Files\\App %d'\'');\n", i, i, i }'
} > regwrite.sql

start_vsl() { for _ in $(seq 200); do "$vsl" empty.vsl; done; }
start_dash() { for _ in $(seq 200); do dash empty.sh; done; }
fresh_registry() { rm -f "$root"/registry.db* "$root"/sqlite.db*; }
sqlite_inserts() { sqlite3 "$root/sqlite.db" < regwrite.sql; }

"$vsl" regwrite.vsl </dev/null  # creates the prefix and checks the script
[ "$(sqlite3 "$root/registry.db" 'SELECT count(*) FROM key_values')" = 10000 ] ||
  { echo "process_bench: the registry did not get every value" >&2; exit 1; }

echo "== $(df --output=fstype "$root" | tail -1) ($root)"
bench_header "work"
bench_compare "start-up, 200 empty scripts / dash" : start_vsl -- start_dash
bench_compare "100,000 assignments / dash" : "$vsl" assign.vsl -- dash assign.sh
bench_compare "10,000 RegWriteString / sqlite3" fresh_registry "$vsl" regwrite.vsl -- sqlite_inserts
bench_compare "atomic / plain: 10,000 RegWriteString" fresh_registry "$vsl" --atomic regwrite.vsl -- "$vsl" regwrite.vsl

#!/usr/bin/env bash
# Compares the tree operations of vsl with the shell's tools on one tree of
# 5,000 files (about 20 MB): XCopy against `cp -r` and DelDir against
# `rm -rf`. Prints the best of several runs of each and the ratios.
#
#   benchmarks/files_bench.sh PATH/TO/vsl [RUNS]
#
# BENCH_DIR chooses where the tree is made (default /tmp).
set -euo pipefail

vsl="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
runs="${2:-5}"
[ -x "$vsl" ] || { echo "files_bench: $1 is not an executable" >&2; exit 2; }

root="$(mktemp -d "${BENCH_DIR:-/tmp}/vslbench-XXXXXX")"
trap 'rm -rf "$root"' EXIT
export VSL_PREFIX="$root/prefix" TMPDIR="$root/tmp" HOME="$root"
mkdir -p "$root/tmp"

# 50 directories of 100 files of 4 KiB, in two levels.
echo "building the tree in $root/src" >&2
python3 - "$root/src" <<'EOF'
import os, sys
src = sys.argv[1]
block = os.urandom(4096)
for d in range(50):
    path = os.path.join(src, "group%02d" % (d // 10), "dir%02d" % d)
    os.makedirs(path)
    for f in range(100):
        with open(os.path.join(path, "file%03d.dat" % f), "wb") as out:
            out.write(block)
EOF

drive_form() { printf 'Z:%s' "${1//\//\\}"; }

cat > "$root/xcopy.vsl" <<EOF
XCopy "$(drive_form "$root/src")", "$(drive_form "$root/dst")"
EOF
cat > "$root/deldir.vsl" <<EOF
DelDir "$(drive_form "$root/dst")"
EOF

now() { date +%s.%N; }
best() {  # best NAME COMMAND...: prints the shortest wall time of $runs runs
  local name="$1" best="" t0 t1 t
  shift
  for _ in $(seq "$runs"); do
    "$prepare"
    t0=$(now)
    "$@" >/dev/null
    t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%s' "$best"
}

clear_dst() { rm -rf "$root/dst"; sync; }
make_dst() { rm -rf "$root/dst"; cp -r "$root/src" "$root/dst"; sync; }

cd "$root"
"$vsl" xcopy.vsl </dev/null && rm -rf "$root/dst"  # creates the prefix

prepare=clear_dst
t_xcopy=$(best xcopy "$vsl" xcopy.vsl)
[ "$(find "$root/dst" -type f | wc -l)" = 5000 ] || { echo "files_bench: XCopy did not copy every file" >&2; exit 1; }
t_cp=$(best cp cp -r "$root/src" "$root/dst")

prepare=make_dst
t_deldir=$(best deldir "$vsl" deldir.vsl)
[ ! -e "$root/dst" ] || { echo "files_bench: DelDir left the tree behind" >&2; exit 1; }
t_rm=$(best rm rm -rf "$root/dst")

printf 'XCopy   %8.3f s   cp -r   %8.3f s   ratio %.2f\n' "$t_xcopy" "$t_cp" "$(echo "$t_xcopy / $t_cp" | bc -l)"
printf 'DelDir  %8.3f s   rm -rf  %8.3f s   ratio %.2f\n' "$t_deldir" "$t_rm" "$(echo "$t_deldir / $t_rm" | bc -l)"

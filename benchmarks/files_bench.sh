#!/usr/bin/env bash
# Compares the tree operations of vsl with the shell's tools, whole process
# against whole process:
#   - XCopy against `cp -r` and DelDir against `rm -rf` on a tree of 5,000
#     files of 4 KiB in 350 directories;
#   - DelDir and XCopy of a chain of directories DEPTH levels deep (1,500 by
#     default) against `rm -rf` and `cp -r`;
#   - atomic runs against plain runs of the same work: DelDir of the tree,
#     XCopy of the tree onto an existing copy of it and onto an older copy
#     (every file different, so every one is saved aside), and a DelDir that
#     is rolled back (a failing Copy after it) against the plain DelDir.
# Each comparison runs on tmpfs (/dev/shm, where the file system costs little
# and our own overhead shows) and on the disk (/var/tmp).
#
#   benchmarks/files_bench.sh PATH/TO/vsl [RUNS]
#
# BENCH_PLACES lists the directories to measure in (default
# "/dev/shm /var/tmp"); BENCH_DEPTH the depth of the chain.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/bench_lib.sh"

vsl="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
export BENCH_RUNS="${2:-5}"
depth="${BENCH_DEPTH:-1500}"
[ -x "$vsl" ] || { echo "files_bench: $1 is not an executable" >&2; exit 2; }

measure_in() {
  local place="$1"
  root="$(mktemp -d "$place/vslbench-XXXXXX")"
  trap 'rm -rf "$root"' EXIT
  export VSL_PREFIX="$root/prefix" TMPDIR="$root/tmp" HOME="$root"
  mkdir -p "$root/tmp"

  # 14 groups of 25 directories, 5,000 files spread over the 350.
  python3 - "$root/src" <<'EOF'
import os, sys
src = sys.argv[1]
block = os.urandom(4096)
dirs = [os.path.join(src, "group%02d" % (d // 25), "dir%03d" % d) for d in range(350)]
for d in dirs:
    os.makedirs(d)
for f in range(5000):
    with open(os.path.join(dirs[f % 350], "file%04d.dat" % f), "wb") as out:
        out.write(block)
EOF
  # A chain of one-letter directories with a file at the bottom. It is
  # made with relative steps: its full path may be longer than the system
  # lets a single call take.
  python3 - "$root/chain" "$depth" <<'EOF'
import os, sys
os.makedirs(sys.argv[1])
os.chdir(sys.argv[1])
for _ in range(int(sys.argv[2])):
    os.mkdir("d")
    os.chdir("d")
open("bottom.txt", "w").write("x")
EOF

  cat > "$root/xcopy.vsl" <<EOF
XCopy "$(drive_form "$root/src")", "$(drive_form "$root/dst")"
EOF
  cat > "$root/deldir.vsl" <<EOF
DelDir "$(drive_form "$root/dst")"
EOF
  cat > "$root/deldir_rolled_back.vsl" <<EOF
DelDir "$(drive_form "$root/dst")"
Copy "$(drive_form "$root/missing")", "$(drive_form "$root/nowhere")"
EOF
  cat > "$root/xcopy_chain.vsl" <<EOF
XCopy "$(drive_form "$root/chain")", "$(drive_form "$root/dst")"
EOF

  cd "$root"
  "$vsl" xcopy.vsl </dev/null  # creates the prefix
  [ "$(find "$root/dst" -type f | wc -l)" = 5000 ] || { echo "files_bench: XCopy did not copy every file" >&2; exit 1; }

  clear_dst() { rm -rf "$root/dst"; sync; }
  make_dst() { rm -rf "$root/dst"; cp -r "$root/src" "$root/dst"; sync; }
  make_older_dst() {
    make_dst
    python3 -c 'import os, sys
for d, _, fs in os.walk(sys.argv[1]):
    for f in fs: open(os.path.join(d, f), "ab").write(b"old")' "$root/dst"
    sync
  }
  make_chain_dst() { rm -rf "$root/dst"; cp -r "$root/chain" "$root/dst"; sync; }

  echo "== $(df --output=fstype "$place" | tail -1) ($place): 5,000 files of 4 KiB in 350 directories; a chain $depth deep"
  bench_header "work"
  bench_compare "XCopy / cp -r" clear_dst "$vsl" xcopy.vsl -- cp -r "$root/src" "$root/dst"
  bench_compare "DelDir / rm -rf" make_dst "$vsl" deldir.vsl -- rm -rf "$root/dst"
  bench_compare "DelDir / rm -rf, chain $depth deep" make_chain_dst "$vsl" deldir.vsl -- rm -rf "$root/dst"
  bench_compare "XCopy / cp -r, chain $depth deep" clear_dst "$vsl" xcopy_chain.vsl -- cp -r "$root/chain" "$root/dst"
  bench_compare "atomic / plain: DelDir" make_dst "$vsl" --atomic deldir.vsl -- "$vsl" deldir.vsl
  bench_compare "atomic / plain: XCopy onto a copy" make_dst "$vsl" --atomic xcopy.vsl -- "$vsl" xcopy.vsl
  bench_compare "atomic / plain: XCopy, older copy" make_older_dst "$vsl" --atomic xcopy.vsl -- "$vsl" xcopy.vsl
  rolled_back() { "$vsl" --atomic deldir_rolled_back.vsl 2>/dev/null; }
  bench_compare "rolled-back / plain DelDir" make_dst rolled_back -- "$vsl" deldir.vsl

  # The results must be right, not only fast.
  clear_dst
  "$vsl" xcopy_chain.vsl </dev/null
  [ "$(find "$root/dst" -mindepth "$depth" -name bottom.txt | wc -l)" = 1 ] || { echo "files_bench: XCopy did not copy the chain" >&2; exit 1; }
  "$vsl" deldir.vsl </dev/null
  [ ! -e "$root/dst" ] || { echo "files_bench: DelDir left the chain behind" >&2; exit 1; }
  make_dst
  "$vsl" --atomic deldir_rolled_back.vsl </dev/null 2>/dev/null || true
  [ "$(find "$root/dst" -type f | wc -l)" = 5000 ] || { echo "files_bench: the rollback did not bring the tree back" >&2; exit 1; }

  cd /
  rm -rf "$root"
  trap - EXIT
}

for place in ${BENCH_PLACES:-/dev/shm /var/tmp}; do
  if [ -d "$place" ] && [ -w "$place" ]; then
    measure_in "$place"
  else
    echo "== $place: not there or not writable, skipped"
  fi
done

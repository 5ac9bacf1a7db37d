#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz/) and runs them at the same
# time, each for SECONDS (default 30), under AddressSanitizer and
# UndefinedBehaviorSanitizer. Fails when any target finds something.
#
#   tests/fuzz/run.sh [SECONDS] [TARGET...]      TARGET: frontend evs regfile (default all)
#
# Each target starts from its corpus, build-fuzz/corpus/TARGET/, which keeps
# what earlier runs found interesting, and from seeds made anew from the
# script tests (build-fuzz/seeds/TARGET/). A finding is written to
# build-fuzz/findings/TARGET/ (crash-*, leak-*, timeout-*, oom-*); run the
# target on that file to see it again. Each run's output is in
# build-fuzz/logs/TARGET.log.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(frontend evs regfile)
out="$root/build-fuzz"

# A build folder configured from another source folder (the targets lay in
# fuzz/ before) is configured again; its corpus and findings stay.
if [ -f "$out/CMakeCache.txt" ] &&
   ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$root/tests/fuzz" "$out/CMakeCache.txt"; then
  rm -rf "$out/CMakeCache.txt" "$out/CMakeFiles"
fi
# Line tables only: a finding's report names its source lines all the same.
CC=clang CXX=clang++ cmake -S tests/fuzz -B "$out" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$out" -j"$(nproc)"

# Seeds: the script tests as they are and encrypted; the .reg files that the
# script tests write with printf.
seeds="$out/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"/{frontend,evs,regfile}
mapfile -t scripts < <(find tests/scripts tests/win32/scripts -name '*.vsl' | sort)
for s in "${scripts[@]}"; do cp "$s" "$seeds/frontend/$(echo "${s#tests/}" | tr / _)"; done
"$out/evs_seeds" "$seeds/evs" "${scripts[@]}"
grep -h '^#\$ printf .*> *[A-Za-z0-9_]*\.reg' "${scripts[@]}" | cut -c4- | sed 's/ *&& *{.*//' |
  while IFS= read -r line; do (cd "$seeds/regfile" && sh -c "$line") || true; done

# Dictionaries: the words of the language from the command table, and those
# of registry files. The .evs target has none: its words are encrypted.
{
  for w in IF THEN ELSE ENDIF AND OR Shell '$(' '==' '!=' '&&' '||' '""' 'Z:\\' 'C:\\'; do echo "\"$w\""; done
  sed -n 's/^ *[XCN](\([A-Za-z]*\).*/"\1"/p' codegen/COMMANDS.h
} >"$out/frontend.dict"
printf '"%s"\n' REGEDIT4 'Windows Registry Editor Version 5.00' '[HKEY_LOCAL_MACHINE\\' '[-HKEY_LOCAL_MACHINE\\' \
  '@=' '=-' '=dword:' '=hex:' '=hex(2):' '=hex(1):' ',\\' '\\\\' '\\"' '\xff\xfe' >"$out/regfile.dict"

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if symbolizer="$(command -v llvm-symbolizer)"; then export ASAN_SYMBOLIZER_PATH="$symbolizer"; fi
mkdir -p "$out/logs"
failed=0
pids=()
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t" "$out/findings/$t"
  dict=()
  [ -e "$out/$t.dict" ] && dict=(-dict="$out/$t.dict")
  "$out/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$out/findings/$t/" "$out/corpus/$t" "$seeds/$t" \
    >"$out/logs/$t.log" 2>&1 &
  pids+=($!)
done
for i in "${!targets[@]}"; do
  t="${targets[$i]}"
  status=0
  wait "${pids[$i]}" || status=$?
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/logs/$t.log")"
  echo "fuzz_$t: ${runs:-?} inputs in ${seconds} s, corpus $(ls "$out/corpus/$t" | wc -l)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$out/logs/$t.log" >&2
    echo "fuzz_$t: FOUND a problem (exit $status); the input is in $out/findings/$t/" >&2
    failed=1
  fi
done
exit "$failed"

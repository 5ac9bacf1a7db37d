#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a
# normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Debian package and the Ansible fleet, then the fuzz targets for 30
# seconds each, then the Windows builds: the 64-bit one is tested under
# Wine while the 32-bit one is compiled and linked. Each part says how long
# it took.
#
# The builds are unity builds (a few large translation units instead of
# many small ones, 24 sources each, which on two cores compiles fastest); the 32-bit
# Windows build compiles file by file, and the fuzz build the sources that
# only it compiles, so that a source that misses an include of its own is
# still found.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$root"
jobs="$(nproc)"
unity=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=24)
# Line tables only (-g1): backtraces, sanitizer reports and profiles still
# name source lines, and the compilers spend a fifth less time than with
# full debug information.
lines=-g1

started=$SECONDS
part_started=$SECONDS
part() {
  [ -z "${part_name:-}" ] || echo "-- ${part_name}: $((SECONDS - part_started)) s"
  part_name="$1"
  part_started=$SECONDS
  [ -z "$1" ] || echo "== $1"
}

part "packages"
scripts/install-deps.sh test

part "build (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 $lines -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 $lines -DNDEBUG" -DVSL_TESTS=ON -DVSL_BENCHMARKS=ON "${unity[@]}" >/dev/null
cmake --build build -j"$jobs"
part "tests"
(cd build && ctest --output-on-failure -j"$jobs")
part "Debian package (build/): lintian, system SQLite, the packaged programs"
tests/packaging/deb_test.sh build
part "Ansible: varnel.vsl.run_script on a fleet of 20 local hosts"
tests/ansible/fleet_test.sh build

part "build with sanitizers (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=$lines" "-DCMAKE_C_FLAGS_DEBUG=$lines" -DVSL_SANITIZE=ON -DVSL_TESTS=ON -DVSL_BENCHMARKS=OFF "${unity[@]}" \
  >/dev/null
cmake --build build-asan -j"$jobs"
part "tests with sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$jobs")

part "fuzz targets (build-fuzz/, clang): 30 s each, at once, under the sanitizers"
tests/fuzz/run.sh 30

# The Windows builds are optimised as the others but carry no debug
# information, which would take the cross compiler a third of its time: they
# are compiled to check and, the 64-bit one, to be tested.
windows=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG"
  -DVSL_BENCHMARKS=OFF)
part "Windows, 64-bit (build-win64/)"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake "${windows[@]}" \
  -DVSL_TESTS=ON "${unity[@]}" >/dev/null
cmake --build build-win64 -j"$jobs"

# Wine waits on its own dialogs and server for much of a test, so the 32-bit
# build runs beside the tests; the tests' output follows the build's.
part "Windows tests under Wine, and beside them the 32-bit build (build-win32/), compiled and linked"
unset ASAN_OPTIONS UBSAN_OPTIONS
wine_log="$root/build-win64/wine-tests.log"
(
  wine_started=$SECONDS
  status=0
  (cd build-win64 && ctest --output-on-failure -j"$jobs") >"$wine_log" 2>&1 || status=$?
  echo "-- Windows tests under Wine: $((SECONDS - wine_started)) s" >>"$wine_log"
  exit "$status"
) &
wine_tests=$!
build32_status=0
(
  cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake "${windows[@]}" \
    -DVSL_TESTS=OFF >/dev/null &&
    cmake --build build-win32 -j"$jobs" --target vsl vsltool
) || build32_status=$?
wine_status=0
wait "$wine_tests" || wine_status=$?
cat "$wine_log"
[ "$build32_status" -eq 0 ] || { echo "== the 32-bit Windows build failed" >&2; exit "$build32_status"; }
[ "$wine_status" -eq 0 ] || { echo "== the tests under Wine failed" >&2; exit "$wine_status"; }
part ""
echo "== all tests passed in $((SECONDS - started)) s"

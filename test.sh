#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a
# normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer,
# the Debian package and the Ansible fleet, then the fuzz targets for 30
# seconds each, then the Windows builds: the 32-bit one is compiled and
# linked, the 64-bit one is tested under Wine. Each part says how long it
# took.
#
# The builds are unity builds (a few large translation units instead of
# many small ones), which halves the compiling on two cores; the fuzz build
# and the 32-bit Windows build compile file by file, so that a source that
# misses an include of its own is still found.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$root"
jobs="$(nproc)"
unity=(-DCMAKE_UNITY_BUILD=ON)

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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVSL_TESTS=ON -DVSL_BENCHMARKS=ON "${unity[@]}" >/dev/null
cmake --build build -j"$jobs"
part "tests"
(cd build && ctest --output-on-failure -j"$jobs")
part "Debian package (build/): lintian, system SQLite, the packaged programs"
tests/packaging/deb_test.sh build
part "Ansible: varnel.vsl.run_script on a fleet of 20 local hosts"
tests/ansible/fleet_test.sh build

part "build with sanitizers (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVSL_SANITIZE=ON -DVSL_TESTS=ON -DVSL_BENCHMARKS=OFF "${unity[@]}" \
  >/dev/null
cmake --build build-asan -j"$jobs"
part "tests with sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$jobs")

part "fuzz targets (build-fuzz/, clang): 30 s each, at once, under the sanitizers"
tests/fuzz/run.sh 30

part "Windows, 32-bit (build-win32/): the programs compiled and linked"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVSL_TESTS=OFF -DVSL_BENCHMARKS=OFF >/dev/null
cmake --build build-win32 -j"$jobs" --target vsl vsltool

part "Windows, 64-bit (build-win64/)"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVSL_TESTS=ON -DVSL_BENCHMARKS=OFF "${unity[@]}" >/dev/null
cmake --build build-win64 -j"$jobs"
part "Windows tests under Wine"
unset ASAN_OPTIONS UBSAN_OPTIONS
(cd build-win64 && ctest --output-on-failure -j"$jobs")
part ""
echo "== all tests passed in $((SECONDS - started)) s"

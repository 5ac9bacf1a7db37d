#!/usr/bin/env bash
# Installs the Debian packages the project needs that are not there yet.
#   install-deps.sh build   what building vsl needs
#   install-deps.sh test    that, plus the test and benchmark libraries, the
#                           peers the shell benchmarks compare with (dash,
#                           sqlite3) and GNU time, which measures their
#                           memory, the MinGW-w64 cross compilers for the
#                           Windows builds, Wine, Xvfb and xdotool to test
#                           them, lintian for the Debian package, jsonschema
#                           for the install logs, ansible-core for the
#                           Ansible collection and clang with libFuzzer for
#                           the fuzz targets
#   install-deps.sh windows the cross compilers alone
set -euo pipefail

want=(cmake make g++ libsqlite3-dev python3 nlohmann-json3-dev)
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64)
case "${1:-build}" in
  test)
    want+=(libgtest-dev googletest libbenchmark-dev groff-base dash sqlite3 time "${windows[@]}")
    # wine is the command, wine64 the 64-bit Wine it starts; the fonts are
    # those the dialogs and the X server draw their text with.
    want+=(wine wine64 fonts-wine xvfb xfonts-base xdotool)
    # The Debian package's checker and dependency finder.
    want+=(lintian dpkg-dev)
    # The install logs the tests write are validated against their schema.
    want+=(python3-jsonschema)
    # The Ansible collection's module is tested with Debian's Ansible.
    want+=(ansible-core)
    # clang with libFuzzer's runtime for the fuzz targets; llvm brings the
    # symbolizer that names the source lines of a finding.
    want+=(clang libclang-rt-dev llvm)
    ;;
  windows)
    want+=(googletest "${windows[@]}")
    ;;
esac

missing=()
for pkg in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq >&2
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2

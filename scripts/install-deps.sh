#!/usr/bin/env bash
# Installs the Debian packages the project needs that are not there yet.
#   install-deps.sh build   what building vsl needs
#   install-deps.sh test    that, plus the test and benchmark libraries and the
#                           peers the shell benchmarks compare with (dash, sqlite3)
set -euo pipefail

want=(cmake make g++ libsqlite3-dev unicode-data python3 nlohmann-json3-dev)
if [ "${1:-build}" = "test" ]; then
  want+=(libgtest-dev googletest libbenchmark-dev groff-base dash sqlite3)
fi

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

#!/usr/bin/env bash
# A test run's Wine, kept in STATE: `setup` starts Xvfb and a fresh WINEPREFIX with a lasting wineserver,
# `run STATE CMD...` runs CMD there (*.exe through wine), `cleanup` ends both (CTest fixtures and emulator).
set -euo pipefail
cmd="${1:?usage: wine-env.sh setup|run|cleanup STATE [COMMAND...]}" state="${2:?missing the state directory}"
shift 2
die() { echo "wine-env: $*" >&2; exit 1; }
# No Mono or Gecko installers: there is no network and their dialogs wait for ever.
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ ! -f "$state/display" ] || export DISPLAY=":$(cat "$state/display")"
case "$cmd" in
  setup)
    [ ! -f "$state/xvfb.pid" ] || "$0" cleanup "$state" || true
    rm -rf "$state" && mkdir -p "$WINEPREFIX"
    # Xvfb picks a free display and writes its number to descriptor 3.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 3>"$state/display" &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
    [ -s "$state/display" ] || { cat "$state/xvfb.log" >&2; die "Xvfb did not start"; }
    export DISPLAY=":$(cat "$state/display")"
    # The server stays up (a program then starts in a second); it must not hold on to CTest's output.
    wineserver -p </dev/null >"$state/wineserver.log" 2>&1
    timeout 300 wineboot -i </dev/null >"$state/wineboot.log" 2>&1 && [ -d "$WINEPREFIX/drive_c/windows/system32" ] ||
      { cat "$state/wineboot.log" >&2; die "the prefix could not be created"; } ;;
  run)
    [ -d "$WINEPREFIX" ] || die "no prefix at $WINEPREFIX (the setup fixture has not run)"
    case "${1:-}" in *.exe|*.EXE) exec wine "$@" ;; *) exec "$@" ;; esac ;;
  cleanup)
    [ ! -d "$WINEPREFIX" ] || wineserver -k || true
    [ ! -f "$state/xvfb.pid" ] || kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    rm -rf "$state" ;;
  *) die "unknown command $cmd" ;;
esac

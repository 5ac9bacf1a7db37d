#!/usr/bin/env bash
# The Wine environment of a Windows test run, kept in the directory STATE:
#   wine-env.sh setup STATE      starts Xvfb and creates a fresh WINEPREFIX
#                                whose wineserver runs for the whole run
#   wine-env.sh run STATE CMD..  runs CMD there (a *.exe through wine)
#   wine-env.sh cleanup STATE    ends the wineserver and Xvfb, removes STATE
# CTest runs setup and cleanup as fixtures and `run` as the emulator.
set -euo pipefail

cmd="${1:?usage: wine-env.sh setup|run|cleanup STATE [COMMAND...]}"
state="${2:?missing the state directory}"
shift 2

environment() {
  export WINEPREFIX="$state/prefix" WINEDEBUG=-all
  # No Mono or Gecko installers: there is no network and their dialogs wait for ever.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -f "$state/display" ]; then export DISPLAY=":$(cat "$state/display")"; fi
}

case "$cmd" in
  setup)
    if [ -f "$state/xvfb.pid" ]; then "$0" cleanup "$state" || true; fi
    rm -rf "$state"
    mkdir -p "$state"
    # Xvfb picks a free display and writes its number to descriptor 3.
    exec 3>"$state/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    exec 3>&-
    for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
    if [ ! -s "$state/display" ]; then
      cat "$state/xvfb.log" >&2
      echo "wine-env: Xvfb did not start" >&2
      exit 1
    fi
    environment
    echo "wine-env: display $DISPLAY, prefix $WINEPREFIX"
    # The server stays up between the tests, so that each program starts in
    # about a second; nothing started here may hold on to CTest's output.
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >"$state/wineserver.log" 2>&1
    if ! timeout 300 wineboot -i </dev/null >"$state/wineboot.log" 2>&1 || [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
      cat "$state/wineboot.log" >&2
      echo "wine-env: the prefix could not be created" >&2
      exit 1
    fi
    ;;
  run)
    environment
    if [ ! -d "$WINEPREFIX" ]; then
      echo "wine-env: no prefix at $WINEPREFIX (the setup fixture has not run)" >&2
      exit 1
    fi
    case "${1:-}" in
      *.exe|*.EXE) exec wine "$@" ;;
      *) exec "$@" ;;
    esac
    ;;
  cleanup)
    environment
    if [ -d "$WINEPREFIX" ]; then wineserver -k || true; fi
    if [ -f "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
    rm -rf "$state"
    ;;
  *)
    echo "wine-env: unknown command $cmd" >&2
    exit 2
    ;;
esac

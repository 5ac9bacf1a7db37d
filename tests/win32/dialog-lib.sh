# For the dialog tests (arguments: vsl.exe, the build directory): real dialogs in a fresh directory, every
# wait with a timeout. The X server has no window manager: a window is given the focus directly.
set -euo pipefail
VSL_EXE="$1" BIN="$2" vsl_pid="" work="$(mktemp -d)"
trap '[ -z "$vsl_pid" ] || kill "$vsl_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
# within SECONDS MESSAGE CMD...: runs CMD every 0.1 s until it succeeds; fails with MESSAGE after SECONDS.
within() { local n=$(($1 * 10)) m="$2"; shift 2; until "$@"; do ((--n > 0)) || fail "$m"; sleep 0.1; done; }
start_vsl() { unset VSL_DIALOGS; wine "$VSL_EXE" "$1" >vsl.out 2>&1 & vsl_pid=$!; }
# shown TITLE: sets w to the visible window with exactly that title.
shown() { w="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)" || true
  [ -n "$w" ] || { kill -0 "$vsl_pid" 2>/dev/null || fail "vsl ended before \"$1\" showed: $(cat vsl.out)"; false; }; }
wait_window() { within 60 "no window \"$1\" within 60 seconds" shown "$1"; }
gone() { ! xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$1"; }
wait_gone() { within 30 "the window $1 is still shown after 30 seconds" gone "$1"; }
press() { xdotool windowfocus --sync "$1" key "${@:2}"; }
# wait_vsl STATUS: waits for vsl to end with that exit status.
ended() { ! kill -0 "$vsl_pid" 2>/dev/null; }
wait_vsl() { within 60 "vsl did not end within 60 seconds" ended; local s=0; wait "$vsl_pid" || s=$?
  [ "$s" = "$1" ] || fail "exit status $s, expected $1: $(cat vsl.out)"; }

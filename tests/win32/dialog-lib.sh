# Shared by the dialog tests: vsl.exe on a script in a fresh work directory,
# windows awaited with a timeout, keys pressed in them. The X server has no
# window manager: a window is given the focus directly.
work="$(mktemp -d)"
trap 'kill "$vsl_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# start_vsl SCRIPT: runs vsl.exe on SCRIPT in the background, with the real dialogs.
start_vsl() {
  unset VSL_DIALOGS
  wine "$VSL_EXE" "$1" >vsl.out 2>&1 &
  vsl_pid=$!
}

# wait_window TITLE [SECONDS]: prints the visible window with exactly that title.
wait_window() {
  local w
  for _ in $(seq $((${2:-60} * 10))); do
    w="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)"
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    kill -0 "$vsl_pid" 2>/dev/null || fail "vsl ended before the window \"$1\" appeared: $(cat vsl.out)"
    sleep 0.1
  done
  fail "no window \"$1\" within ${2:-60} seconds"
}

# press WINDOW KEY...: gives the window the focus and sends the keys.
press() {
  xdotool windowfocus --sync "$1"
  shift
  xdotool key "$@"
}

# wait_gone WINDOW [SECONDS]: waits until the window is no longer shown.
wait_gone() {
  for _ in $(seq $((${2:-30} * 10))); do
    xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "the window $1 is still shown after ${2:-30} seconds"
}

# wait_vsl [SECONDS]: waits for vsl to end and sets vsl_status (not in a
# subshell: only this shell can wait for its child).
wait_vsl() {
  for _ in $(seq $((${1:-60} * 10))); do
    if ! kill -0 "$vsl_pid" 2>/dev/null; then
      vsl_status=0
      wait "$vsl_pid" || vsl_status=$?
      return 0
    fi
    sleep 0.1
  done
  fail "vsl did not end within ${1:-60} seconds"
}

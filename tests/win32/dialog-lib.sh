# Shared by the dialog tests: start vsl.exe on a script in a fresh work
# directory, wait for a window with a timeout, and press keys in it. The
# X server has no window manager: a window is given the focus directly.

# The work directory; the caller's files go there.
work="$(mktemp -d)"
trap 'kill "$vsl_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# start_vsl SCRIPT: runs vsl.exe on SCRIPT in the background, with the real
# dialogs.
start_vsl() {
  unset VSL_DIALOGS
  wine "$VSL_EXE" "$1" >vsl.out 2>&1 &
  vsl_pid=$!
}

# wait_window TITLE [SECONDS]: prints the X window of the visible window
# with exactly that title once it is there; fails after the timeout.
wait_window() {
  local title="$1" limit="${2:-60}" w
  for _ in $(seq $((limit * 10))); do
    w="$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1 || true)"
    if [ -n "$w" ]; then
      echo "$w"
      return 0
    fi
    kill -0 "$vsl_pid" 2>/dev/null || fail "vsl ended before the window \"$title\" appeared: $(cat vsl.out)"
    sleep 0.1
  done
  fail "no window \"$title\" within $limit seconds"
}

# press WINDOW KEY...: gives the window the focus and sends the keys.
press() {
  local w="$1"
  shift
  xdotool windowfocus --sync "$w"
  xdotool key "$@"
}

# wait_gone WINDOW [SECONDS]: waits until the window is no longer shown.
wait_gone() {
  local w="$1" limit="${2:-30}"
  for _ in $(seq $((limit * 10))); do
    xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$w" || return 0
    sleep 0.1
  done
  fail "the window $w is still shown after $limit seconds"
}

# wait_vsl [SECONDS]: waits for vsl to end and sets vsl_status to its exit
# status; fails after the timeout. (Not in a subshell: only this shell can
# wait for its child.)
wait_vsl() {
  local limit="${1:-60}"
  for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$vsl_pid" 2>/dev/null; then
      vsl_status=0
      wait "$vsl_pid" || vsl_status=$?
      return 0
    fi
    sleep 0.1
  done
  fail "vsl did not end within $limit seconds"
}

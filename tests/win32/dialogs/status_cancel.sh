#!/usr/bin/env bash
# Cancel on the status dialog while a long instruction list runs: the click
# reaches the dialog while a started program is awaited, the program in
# hand runs to its end, and the run stops before the next instruction with
# exit status 3.
set -euo pipefail
VSL_EXE="$1"
BIN="$2"
. "$(dirname "$0")/../dialog-lib.sh"

cp "$BIN/tests/win32/sleeper.exe" .
: >list.vsl
for i in $(seq 40); do printf 'Run "sleeper.exe", "--sleep 300 run%s"\r\n' "$i" >>list.vsl; done
printf 'WriteFile "done.txt", "the list ran to its end"\r\n' >>list.vsl
start_vsl list.vsl
w="$(wait_window Processing)"
# Wait until the run is under way, then click Cancel (at 1680, 840 twips,
# 1215 x 375: its middle is at 152, 68 pixels in the client area).
for _ in $(seq 300); do
  [ -f args.txt ] && [ "$(grep -c '^\[run' args.txt)" -ge 2 ] && break
  sleep 0.1
done
xdotool mousemove --window "$w" 152 68 click 1
wait_vsl
[ "$vsl_status" = 3 ] || fail "exit status $vsl_status, expected 3: $(cat vsl.out)"
runs="$(grep -c '^\[run' args.txt)"
[ "$runs" -lt 40 ] || fail "all 40 programs ran"
[ ! -e done.txt ] || fail "the instructions after Cancel ran"
echo "PASS ($runs of 40 programs ran)"

#!/usr/bin/env bash
# Cancel clicked on the status dialog while a started program is awaited: the program runs to its end,
# the run stops before the next instruction with exit status 3.
. "$(dirname "$0")/../dialog-lib.sh"
cp "$BIN/tests/win32/sleeper.exe" .
for i in $(seq 40); do printf 'Run "sleeper.exe", "--sleep 300 run%s"\r\n' "$i"; done >list.vsl
printf 'WriteFile "done.txt", "the list ran to its end"\r\n' >>list.vsl
start_vsl list.vsl
wait_window Processing
runs() { cat args.txt 2>/dev/null | grep -c '^\[run' || true; }
within 30 "the programs did not start" eval '[ "$(runs)" -ge 2 ]'
# Cancel stands at 1680, 840 twips, 1215 x 375: its middle is at 152, 68 pixels in the client area.
xdotool mousemove --window "$w" 152 68 click 1
wait_vsl 3
[ "$(runs)" -lt 40 ] || fail "all 40 programs ran"
[ ! -e done.txt ] || fail "the instructions after Cancel ran"
echo "PASS ($(runs) of 40 programs ran)"

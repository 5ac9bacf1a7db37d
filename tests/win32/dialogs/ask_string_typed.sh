#!/usr/bin/env bash
# The string question as a real window: the answer box starts with the
# initial text selected, typing replaces it and Enter presses OK; the OK
# message then closes with Enter too.
set -euo pipefail
VSL_EXE="$1"
. "$(dirname "$0")/../dialog-lib.sh"

printf '%s\r\n' \
  'dir = AskStringDlg "Where?", "C:\app"' \
  'seen = AskOKDlg "Setup", "Ready for $(dir)"' \
  'WriteFile "answer.txt", "$(dir) $(seen)"' >ask.vsl
start_vsl ask.vsl
w="$(wait_window Question)"
xdotool windowfocus --sync "$w"
xdotool type --delay 50 'D:\Programs'
xdotool key Return
w="$(wait_window Setup)"
press "$w" Return
wait_vsl
[ "$vsl_status" = 0 ] || fail "exit status $vsl_status: $(cat vsl.out)"
printf 'D:\\Programs True\r\n' | cmp - answer.txt || fail "answer: $(cat answer.txt)"
echo "PASS"

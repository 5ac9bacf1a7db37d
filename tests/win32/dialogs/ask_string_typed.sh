#!/usr/bin/env bash
# The string question: typing replaces the selected initial text, Enter presses OK, as in the OK message.
. "$(dirname "$0")/../dialog-lib.sh"
printf '%s\r\n' 'dir = AskStringDlg "Where?", "C:\app"' 'seen = AskOKDlg "Setup", "Ready for $(dir)"' \
  'WriteFile "answer.txt", "$(dir) $(seen)"' >ask.vsl
start_vsl ask.vsl
wait_window Question
xdotool windowfocus --sync "$w" type --delay 50 'D:\Programs'  # type takes all the words after it
xdotool key Return
wait_window Setup
press "$w" Return
wait_vsl 0
printf 'D:\\Programs True\r\n' | cmp - answer.txt || fail "answer: $(cat answer.txt)"
echo "PASS"

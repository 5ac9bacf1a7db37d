#!/usr/bin/env bash
# The Yes/No question, titled Confirm: Enter presses Yes; in a second one Tab moves to No before Enter.
# The string question: typing replaces the selected initial text, Enter presses OK, as in the OK message.
. "$(dirname "$0")/../dialog-lib.sh"
printf '%s\r\n' 'ok = AskYesNoDlg "Install the sample files?"' 'no = AskYesNoDlg "And the extras?"' \
  'dir = AskStringDlg "Where?", "C:\app"' 'seen = AskOKDlg "Setup", "Ready for $(dir)"' \
  'WriteFile "answer.txt", "$(ok) $(no) $(dir) $(seen)"' >ask.vsl
start_vsl ask.vsl
wait_window Confirm
press "$w" Return
wait_gone "$w"
wait_window Confirm
press "$w" Tab Return
wait_window Question
xdotool windowfocus --sync "$w" type --delay 50 'D:\Programs'  # type takes all the words after it
xdotool key Return
wait_window Setup
press "$w" Return
wait_vsl 0
printf 'True False D:\\Programs True\r\n' | cmp - answer.txt || fail "answers: $(cat answer.txt)"
echo "PASS"

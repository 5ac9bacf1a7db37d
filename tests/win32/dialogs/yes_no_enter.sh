#!/usr/bin/env bash
# The Yes/No question, titled Confirm: Enter presses Yes; in a second one Tab moves to No before Enter.
. "$(dirname "$0")/../dialog-lib.sh"
printf '%s\r\n' 'ok = AskYesNoDlg "Install the sample files?"' 'WriteFile "answer.txt", "first $(ok)"' \
  'no = AskYesNoDlg "And the extras?"' 'WriteFile "answer.txt", "second $(no)"' >yesno.vsl
start_vsl yesno.vsl
wait_window Confirm
press "$w" Return
wait_gone "$w"
wait_window Confirm
press "$w" Tab Return
wait_vsl 0
printf 'first True\r\nsecond False\r\n' | cmp - answer.txt || fail "answers: $(cat answer.txt)"
echo "PASS"

#!/usr/bin/env bash
# The Yes/No question as a real window: Enter presses Yes, the default
# button, and the macro takes the answer; the question keeps its title.
set -euo pipefail
VSL_EXE="$1"
. "$(dirname "$0")/../dialog-lib.sh"

printf '%s\r\n' \
  'ok = AskYesNoDlg "Install the sample files?"' \
  'WriteFile "answer.txt", "first $(ok)"' \
  'no = AskYesNoDlg "And the extras?"' \
  'WriteFile "answer.txt", "second $(no)"' >yesno.vsl
start_vsl yesno.vsl
w="$(wait_window Confirm)"
press "$w" Return
# The second question is a new window; Tab moves to No before Enter.
wait_gone "$w"
w="$(wait_window Confirm)"
press "$w" Tab Return
wait_vsl
[ "$vsl_status" = 0 ] || fail "exit status $vsl_status: $(cat vsl.out)"
printf 'first True\r\nsecond False\r\n' | cmp - answer.txt || fail "answers: $(cat answer.txt)"
echo "PASS"

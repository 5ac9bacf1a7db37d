#!/usr/bin/env bash
# stop_at_prompt.sh SIGNAL COMMAND...
# Runs COMMAND with a standard input that stays open and says nothing, sends
# SIGNAL to it once it has written a prompt ("[") on its standard error, and
# passes on its standard error and its exit status.
sig=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkfifo "$dir/in"
"$@" <"$dir/in" 2>"$dir/err" &
pid=$!
exec 3>"$dir/in"
for _ in $(seq 200); do
  grep -q '\[' "$dir/err" && break
  sleep 0.05
done
kill -s "$sig" "$pid"
wait "$pid"
rc=$?
exec 3>&-
cat "$dir/err" >&2
exit $rc

#!/bin/sh
# Runs a link command of a wholly static program and passes on what it
# prints, except the static C library's note that dlopen and getpwuid need
# the C library the program was linked with at run time (see CMakeLists.txt).
# Every other message, and the command's status, are kept.
note='in statically linked applications requires at runtime the shared libraries from the glibc version used for linking'
out=$("$@" 2>&1)
status=$?
rest=$(printf '%s\n' "$out" | grep -v -F "$note")
[ -z "$rest" ] || printf '%s\n' "$rest" >&2
exit $status

#!/bin/sh
# Appends each argument, in brackets, as one line to args.txt in the working
# directory: a stand-in program for the launch tests.
for a in "$@"; do
  printf '[%s]\n' "$a"
done >> args.txt

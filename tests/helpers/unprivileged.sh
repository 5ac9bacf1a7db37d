#!/bin/sh
# Runs a command as an ordinary user, for the tests of what permissions
# deny (root may read and enter everything). Run by the tests as root, it
# hands the test's directory (the parent of the current one) to the user
# nobody (65534) and runs the command as that user; run by anyone else, it
# runs the command as it is.
set -e
if [ "$(id -u)" != 0 ]; then exec "$@"; fi
top="$(dirname "$PWD")"
chown -R 65534:65534 "$top"
exec setpriv --reuid=65534 --regid=65534 --clear-groups "$@"

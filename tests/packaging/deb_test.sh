#!/usr/bin/env bash
# Builds the Debian package in a build directory and checks it as Debian
# would: lintian finds no error and no warning, the programs take SQLite
# from the system's libsqlite3-0, the changelog and the control data agree,
# and the packaged programs run a script.
#   tests/packaging/deb_test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL deb: $*" >&2; exit 1; }

rm -f "$build"/vsl_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$build"/vsl_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no vsl_*.deb"
deb="${debs[0]}"

# Informational tags are shown, errors and warnings fail. (lintian warns on
# stderr when it runs as root, as CI does.)
lintian --fail-on error,warning --info "$deb" 2> >(grep -v 'root privileges' >&2) ||
  fail "lintian reports errors or warnings for $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
version="$(field Version)"
[[ "$(field Depends)" == *libsqlite3-0* ]] || fail "Depends lacks libsqlite3-0: $(field Depends)"
dpkg-deb -x "$deb" "$work/root"
for program in vsl vsltool; do
  readelf -d "$work/root/usr/bin/$program" | grep -q 'NEEDED.*\[libsqlite3\.so\.0\]' ||
    fail "usr/bin/$program does not load the system's libsqlite3.so.0"
done
head="$(zcat "$work/root/usr/share/doc/vsl/changelog.Debian.gz" | head -1)"
[[ "$head" == "vsl ($version) "* ]] || fail "the changelog's entry is not version $version: $head"
trailer="$(zcat "$work/root/usr/share/doc/vsl/changelog.Debian.gz" | grep '^ -- ' | head -1)"
[[ "$trailer" == " -- $(field Maintainer)  "* ]] || fail "the changelog is not signed by the maintainer: $trailer"
for page in vsl vsltool; do
  [ -s "$work/root/usr/share/man/man1/$page.1.gz" ] || fail "no manual page $page.1.gz"
done

# The packaged programs, loaded with the system's libraries, run a script.
[ "$("$work/root/usr/bin/vsl" --version)" = "vsl ${version%-*}" ] || fail "vsl --version does not print the upstream version ${version%-*}"
export VSL_PREFIX="$work/prefix" HOME="$work" TMPDIR="$work"
mkdir -p "$work/prefix"
printf '%s\n' 'RegWriteString "Software\Fleet", "Package", "yes"' 'WriteFile "Z:'"${work//\//\\}"'\done.txt", "done"' > "$work/a.vsl"
"$work/root/usr/bin/vsl" "$work/a.vsl" </dev/null || fail "the packaged vsl failed to run a script"
[ "$(cat "$work/done.txt")" = done ] || fail "the packaged vsl did not write the file"
"$work/root/usr/bin/vsltool" reg export 'Software\Fleet' | grep -qx '"Package"="yes"' ||
  fail "the packaged vsltool does not export the value the packaged vsl wrote"
echo "PASS deb: $(basename "$deb") (version $version)"

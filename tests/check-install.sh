#!/bin/bash
# check-install.sh BUILD_DIR
# cmake --install puts the programs and their manual pages under the chosen
# prefix, below DESTDIR, and the installed programs run.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

build=$1
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/rolls >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
(cd "$work/stage" && find . -type f | sort) >"$work/files"
sort >"$work/expected" <<'FILES'
./opt/rolls/bin/folkroll
./opt/rolls/bin/kinroll
./opt/rolls/share/doc/accountrolls/copyright
./opt/rolls/share/man/man1/folkroll.1
./opt/rolls/share/man/man1/kinroll.1
FILES
same_bytes "installed files" "$work/expected" "$work/files"
for program in kinroll folkroll; do
    "${capped[@]}" "$work/stage/opt/rolls/bin/$program" >/dev/null || fail "installed $program exits $?"
done
finish

#!/bin/bash
# check-install.sh BUILD_DIR
# cmake --install puts the programs and their manual pages under the chosen
# prefix, below DESTDIR, and the installed programs run. The user's own
# record of an install, BUILD_DIR/install_manifest.txt, which the README's
# uninstall reads, stays as it was, or absent: this install is of the one
# component that every install rule is in, which CMake records in a file of
# its own, removed again where it was not there before.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

build=$1
record=$build/install_manifest.txt component_record=$build/install_manifest_Unspecified.txt
[[ -e $record ]] && cp -p "$record" "$work/record"
[[ -e $component_record ]] || added_record=$component_record
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/rolls --component Unspecified >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; exit 1; }
rm -f "${added_record:-}"
if [[ -e $work/record ]]; then
    # Written again, even with the same bytes, it would be newer than its copy.
    if ! cmp -s "$work/record" "$record" || [[ $record -nt $work/record ]]; then
        fail "the install wrote the install record $record again"
    fi
elif [[ -e $record ]]; then
    fail "the install made an install record $record, where there was none"
fi
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

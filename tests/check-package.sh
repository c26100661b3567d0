#!/bin/bash
# check-package.sh BUILD_DIR SOURCE_DIR
# Builds the Debian package from BUILD_DIR and checks what it holds, what it
# depends on, that its programs run as the built ones do, and, where lintian is
# installed, that lintian finds no error in it.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

build=$1 source=$2
# The package is built for the machine's own architecture, so a build for
# another one (an i386 build on amd64) has nothing to package.
elf_kind() { readelf --file-header "$1" | grep -E '^ *(Class|Machine):' | tr -s ' '; }
if [[ $(elf_kind "$build/kinroll") != "$(elf_kind "$(command -v dpkg)")" ]]; then
    echo "skipped: this build's programs are not for the machine's own architecture, which the package is built for"
    exit "$SKIP"
fi
if ! cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
package=$(echo "$work"/accountrolls_*_amd64.deb)
[[ -f $package ]] || { echo "FAIL: no accountrolls_VERSION_amd64.deb built" >&2; exit 1; }

dpkg-deb --contents "$package" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
sort >"$work/expected-files" <<'FILES'
./usr/bin/folkroll
./usr/bin/kinroll
./usr/share/doc/accountrolls/changelog.gz
./usr/share/doc/accountrolls/copyright
./usr/share/man/man1/folkroll.1.gz
./usr/share/man/man1/kinroll.1.gz
FILES
same_bytes "files in the package" "$work/expected-files" "$work/files"

depends=$(dpkg-deb --field "$package" Depends)
[[ $depends =~ ^libc6(\ \(\>=\ [0-9.]+\))?$ ]] || fail "Depends is '$depends', expected libc6 alone"
for field in Package Version Maintainer Description; do
    [[ -n $(dpkg-deb --field "$package" "$field") ]] || fail "control field $field is empty"
done

dpkg-deb --extract "$package" "$work/root"
same_bytes "copyright file against LICENSE" "$source/LICENSE" "$work/root/usr/share/doc/accountrolls/copyright"
for page in "$work"/root/usr/share/man/man1/*.gz; do
    gzip -t "$page" || fail "$page is not a valid gzip file"
done
for program in kinroll folkroll; do
    "$work/root/usr/bin/$program" >"$work/packaged.out" || fail "packaged $program exits $?"
    "$build/$program" >"$work/built.out"
    same_bytes "packaged $program" "$work/built.out" "$work/packaged.out"
done

if command -v lintian >/dev/null; then
    lintian --fail-on error "$package" 2>&1 | grep -v 'running with root privileges' >&2
    ((PIPESTATUS[0] == 0)) || fail "lintian reports errors"
else
    echo "note: lintian not installed (Debian package lintian), package not linted"
fi
finish

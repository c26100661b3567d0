#!/bin/bash
# check-package.sh BUILD_DIR SOURCE_DIR
# Builds the Debian package with the distribution's own tools from two copies of
# the tree, in two different folders (the checkout stays clean), and checks the
# package: its files, Depends, Architecture, lintian without a single tag, the
# hardening of its programs, the autopkgtest against its programs, and that the
# two builds are byte for byte the same.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

build=$1 source=$2
# Whatever the tools leave in their temporary folder (lintian leaves its
# mldbm-elf-* caches) goes with this test's own folder.
export TMPDIR=$work/tmp
mkdir "$TMPDIR"
for tool in dpkg-buildpackage dh lintian readelf git; do
    command -v "$tool" >/dev/null ||
        { echo "skipped: $tool is not installed (Debian packages dpkg-dev, debhelper, lintian, binutils, git)"; exit "$SKIP"; }
done
unmet=$(cd "$source" && dpkg-checkbuilddeps 2>&1) ||
    { echo "skipped: the package's build dependencies are not all installed: ${unmet##*: }"; exit "$SKIP"; }
# The package is built for the machine's own architecture, so a build for
# another one (an i386 build on amd64) has nothing more to show here.
elf_kind() { readelf --file-header "$1" | grep -E '^ *(Class|Machine):' | tr -s ' '; }
if [[ $(elf_kind "$build/kinroll") != "$(elf_kind "$(command -v dpkg)")" ]]; then
    echo "skipped: this build is not for the machine's own architecture, which the package is built for"
    exit "$SKIP"
fi

# copy_tree DEST: the tree's files, tracked and new, without build folders
copy_tree() {
    mkdir -p "$1"
    if git -C "$source" rev-parse 2>/dev/null; then
        git -C "$source" ls-files -z --cached --others --exclude-standard |
            (cd "$source" && while IFS= read -r -d '' file; do [[ -e $file ]] && printf '%s\0' "$file"; done) |
            tar -C "$source" --null -T - -cf - | tar -C "$1" -xf -
    else
        tar -C "$source" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -C "$1" -xf -
    fi
}

# package_build FOLDER DEB_BUILD_OPTIONS OPTION...: dpkg-buildpackage in
# FOLDER/accountrolls, a checkout of its own, which the build must leave clean.
package_build() {
    local folder=$1 options=$2
    shift 2
    copy_tree "$folder/accountrolls"
    git -C "$folder/accountrolls" init -q
    git -C "$folder/accountrolls" add -A
    git -C "$folder/accountrolls" -c user.name=test -c user.email=test@invalid commit -qm copy
    (cd "$folder/accountrolls" && DEB_BUILD_OPTIONS=$options dpkg-buildpackage -us -uc "$@") >"$folder/build.log" 2>&1 ||
        { tail -40 "$folder/build.log" >&2; echo "FAIL: dpkg-buildpackage failed in $folder" >&2; exit 1; }
    local left
    left=$(git -C "$folder/accountrolls" status --porcelain)
    [[ -z $left ]] && return
    fail "the package build leaves the checkout dirty:"
    echo "$left" >&2
}
# The first build, of the source package too, runs the test suite through
# dh_auto_test, but none of the linters, which no build dependency brings;
# the second, the README's binary build, need not.
package_build "$work/one" ""
package_build "$work/second/place" nocheck -b
grep -q 'Test *#[0-9]*: kinroll\.files' "$work/one/build.log" || fail "the package build ran no tests"
grep -E 'Test *#[0-9]*: lint\.' "$work/one/build.log" >&2 && fail "the package build ran the linters"

arch=$(dpkg --print-architecture)
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
package=$work/one/accountrolls_${version}_$arch.deb
[[ -f $package ]] || { echo "FAIL: no $(basename "$package") built" >&2; exit 1; }

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
[[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || fail "Depends is '$depends', expected libc6 alone"
[[ $(dpkg-deb --field "$package" Architecture) == "$arch" ]] ||
    fail "Architecture is '$(dpkg-deb --field "$package" Architecture)', expected $arch"

# The .changes holds the source package and every binary package.
lintian --pedantic -E --info "$work"/one/*.changes 2>&1 | grep -v 'running with root privileges' >"$work/lintian"
[[ -s $work/lintian ]] && fail "lintian: $(cat "$work/lintian")"

# A check whose tool is missing is left out, and named among the skipped.
if command -v blhc >/dev/null; then
    blhc --all "$work/one/build.log" >"$work/blhc" 2>&1 || fail "blhc on the build log: $(cat "$work/blhc")"
else
    echo "skipped: the build log's flags not checked: blhc is not installed (Debian package blhc)"
fi

dpkg-deb --extract "$package" "$work/root"
if command -v hardening-check >/dev/null; then
    # The programs' own code has control-flow protection on x86 (the binary
    # test checks it), but the C library's start files do not (Debian 12 and
    # 13), so the linked program carries no mark of it for hardening-check to
    # find. Branch protection (BTI and pointer authentication) is arm64's
    # alone: newer hardening-check asks for it on every architecture, and
    # answers "no" wherever there is none to have.
    exempt=(--nocfprotection)
    checks=$(hardening-check --help 2>&1)
    [[ $arch != arm64 && $checks == *--nobranchprotection* ]] && exempt+=(--nobranchprotection)
    hardening-check "${exempt[@]}" "$work"/root/usr/bin/* >"$work/hardening" ||
        fail "hardening-check: $(cat "$work/hardening")"
else
    echo "skipped: the packaged programs' hardening not checked: hardening-check is not installed (Debian package devscripts)"
fi
ACCOUNTROLLS_BINDIR=$work/root/usr/bin "$source/debian/tests/listings" || fail "autopkgtest against the package's programs"

cmp -s "$package" "$work/second/place/$(basename "$package")" ||
    fail "two builds in different folders differ (diffoscope shows how)"
finish

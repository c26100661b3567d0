#!/bin/bash
# check-binary.sh PROGRAM FORTIFY_LEVEL BUILD CF_PROTECTION STACK_CLASH LARGE_FRAME OBJDUMP
# The installed program needs the C library alone and carries the hardening of
# a distribution's system programs. FORTIFY_LEVEL is what the build promises:
# 1 to 3, "toolchain" (the compiler's own level), 0 for none, or "sanitized"
# for a sanitizer build, which links the sanitizers' runtimes and is not
# checked here. BUILD is the compiler and build type, as "GNU Release".
# CF_PROTECTION is yes where the build promises control-flow protection (x86),
# STACK_CLASH where it promises stack-clash protection, which LARGE_FRAME, a
# program built with the same flags, shows; OBJDUMP is the target's objdump.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

(($# == 7)) || {
    echo "usage: check-binary.sh PROGRAM FORTIFY_LEVEL BUILD CF_PROTECTION STACK_CLASH LARGE_FRAME OBJDUMP" >&2
    exit 2
}
program=$1 fortify=$2 build=$3 cf_protection=$4 stack_clash=$5 large_frame=$6 objdump=$7
if [[ $fortify == sanitized ]]; then
    echo "skipped: a sanitizer build links the sanitizers' runtimes; the plain build is checked"
    exit "$SKIP"
fi
for tool in readelf objdump; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (Debian package binutils)"; exit "$SKIP"; }
done
readelf --wide --dynamic "$program" >"$work/dynamic"
readelf --wide --program-headers "$program" >"$work/headers"
readelf --wide --dyn-syms "$program" >"$work/symbols"

# The C library is libc.so.6 and its dynamic loader, the program's interpreter,
# which runs every dynamically linked program anyway; where the stack protector
# reads its guard from the loader (armhf, arm64), the program names it as well.
interpreter=$(sed -n 's|.*Requesting program interpreter: .*/\(.*\)\]|\1|p' "$work/headers")
needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$work/dynamic" | grep -vxF "${interpreter:-none}" | tr '\n' ' ')
[[ $needed == "libc.so.6 " ]] || fail "dynamic dependencies are '$needed', expected the C library alone (libc.so.6)"
grep -q 'FLAGS_1).*PIE' "$work/dynamic" || fail "not a position-independent executable"
grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1\).*NOW' "$work/dynamic" || fail "symbols not bound at start (no BIND_NOW)"
grep -q GNU_RELRO "$work/headers" || fail "no read-only relocations (GNU_RELRO)"
# With the stack protector, a function with an array on its stack (the one
# that formats messages) checks a canary before it returns, and calls
# __stack_chk_fail where the canary was overwritten.
grep -Eq ' __stack_chk_fail(@|$)' "$work/symbols" ||
    fail "no stack protector: nothing calls __stack_chk_fail"
# With control-flow protection, every function the compiler built begins with
# an ENDBR, main among them. The program as a whole is marked (the x86 feature
# note, IBT and SHSTK) only where the C library's start files are built so
# too, which Debian 12's are not: that is the C library's part, not checked.
if [[ $cf_protection == yes ]]; then
    objdump --disassemble=main "$program" >"$work/main"
    [[ $(sed -n '/<main>:/{n;p;q}' "$work/main") =~ endbr(64|32) ]] ||
        fail "no control-flow protection: main does not begin with an ENDBR instruction"
fi
# With stack-clash protection, a frame larger than a page grows a page at a
# time, each touched: a loop, the one backward branch in main of LARGE_FRAME
# (on every architecture, whatever the instructions). The programs' own frames
# are too small to be probed.
if [[ $stack_clash == yes ]]; then
    "$objdump" -d "$large_frame" | awk '/<main>:$/ { inside = 1; next } inside && /^$/ { exit } inside' >"$work/frame"
    perl -ne 'if (/^\s*([0-9a-f]+):.*?(?:0x)?([0-9a-f]+) <main\+0x[0-9a-f]+>/ && hex($2) < hex($1)) { $loop = 1 }
        END { exit !$loop }' "$work/frame" ||
        fail "no stack-clash protection: a frame of a megabyte grows without touching each page"
fi
# Fortified builds from level 2 call the checking variants: of snprintf, which
# makes the messages, and at level 3, which checks objects of dynamic size, of
# memcpy into the output buffer at a position known only at run time. Level 1
# leaves no call here with a check at run time. g++ fortifies snprintf as
# __snprintf_chk; clang does with glibc 2.41 (Debian 13), as __vsnprintf_chk,
# but not with 2.36 (Debian 12).
if [[ $fortify == 0 ]]; then
    echo "note: fortification not checked: a $build build is not fortified (only optimized builds are)"
elif [[ $fortify == 1 ]]; then
    echo "note: fortification level 1 leaves no call here with a check at run time: nothing to check"
else
    if grep -Eq '__v?snprintf_chk' "$work/symbols"; then
        grep -Eq ' (printf|fprintf|snprintf|vsnprintf)(@|$)' "$work/symbols" && fail "unfortified printf calls remain"
    elif [[ $build == GNU* ]]; then
        fail "snprintf not fortified (no __snprintf_chk)"
    else
        echo "skipped: fortified snprintf: this C library does not fortify printf in a $build build"
    fi
    if [[ $fortify == 3 ]]; then
        grep -q '__memcpy_chk' "$work/symbols" || fail "not fortified at level 3 (no __memcpy_chk)"
    else
        echo "note: fortification level $fortify: the level-3 check of memcpy does not apply"
    fi
fi
finish

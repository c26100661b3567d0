#!/bin/bash
# check-binary.sh PROGRAM fortified|unfortified BUILD
# The installed program needs the C library alone and carries the hardening of
# a distribution's system programs. Fortified printf is checked only where the
# build promises it (optimized g++ builds); BUILD names the build otherwise.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 fortify=$2 build=$3
readelf --wide --dynamic "$program" >"$work/dynamic"
readelf --wide --program-headers "$program" >"$work/headers"
readelf --wide --dyn-syms "$program" >"$work/symbols"

needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$work/dynamic" | tr '\n' ' ')
[[ $needed == "libc.so.6 " ]] || fail "dynamic dependencies are '$needed', expected libc.so.6 alone"
grep -q 'FLAGS_1).*PIE' "$work/dynamic" || fail "not a position-independent executable"
grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1\).*NOW' "$work/dynamic" || fail "symbols not bound at start (no BIND_NOW)"
grep -q GNU_RELRO "$work/headers" || fail "no read-only relocations (GNU_RELRO)"
# Fortified builds call the checking variant of printf.
if [[ $fortify == fortified ]]; then
    grep -q '__printf_chk' "$work/symbols" || fail "printf not fortified (no __printf_chk)"
    grep -Eq ' (printf|fprintf)(@|$)' "$work/symbols" && fail "unfortified printf calls remain"
else
    echo "note: fortified printf not checked: a $build build is not fortified (only optimized g++ builds are)"
fi
finish

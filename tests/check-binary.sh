#!/bin/bash
# check-binary.sh PROGRAM
# The installed program needs the C library alone and carries the hardening of
# a distribution's system programs.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1
readelf --wide --dynamic "$program" >"$work/dynamic"
readelf --wide --program-headers "$program" >"$work/headers"
readelf --wide --dyn-syms "$program" >"$work/symbols"

needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' "$work/dynamic" | tr '\n' ' ')
[[ $needed == "libc.so.6 " ]] || fail "dynamic dependencies are '$needed', expected libc.so.6 alone"
grep -q 'FLAGS_1).*PIE' "$work/dynamic" || fail "not a position-independent executable"
grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1\).*NOW' "$work/dynamic" || fail "symbols not bound at start (no BIND_NOW)"
grep -q GNU_RELRO "$work/headers" || fail "no read-only relocations (GNU_RELRO)"
# Fortified, optimized builds call the checking variant of printf.
grep -q '__printf_chk' "$work/symbols" || fail "printf not fortified (no __printf_chk)"
grep -Eq ' (printf|fprintf)(@|$)' "$work/symbols" && fail "unfortified printf calls remain"
finish

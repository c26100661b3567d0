#!/bin/bash
# check-writes.sh PROGRAM DATABASE
# How a listing reaches its reader, counted in write calls over a generated
# database of 1 MB (16 output buffers): into a pipe in 64 KiB writes, at most
# bytes / 64 KiB + 2 calls; on a terminal line by line, at least one write per
# line, so that an interactive listing shows as it goes. Counts system calls,
# so nothing depends on the machine's speed.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2
use_lister "$program"
for tool in strace script; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (Debian packages strace, bsdutils)"; exit "$SKIP"; }
done

awk -v database="$database" 'BEGIN {
    for (i = 1; i <= 12000; i++)
        if (database == "group")
            printf "group%05d:x:%d:member%05da,member%05db,member%05dc,member%05dd,member%05de\n", i, i, i, i, i, i, i
        else
            printf "user%05d:x:%d:%d:User Number %d,Room %d,,:/home/user%05d:/bin/sh\n", i, i, i, i, i % 500, i
}' >"$work/database"

# write calls to standard output in a trace
writes() { grep -c '^write(1,' "$1"; }

"$here/with-accounts.sh" "$database" "files=$work/database" -- \
    strace -o "$work/pipe.trace" -e trace=write "${lister[@]}" 2>"$work/err" | cat >"$work/out"
status=${PIPESTATUS[0]}
((status == SKIP)) && { cat "$work/err"; exit "$SKIP"; }
same_status "listing into a pipe" 0 "$status"
same_bytes "listing into a pipe" "$work/database" "$work/out"
bytes=$(wc -c <"$work/out") calls=$(writes "$work/pipe.trace")
((calls <= bytes / 65536 + 2)) || fail "$bytes bytes into a pipe took $calls writes, expected at most $((bytes / 65536 + 2))"

command=$(printf '%q ' strace -o "$work/tty.trace" -e trace=write "${lister[@]}")
"$here/with-accounts.sh" "$database" "files=$work/database" -- script -qec "$command" /dev/null </dev/null >/dev/null
same_status "listing on a terminal" 0 $?
lines=$(wc -l <"$work/database") calls=$(writes "$work/tty.trace")
((calls >= lines)) || fail "$lines lines on a terminal took only $calls writes, expected one or more per line"
finish

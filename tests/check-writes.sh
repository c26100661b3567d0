#!/bin/bash
# check-writes.sh PROGRAM DATABASE
# How a listing reaches its reader, counted in write calls over a generated
# database of 2 MB (over 30 output buffers): into a pipe in 64 KiB writes, at most
# bytes / 64 KiB + 2 calls; on a terminal line by line, at least one write per
# line, so that an interactive listing shows as it goes. Counts system calls,
# so nothing depends on the machine's speed. The listing into the pipe must be
# the database byte for byte, as getent lists it.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2
use_lister "$program"
for tool in strace script; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (Debian packages strace, bsdutils)"; exit "$SKIP"; }
done

# Line and field lengths vary from line to line, so that the output buffer's
# end falls at ever other offsets within the fields; one line, in the middle,
# is longer than the whole buffer.
awk -v database="$database" 'BEGIN {
    for (i = 0; i < 100; i++) text = text "abcdefghij"
    for (i = 1; i <= 24000; i++)
        if (database == "group") {
            members = ""
            for (m = 0; m < (i == 12000 ? 8000 : i % 7); m++)
                members = members (m ? "," : "") "m" m substr(text, 1, (i + m) % 11)
            printf "g%d%s:%s:%d:%s\n", i, substr(text, 1, i % 13), substr(text, 1, i % 3), i, members
        } else {
            gecos = i == 12000 ? sprintf("%70000s", "long") : "User " substr(text, 1, (i * 37) % 97) ",,"
            printf "u%d%s:x:%d:%d:%s:/home/u%d:/bin/%s\n", i, substr(text, 1, i % 7), i, i % 1000, gecos, i,
                substr(text, 1, 1 + i % 5)
        }
}' >"$work/database"

# write calls to standard output in a trace
writes() { grep -c '^write(1,' "$1"; }

"$here/with-accounts.sh" "$database" "files=$work/database" -- \
    strace -o "$work/pipe.trace" -e trace=write "${lister[@]}" 2>"$work/err" | cat >"$work/out"
status=${PIPESTATUS[0]}
((status == SKIP)) && { cat "$work/err"; exit "$SKIP"; }
same_status "listing into a pipe" 0 "$status"
[[ -s $work/err ]] && fail "listing into a pipe: standard error not empty: $(head -5 "$work/err")"
same_bytes "listing into a pipe" "$work/database" "$work/out"
"$here/with-accounts.sh" "$database" "files=$work/database" -- getent "$database" >"$work/getent"
same_bytes "against getent $database" "$work/getent" "$work/out"
bytes=$(wc -c <"$work/out") calls=$(writes "$work/pipe.trace")
((calls <= bytes / 65536 + 2)) || fail "$bytes bytes into a pipe took $calls writes, expected at most $((bytes / 65536 + 2))"

command=$(printf '%q ' strace -o "$work/tty.trace" -e trace=write "${lister[@]}")
"$here/with-accounts.sh" "$database" "files=$work/database" -- script -qec "$command" /dev/null </dev/null >/dev/null
same_status "listing on a terminal" 0 $?
lines=$(wc -l <"$work/database") calls=$(writes "$work/tty.trace")
((calls >= lines)) || fail "$lines lines on a terminal took only $calls writes, expected one or more per line"
finish

#!/bin/bash
# check-writes.sh PROGRAM DATABASE
# How a listing reaches its reader, counted in write calls over a generated
# database of 1.2 MB (groups) or 2.5 MB (users), 18 or 38 output buffers: into
# a pipe in 64 KiB writes, at most bytes / 64 KiB + 2 calls; on a terminal line
# by line, at least one write per line, so that an interactive listing shows
# as it goes. Counts system calls, so nothing depends on the machine's speed.
# The listing, into the pipe and on the terminal, must be the database byte for
# byte, as getent lists it.
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
# end falls at ever other offsets within the fields, and IDs take every width
# from 1 to 10 digits, spread over 0 to 4294967295, so that IDs of every width
# meet it; one line, in the middle, is longer than the whole buffer. Chance
# alone seldom puts a 10-digit ID where only 9 bytes are left, so probe lines
# put one there at the end of the first buffer of every size from 4 KiB to
# 128 KiB: 9 bytes before each such offset, after a line that pads up to it.
awk -v database="$database" '
# id(N, WIDTH): an ID of WIDTH digits, picked by N
function id(n, width,    low, high) {
    low = width == 1 ? 0 : 10 ^ (width - 1)
    high = width == 10 ? 4294967295 : 10 ^ width - 1
    return low + (n * 2654435761) % (high - low + 1)
}
# %d stops at 2^31 - 1 in mawk; and lines are joined, not printed with
# sprintf, which stops at 8 KiB.
function decimal(number) { return sprintf("%.0f", number) }
function put(line) {
    print line
    offset += length(line) + 1
}
# probe(AT): pads, then puts a line whose first ID starts 9 bytes before offset AT.
function probe(at,    pad) {
    pad = at - 9 - length("probe:x:") - offset
    if (database == "group")
        put("pad:x:0:" substr(long, 1, pad - 9))
    else
        put("pad:x:0:0:" substr(long, 1, pad - 21) ":/:/bin/sh")
    put("probe:x:" decimal(id(at, 10)) (database == "group" ? ":" : ":4294967295:::"))
}
BEGIN {
    for (i = 0; i < 100; i++) text = text "abcdefghij"
    for (i = 0; i < 70; i++) long = long text
    probe_at = 4096
    for (i = 1; i <= 24000; i++) {
        if (probe_at <= 131072 && offset + 2000 > probe_at) {
            probe(probe_at)
            probe_at *= 2
        }
        if (database == "group") {
            members = ""
            for (m = 0; m < (i == 12000 ? 8000 : i % 7); m++)
                members = members (m ? "," : "") "m" m substr(text, 1, (i + m) % 11)
            put("g" i substr(text, 1, i % 13) ":" substr(text, 1, i % 3) ":" decimal(id(i, 1 + i % 10)) ":" members)
        } else {
            gecos = i == 12000 ? long : "User " substr(text, 1, (i * 37) % 97) ",,"
            put("u" i substr(text, 1, i % 7) ":x:" decimal(id(i, 1 + i % 10)) ":" decimal(id(i + 7, 1 + (i * 3) % 10)) \
                ":" gecos ":/home/u" i ":/bin/" substr(text, 1, 1 + i % 5))
        }
    }
}' >"$work/database" || { echo "FAIL: the database could not be generated" >&2; exit 1; }
lines=$(wc -l <"$work/database")
((lines == 24012)) || { echo "FAIL: the database has $lines lines, expected 24,000 and 6 probes with their padding" >&2; exit 1; }

# write calls to standard output in a trace
writes() { grep -c '^write(1,' "$1"; }

"${capped[@]}" "$here/with-accounts.sh" "$database" "files=$work/database" -- \
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

command=$(terminal_command strace -o "$work/tty.trace" -e trace=write "${lister[@]}")
"${capped[@]}" "$here/with-accounts.sh" "$database" "files=$work/database" -- \
    script -qec "$command" /dev/null </dev/null >"$work/terminal"
same_status "listing on a terminal" 0 $?
same_bytes "listing on a terminal" "$work/database" "$work/terminal"
lines=$(wc -l <"$work/database") calls=$(writes "$work/tty.trace")
((calls >= lines)) || fail "$lines lines on a terminal took only $calls writes, expected one or more per line"
finish

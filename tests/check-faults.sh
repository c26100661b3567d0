#!/bin/bash
# check-faults.sh PROGRAM STAND_IN
# How the program meets a standard output that fails, and the command line and
# standard input that it must ignore. Runs over the machine's own database,
# which always holds at least root and fits in the output buffer, so a write
# fails only when the output is closed; and over a listing of 2 MB served by
# the stand-in for the enumeration calls, many buffers long, so a write fails
# in the middle of the listing.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 stand_in=$2
command -v perl >/dev/null || { echo "skipped: perl is not installed (Debian package perl-base)"; exit "$SKIP"; }
name=$(basename "$program")
enumeration_calls "$program"
use_lister "$program"

# 20,000 records of about 100 bytes each.
awk -v program="$name" 'BEGIN {
    for (i = 1; i <= 20000; i++)
        if (program == "kinroll")
            printf "group%06d:x:%d:member%06da,member%06db,member%06dc,member%06dd,member%06de,member%06df\n",
                i, i, i, i, i, i, i, i
        else
            printf "user%06d:x:%d:%d:User Number %d,Room %d,,:/home/user%06d:/bin/sh\n", i, i, i, i, i % 500, i
}' >"$work/many.records"
# shellcheck disable=SC2034 # used by the table rows, through eval
many=(env FAKE_ACCOUNTS_RECORDS="$work/many.records" FAKE_ACCOUNTS_CALLS="$work/calls" LD_PRELOAD="$stand_in")

# After a failed write the program stops fetching at once, well within the first
# 200 KB (more than any output buffer) of the 2 MB, and still closes the
# enumeration once.
check_calls() {
    local label=$1
    [[ $(head -1 "$work/calls") == "$open" ]] || fail "$label: the enumeration was not opened first"
    local fetches closes
    fetches=$(grep -c "^$fetch\$" "$work/calls") closes=$(grep -c "^$close\$" "$work/calls")
    ((fetches <= 2000)) || fail "$label: $fetches records fetched after the output had failed"
    [[ $closes == 1 && $(tail -1 "$work/calls") == "$close" ]] ||
        fail "$label: the enumeration was closed $closes times, expected once at the end"
}

# Runs the program with standard output on a pipe whose reader is already gone,
# SIGPIPE set to IGNORE or DEFAULT: no race with a reader that might still read.
with_broken_pipe() {
    perl -e 'pipe(my $r, my $w) or die; close $r; open(STDOUT, ">&", $w) or die;
             $SIG{PIPE} = shift; exec @ARGV or die' "$@"
}

# Fields of a table row, without the blanks that align them.
trim() {
    local text=$1
    text=${text#"${text%%[![:space:]]*}"}
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}

# case | how the program is run | exit status | standard error
while IFS='|' read -r label command expected_status expected_err; do
    label=$(trim "$label") expected_status=$(trim "$expected_status") expected_err=$(trim "$expected_err")
    rm -f "$work/calls"
    eval "$command" 2>"$work/err"
    same_status "$label" "$expected_status" $?
    : >"$work/expected-err"
    [[ -n $expected_err ]] && echo "$expected_err" >"$work/expected-err"
    same_bytes "$label: standard error" "$work/expected-err" "$work/err"
    [[ -f $work/calls ]] && check_calls "$label"
done <<TABLE
disk full                                | "\${lister[@]}" >/dev/full                            | 1   | $name: write error: No space left on device
stdout closed                            | "\${lister[@]}" >&-                                   | 1   | $name: write error: Bad file descriptor
reader gone                              | with_broken_pipe DEFAULT "\${lister[@]}"              | 141 |
reader gone, SIGPIPE ignored             | with_broken_pipe IGNORE "\${lister[@]}"               | 1   | $name: write error: Broken pipe
disk full mid-listing                    | "\${many[@]}" "\${lister[@]}" >/dev/full              | 1   | $name: write error: No space left on device
stdout closed mid-listing                | "\${many[@]}" "\${lister[@]}" >&-                     | 1   | $name: write error: Bad file descriptor
reader gone mid-listing, SIGPIPE ignored | with_broken_pipe IGNORE "\${many[@]}" "\${lister[@]}" | 1   | $name: write error: Broken pipe
TABLE

# Arguments and standard input change nothing.
"${lister[@]}" >"$work/plain"
while IFS='|' read -r label command; do
    label=$(trim "$label")
    eval "$command" >"$work/out" 2>"$work/err"
    same_status "$label" 0 $?
    same_bytes "$label" "$work/plain" "$work/out"
    [[ -s $work/err ]] && fail "$label: standard error not empty"
done <<'TABLE'
help requested        | "${lister[@]}" --help
options and operands  | "${lister[@]}" -v -- /etc/passwd x
stdin closed          | "${lister[@]}" <&-
stdin at end          | "${lister[@]}" </dev/null
TABLE
finish

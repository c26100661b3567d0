#!/bin/bash
# check-faults.sh PROGRAM STAND_IN
# How the program meets a standard output that fails or takes its bytes
# piecemeal, standard descriptors closed at start, and the command line and
# standard input that it must ignore. Runs over the machine's own database,
# which always holds at least root and fits in the output buffer, so a write
# fails only when the output is closed; and over a listing of 2 MB served by
# the stand-in for the enumeration calls, many buffers long, so a write fails
# (or is cut short, or interrupted) in the middle of the listing.
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

# The enumeration is opened first and closed once at the end; after a failed
# write (a row that expects no listing) the program stops fetching at once,
# well within the first 200 KB (more than any output buffer) of the 2 MB.
check_calls() {
    local label=$1 listed=$2
    [[ $(head -1 "$work/calls") == "$open" ]] || fail "$label: the enumeration was not opened first"
    local fetches closes
    fetches=$(grep -c "^$fetch\$" "$work/calls") closes=$(grep -c "^$close\$" "$work/calls")
    [[ -n $listed ]] || ((fetches <= 2000)) || fail "$label: $fetches records fetched after the output had failed"
    [[ $closes == 1 && $(tail -1 "$work/calls") == "$close" ]] ||
        fail "$label: the enumeration was closed $closes times, expected once at the end"
}

# Runs the program with standard output on a pipe whose reader is already gone,
# SIGPIPE set to IGNORE or DEFAULT: no race with a reader that might still read.
with_broken_pipe() {
    perl -e 'pipe(my $r, my $w) or die; close $r; open(STDOUT, ">&", $w) or die;
             $SIG{PIPE} = shift; exec @ARGV or die' "$@"
}

# Runs the program with standard output on a non-blocking pipe, as an event loop
# may leave a shared descriptor, whose reader starts 0.3 s late and then reads
# 4 KiB a millisecond, copying it to its own standard output.
with_slow_nonblocking_reader() {
    perl -e 'use Fcntl; use Time::HiRes qw(sleep);
             pipe(my $r, my $w) or die; fcntl($w, F_SETFL, fcntl($w, F_GETFL, 0) | O_NONBLOCK) or die;
             my $pid = fork // die;
             if ($pid == 0) { close $r; open(STDOUT, ">&", $w) or die; exec @ARGV or die }
             close $w; sleep 0.3;
             while (sysread($r, my $block, 4096)) { syswrite(STDOUT, $block); sleep 0.001 }
             waitpid($pid, 0); exit(($? & 127) ? 128 + ($? & 127) : $? >> 8)' "$@"
}

# Fields of a table row, without the blanks that align them.
trim() {
    local text=$1
    text=${text#"${text%%[![:space:]]*}"}
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}

# The stand-in's file for a source that keeps a writable descriptor: it takes
# the number of a standard descriptor closed at start, and nothing may go into it.
held=$work/held
newline_records=$here/crafted/$name/newline.records
# case | how the program is run | exit status | standard error | standard output (a file that holds it)
while IFS='|' read -r label command expected_status expected_err expected_out; do
    label=$(trim "$label") expected_status=$(trim "$expected_status") expected_err=$(trim "$expected_err")
    expected_out=$(trim "$expected_out")
    rm -f "$work/calls" "$held"
    eval "$command" >"$work/out" 2>"$work/err"
    same_status "$label" "$expected_status" $?
    : >"$work/expected-err"
    [[ -n $expected_err ]] && echo "$expected_err" >"$work/expected-err"
    same_bytes "$label: standard error" "$work/expected-err" "$work/err"
    [[ -n $expected_out ]] && same_bytes "$label: standard output" "$expected_out" "$work/out"
    [[ -s $held ]] && fail "$label: $(wc -c <"$held") bytes went into the descriptor of a source"
    [[ -f $work/calls ]] && check_calls "$label" "$expected_out"
done <<TABLE
disk full                                | "\${lister[@]}" >/dev/full                            | 1   | $name: write error: No space left on device
stdout closed                            | "\${lister[@]}" >&-                                   | 1   | $name: write error: Bad file descriptor
reader gone                              | with_broken_pipe DEFAULT "\${lister[@]}"              | 141 |
reader gone, SIGPIPE ignored             | with_broken_pipe IGNORE "\${lister[@]}"               | 1   | $name: write error: Broken pipe
disk full mid-listing                    | "\${many[@]}" "\${lister[@]}" >/dev/full              | 1   | $name: write error: No space left on device
reader gone mid-listing, SIGPIPE ignored | with_broken_pipe IGNORE "\${many[@]}" "\${lister[@]}" | 1   | $name: write error: Broken pipe
short writes                             | "\${many[@]}" FAKE_WRITE_MAX=1000 "\${lister[@]}"     | 0   | | $work/many.records
interrupted writes                       | "\${many[@]}" FAKE_WRITE_EINTR=1 "\${lister[@]}"      | 0   | | $work/many.records
short and interrupted writes             | "\${many[@]}" FAKE_WRITE_MAX=999 FAKE_WRITE_EINTR=1 "\${lister[@]}" | 0 | | $work/many.records
writes that take nothing                 | timeout 20 "\${many[@]}" FAKE_WRITE_ZERO=1 "\${lister[@]}" | 1 | $name: write error: No space left on device
non-blocking pipe, slow late reader      | with_slow_nonblocking_reader "\${many[@]}" "\${lister[@]}" | 0 | | $work/many.records
stdout closed, a source holds a file     | "\${many[@]}" FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" >&- | 1 | $name: write error: Bad file descriptor
stderr closed, a source holds a file     | "\${many[@]}" FAKE_ACCOUNTS_RECORDS=$newline_records FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" 2>&- | 1 | | $here/crafted/$name/newline.out
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

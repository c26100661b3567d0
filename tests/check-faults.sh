#!/bin/bash
# check-faults.sh PROGRAM
# How the program meets a standard output that fails, and the command line and
# standard input that it must ignore. Runs over the machine's own database,
# which always holds at least root.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1
name=$(basename "$program")

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
    eval "$command" 2>"$work/err"
    same_status "$label" "$expected_status" $?
    : >"$work/expected-err"
    [[ -n $expected_err ]] && echo "$expected_err" >"$work/expected-err"
    same_bytes "$label: standard error" "$work/expected-err" "$work/err"
done <<TABLE
disk full          | "\$program" >/dev/full                             | 1   | $name: write error: No space left on device
stdout closed      | "\$program" >&-                                    | 1   | $name: write error: Bad file descriptor
reader gone        | with_broken_pipe DEFAULT "\$program"               | 141 |
reader gone, SIGPIPE ignored | with_broken_pipe IGNORE "\$program"      | 1   | $name: write error: Broken pipe
TABLE

# Arguments and standard input change nothing.
"$program" >"$work/plain"
while IFS='|' read -r label command; do
    label=$(trim "$label")
    eval "$command" >"$work/out" 2>"$work/err"
    same_status "$label" 0 $?
    same_bytes "$label" "$work/plain" "$work/out"
    [[ -s $work/err ]] && fail "$label: standard error not empty"
done <<'TABLE'
help requested        | "$program" --help
options and operands  | "$program" -v -- /etc/passwd x
stdin closed          | "$program" <&-
stdin at end          | "$program" </dev/null
TABLE
finish

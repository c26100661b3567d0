#!/bin/bash
# check-crafted.sh PROGRAM STAND_IN RECORDS EXPECTED_OUT EXPECTED_ERR
# Serves RECORDS through the preloaded stand-in for the enumeration calls and
# checks standard output, standard error, the exit status (1 exactly when
# something is reported) and the calls made: one open, one fetch per record and
# one that finds the end, then one close.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 stand_in=$2 records=$3 expected_out=$4 expected_err=$5
enumeration_calls "$program"
use_lister "$program"

"${capped[@]}" env FAKE_ACCOUNTS_RECORDS="$records" FAKE_ACCOUNTS_CALLS="$work/calls" LD_PRELOAD="$stand_in" \
    "${lister[@]}" >"$work/out" 2>"$work/err"
status=$?
expected_status=0
[[ -s $expected_err ]] && expected_status=1
same_status listing $expected_status $status
same_bytes "standard output" "$expected_out" "$work/out"
same_bytes "standard error" "$expected_err" "$work/err"

{
    echo "$open"
    for ((i = 0; i <= $(wc -l <"$records"); i++)); do echo "$fetch"; done
    echo "$close"
} >"$work/expected-calls"
same_bytes "enumeration calls" "$work/expected-calls" "$work/calls"
finish

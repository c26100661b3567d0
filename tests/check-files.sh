#!/bin/bash
# check-files.sh PROGRAM DATABASE FIXTURE EXPECTED
# Lists FIXTURE as the platform's DATABASE through the files backend and checks
# the listing against EXPECTED, byte for byte, and against getent's listing of
# the same database where getent can list it (it refuses fields holding ':').
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2 fixture=$3 expected=$4
"$here/with-accounts.sh" "$database" "$fixture" "$program" >"$work/out" 2>"$work/err"
status=$?
((status == SKIP)) && { cat "$work/err" >&2; exit "$SKIP"; }
same_status listing 0 $status
same_bytes listing "$expected" "$work/out"
[[ -s $work/err ]] && fail "standard error not empty: $(cat "$work/err")"

"$here/with-accounts.sh" "$database" "$fixture" getent "$database" >"$work/getent" 2>"$work/getent-err"
if [[ -s $work/getent-err ]]; then
    echo "note: not compared with getent, which says: $(head -1 "$work/getent-err")"
else
    same_bytes "against getent $database" "$work/getent" "$work/out"
fi
finish

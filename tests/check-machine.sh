#!/bin/bash
# check-machine.sh PROGRAM DATABASE
# The machine's own database, whatever sources feed it, lists exactly as
# getent lists it.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2
use_lister "$program"
"${capped[@]}" "${lister[@]}" >"$work/out" 2>"$work/err"
same_status listing 0 $?
getent "$database" >"$work/getent"
same_bytes "against getent $database" "$work/getent" "$work/out"
[[ -s $work/out ]] || fail "empty listing of the machine's $database database"
[[ -s $work/err ]] && fail "standard error not empty: $(cat "$work/err")"
finish

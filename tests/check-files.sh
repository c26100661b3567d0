#!/bin/bash
# check-files.sh PROGRAM DATABASE FIXTURE EXPECTED [SOURCES]
# Lists FIXTURE as the platform's DATABASE and checks the listing against
# EXPECTED, byte for byte, and against getent's listing of the same database
# where getent can list it (it refuses fields holding ':'), or against the
# file beside EXPECTED named with .getent for .out, where getent lists the
# database otherwise (compat entries: names that begin with + or -, whose
# empty IDs the C library returns as 0 and getent writes empty). SOURCES (default
# "files") is the name service switch's order of sources: files reads FIXTURE
# through the C library's files backend, extrausers reads the file beside it
# named CASE.extrausers through the extrausers module. Where CASE.tty is beside
# it, the listing through the files backend on a terminal (a pseudo-terminal
# made by script, which passes the bytes as they come) must be that, and so
# must it be with standard error elsewhere; with standard error alone on the
# terminal, standard output must get EXPECTED.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2 fixture=$3 expected=$4 sources=${5:-files}
use_lister "$program"
databases=()
for source in $sources; do
    case $source in
    files) databases+=("files=$fixture") ;;
    extrausers)
        # The module must be one that the program's own loader finds: an i386
        # build needs the i386 module. The loader's whole answer is read before
        # it is searched, so that no early exit of a reader can cut it short.
        loaded=$(LD_TRACE_LOADED_OBJECTS=1 LD_PRELOAD=libnss_extrausers.so.2 "${lister[@]}" 2>/dev/null)
        if [[ $loaded != *'libnss_extrausers.so.2 =>'* ]]; then
            echo "skipped: the extrausers module for $(basename "$program")'s architecture is not installed" \
                "(Debian package libnss-extrausers)"
            exit "$SKIP"
        fi
        databases+=("extrausers=${fixture%.*}.extrausers")
        ;;
    esac
done

"${capped[@]}" "$here/with-accounts.sh" "$database" "${databases[@]}" -- "${lister[@]}" >"$work/out" 2>"$work/err"
status=$?
((status == SKIP)) && { cat "$work/err" >&2; exit "$SKIP"; }
same_status listing 0 $status
same_bytes listing "$expected" "$work/out"
[[ -s $work/err ]] && fail "standard error not empty: $(cat "$work/err")"

"$here/with-accounts.sh" "$database" "${databases[@]}" -- getent "$database" >"$work/getent" 2>"$work/getent-err"
if [[ -s $work/getent-err ]]; then
    echo "note: not compared with getent, which says: $(head -1 "$work/getent-err")"
else
    by_getent=${expected%.out}.getent
    [[ -f $by_getent ]] || by_getent=$work/out
    same_bytes "against getent $database" "$by_getent" "$work/getent"
fi
on_terminal=${expected%.out}.tty
if [[ $sources == files && -f $on_terminal ]]; then
    command -v script >/dev/null || { echo "skipped: script is not installed (Debian package bsdutils)"; exit "$SKIP"; }
    # case | where the outputs go, beside the terminal | bytes on the terminal | bytes in the file
    while IFS='|' read -r label redirect expected_terminal expected_file; do
        label=$(trim "$label") expected_terminal=$(trim "$expected_terminal") expected_file=$(trim "$expected_file")
        rm -f "$work/file"
        "${capped[@]}" "$here/with-accounts.sh" "$database" "${databases[@]}" -- \
            script -qec "$(terminal_command "${lister[@]}")$redirect" /dev/null </dev/null >"$work/terminal"
        same_status "$label" 0 $?
        same_bytes "$label: the terminal" "$expected_terminal" "$work/terminal"
        [[ -n $expected_file ]] && same_bytes "$label: the file" "$expected_file" "$work/file"
    done <<TABLE
both outputs on a terminal          |                   | $on_terminal |
stdout on a terminal, stderr a file | 2>$work/file | $on_terminal | /dev/null
stdout a file, stderr on a terminal | >$work/file  | /dev/null    | $expected
TABLE
fi
finish

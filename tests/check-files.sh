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
# named CASE.extrausers through the extrausers module, systemd the folder of
# drop-in records beside it named CASE.userdb through nss-systemd. Where
# CASE.tty is beside it, the listing through the files backend on a terminal
# (a pseudo-terminal made by script, which passes the bytes as they come) must
# be that in C, C.UTF-8 and a UTF-8 locale that cannot be loaded, and so must
# it be with standard error elsewhere; with standard error alone on the terminal,
# standard output must get EXPECTED. Where CASE.CHARSET.tty is beside it, the
# listing on a terminal in a locale of that character set must be that, and
# into a pipe EXPECTED; in tr_TR.UTF-8, CASE.tty and EXPECTED. The locales are
# those in the folder LISTER_LOCALES, made by the test "locales": read on a
# terminal, never into a pipe. Where CASE.unloadable.tty is beside it, the
# listing on a terminal where the locale that names ISO-8859-1 cannot be
# loaded must be that; where a locale cannot be loaded and names UTF-8, it is
# CASE.tty. The rows set all three locale variables, so that the environment
# the tests run in decides none of them.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 database=$2 fixture=$3 expected=$4 sources=${5:-files}
use_lister "$program"
# needs_module NAME PACKAGE: skips unless the program's own loader finds the
# name service module libnss_NAME.so.2: an i386 build needs the i386 module,
# an emulated build the target's, which PACKAGE holds in usr/lib. The
# loader's whole answer is read before it is searched, so that no early exit
# of a reader can cut it short.
needs_module() {
    local loaded
    loaded=$(LD_TRACE_LOADED_OBJECTS=1 LD_PRELOAD="libnss_$1.so.2" "${lister[@]}" 2>/dev/null)
    [[ $loaded == *"libnss_$1.so.2 =>"* ]] && return
    if [[ -n ${LISTER_EMULATOR:-} ]]; then
        echo "skipped: the emulated $(basename "$program") finds no $1 module: unpack the target's $2 and give" \
            "its usr/lib folder as -DCROSS_LIBRARY_PATH when configuring (see cmake/cross.cmake)"
    else
        echo "skipped: the $1 module for $(basename "$program")'s architecture is not installed" \
            "(Debian package $2, or $2:ARCH for a build for the architecture ARCH)"
    fi
    exit "$SKIP"
}

databases=()
for source in $sources; do
    case $source in
    files) databases+=("files=$fixture") ;;
    extrausers)
        needs_module extrausers libnss-extrausers
        databases+=("extrausers=${fixture%.*}.extrausers")
        ;;
    systemd)
        # Under qemu-user, whose -L prefix stands for /, nss-systemd looks for
        # /run/userdb in the target's folder and finds no drop-in records.
        if [[ -n ${LISTER_EMULATOR:-} ]]; then
            echo "skipped: the nss-systemd rows cannot run under qemu-user, which hides /run/userdb from" \
                "nss-systemd; the native suite runs them"
            exit "$SKIP"
        fi
        needs_module systemd libnss-systemd
        # Whether the enumeration alone, built and run as the program is
        # (bench-enumerate, beside it), finds the drop-in records at all. An
        # nss-systemd that finds them by name or ID alone lists none (those of
        # Debian 12 and 13 list them).
        "$here/with-accounts.sh" "$database" "systemd=${fixture%.*}.userdb" -- \
            "$(dirname "$program")/bench-enumerate" "$database" >"$work/drop-ins" 2>&1
        status=$?
        ((status == SKIP)) && { cat "$work/drop-ins"; exit "$SKIP"; }
        if ((status != 0)); then
            echo "skipped: this nss-systemd does not list drop-in records (those of Debian 12 and 13 do)"
            exit "$SKIP"
        fi
        databases+=("systemd=${fixture%.*}.userdb")
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
    # Whether a row reads the locale shows in the files the program opens.
    traced=(strace -f -qq -e trace=openat -o "$work/opened")
    if ! command -v strace >/dev/null; then
        echo "skipped: whether the locale is read: strace is not installed (Debian package strace)"
        traced=()
    fi
    locales=${LISTER_LOCALES:-} extra_rows=()
    # locale_rows PATTERN TERMINAL: the rows in the locale of LISTER_LOCALES
    # (made by the test locales) whose name matches PATTERN: on a terminal it
    # is read, and the listing is TERMINAL; into a pipe it is not read, and
    # the listing is EXPECTED.
    locale_rows() {
        local locale
        locale=$(basename "$(find "$locales" -maxdepth 1 -name "$1" 2>/dev/null | head -1)")
        if [[ -z $locale ]]; then
            local reason="no locale of it was made (see the test locales)"
            [[ -d /usr/share/i18n/charmaps ]] || reason="the locale sources are not installed (Debian package locales)"
            echo "skipped: the rows in $1: $reason"
            return
        fi
        extra_rows+=("in $locale | LOCPATH=$locales LC_ALL=$locale | | $2 | | read"
            "in $locale, stdout a pipe | LOCPATH=$locales LC_ALL=$locale | pipe | /dev/null | $expected | unread")
    }
    # Other character sets: CASE.CHARSET.tty. The C library converts all but
    # UTF-8 and ISO-8859-1 with modules of its own, which an emulated program
    # finds only where they are given (cmake/cross.cmake).
    for charset_tty in "${expected%.out}".*.tty; do
        charset=${charset_tty%.tty} charset=${charset##*.}
        [[ -f $charset_tty && $charset != unloadable ]] || continue
        if [[ -n ${LISTER_EMULATOR:-} && $LISTER_EMULATOR != *GCONV_PATH=* && $charset != ISO-8859-1 ]]; then
            echo "skipped: the rows in $charset: the emulated program finds no converter for it: unpack the" \
                "target's libc6 and give its usr/lib/TRIPLET/gconv folder as -DCROSS_GCONV_PATH (see cmake/cross.cmake)"
            continue
        fi
        locale_rows "*.$charset" "$charset_tty"
    done
    # In a Turkish locale I and i are not one letter's two cases, so the C
    # library's parser of the name service configuration must not read its
    # words in it.
    locale_rows tr_TR.UTF-8 "$on_terminal"
    # A locale that cannot be loaded and names an 8-bit character set:
    # CASE.unloadable.tty. LANG is read, and LC_ALL comes first.
    unloadable=${expected%.out}.unloadable.tty
    [[ -f $unloadable ]] && extra_rows+=(
        "LANG alone names ISO-8859-1 | LC_ALL= LC_CTYPE= LANG=xx_XX.ISO-8859-1 | | $unloadable |"
        "LC_ALL names ISO-8859-1, LC_CTYPE UTF-8 | LC_ALL=xx_XX.ISO-8859-1 LC_CTYPE=UTF-8 LANG= | | $unloadable |"
        "a set that only begins as UTF-8 | LC_ALL=xx_XX.utf LC_CTYPE= LANG= | | $unloadable |"
        "a dot after the modifier | LC_ALL=xx_XX@euro.utf8 LC_CTYPE= LANG= | | $unloadable |")
    # An mbrtowc that never ends a character, preloaded in the sanitizer build
    # (LISTER_MBRTOWC_BEGUN): the walk over the character set must stop within
    # its buffer, and the listing come whole. The C library's newlocale loses
    # the search path it makes of LOCPATH, which the leak checker would report.
    latin1_tty=${expected%.out}.ISO-8859-1.tty
    if [[ -n ${LISTER_MBRTOWC_BEGUN:-} && -f $latin1_tty && -d $locales/en_US.ISO-8859-1 ]]; then
        begun="LD_PRELOAD=$LISTER_MBRTOWC_BEGUN ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
        extra_rows+=("mbrtowc never ends a character | LOCPATH=$locales LC_ALL=en_US.ISO-8859-1 $begun | | $latin1_tty |")
    fi
    # case | the locale's variables | where the outputs go, beside the terminal ("pipe": standard
    # output into a pipe to cat >FILE) | bytes on the terminal | bytes in the file | whether the
    # program opens the locale's files in LISTER_LOCALES ("read", "unread"; blank: not looked at)
    while IFS='|' read -r label environment redirect expected_terminal expected_file locale_files; do
        label=$(trim "$label") expected_terminal=$(trim "$expected_terminal") expected_file=$(trim "$expected_file")
        locale_files=$(trim "$locale_files")
        read -ra environment <<<"$environment"
        [[ $(trim "$redirect") == pipe ]] && redirect=" | cat >$work/file"
        command=(env "${environment[@]}")
        if [[ -n $locale_files && ${#traced[@]} -gt 0 ]]; then
            # The leak checker of a sanitizer build cannot work under strace.
            command+=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "${traced[@]}")
        else
            locale_files=""
        fi
        command+=("${lister[@]}")
        rm -f "$work/file" "$work/opened"
        "${capped[@]}" "$here/with-accounts.sh" "$database" "${databases[@]}" -- \
            script -qec "$(terminal_command "${command[@]}")$redirect" /dev/null </dev/null >"$work/terminal"
        same_status "$label" 0 $?
        same_bytes "$label: the terminal" "$expected_terminal" "$work/terminal"
        [[ -n $expected_file ]] && same_bytes "$label: the file" "$expected_file" "$work/file"
        opened=$(grep -F "\"$locales/" "$work/opened" 2>/dev/null | head -1)
        [[ $locale_files == read && -z $opened ]] && fail "$label: the locale's files in $locales were not read"
        [[ $locale_files == unread && -n $opened ]] && fail "$label: the locale was read: $opened"
    done < <(
        cat <<TABLE
both outputs on a terminal          | LC_ALL=C |               | $on_terminal |
stdout on a terminal, stderr a file | LC_ALL=C | 2>$work/file | $on_terminal | /dev/null
stdout a file, stderr on a terminal | LC_ALL=C | >$work/file  | /dev/null    | $expected
in C.UTF-8                          | LC_ALL=C.UTF-8 |         | $on_terminal |
a UTF-8 locale that cannot be loaded | LC_ALL=xx_XX.UTF-8     | | $on_terminal |
LC_CTYPE a character set, UTF-8     | LC_ALL= LC_CTYPE=UTF-8 LANG=           | | $on_terminal |
LANG a character set, utf8          | LC_ALL= LC_CTYPE= LANG=utf8            | | $on_terminal |
UTF-8 in another case, a modifier   | LC_ALL=xx_XX.Utf-8@euro LC_CTYPE= LANG= | | $on_terminal |
in POSIX                            | LC_ALL=POSIX LC_CTYPE= LANG=           | | $on_terminal |
an empty LC_ALL is passed over      | LC_ALL= LC_CTYPE=UTF-8 LANG=xx_XX.ISO-8859-1 | | $on_terminal |
TABLE
        ((${#extra_rows[@]} == 0)) || printf '%s\n' "${extra_rows[@]}"
    )
fi
finish

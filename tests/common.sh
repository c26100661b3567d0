# Helpers shared by the test scripts; sourced, not run.
# shellcheck shell=bash

# CTest counts this exit status as a skip (SKIP_RETURN_CODE).
# shellcheck disable=SC2034 # used by the scripts that source this file
readonly SKIP=77

# No file that a test or anything it starts writes may grow past 64 MiB (the
# largest a test needs is some 3 MB): a program that writes without end fails
# its row with SIGXFSZ rather than fill the disk.
ulimit -f $((64 * 1024))
# capped goes first in every command that runs a program under test: after
# 60 s, a program that hangs is ended and fails its row. First, as timeout is
# dynamically linked and would take the stand-in's LD_PRELOAD of a build for
# another architecture.
# shellcheck disable=SC2034 # used by the scripts that source this file
capped=(timeout -k 5 60)

# What unshare needs to make a private mount namespace: as a user without root,
# a user namespace in which it is root.
userns=()
((EUID == 0)) || userns=(--map-root-user)
# no_mount_namespace: says why no private mount namespace with bind mounts can
# be made here, and what to do; fails (status 1, saying nothing) where one can.
no_mount_namespace() {
    local answer
    if ! command -v mount >/dev/null; then
        echo "the mount command is not installed (Debian package mount)"
    elif ! answer=$(unshare --mount "${userns[@]}" true 2>&1); then
        answer=${answer#unshare: }
        if [[ $answer == *"root filesystem propagation"* ]]; then
            # unshare makes the whole mount tree private, from /.
            echo "no private mount namespace: / is not a mount point, as in a chroot: bind the chroot's folder" \
                "onto itself (mount --bind DIR DIR) before entering it"
        elif ((EUID != 0)); then
            echo "no private mount namespace: this user cannot make a user namespace ($answer), as where they" \
                "are off or in a chroot: run the tests as root"
        else
            echo "no private mount namespace: unshare --mount says: $answer"
        fi
    else
        return 1
    fi
}

# terminal_command WORD...: a command line for script -c that runs WORD... on
# its pseudo-terminal, which then sends each newline as it is, not as CR LF.
terminal_command() {
    printf 'stty -opost && exec'
    printf ' %q' "$@"
}

# Fields of a table row, without the blanks that align them.
trim() {
    local text=$1
    text=${text#"${text%%[![:space:]]*}"}
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# same_bytes LABEL EXPECTED_FILE ACTUAL_FILE
same_bytes() {
    if ! cmp -s "$2" "$3"; then
        fail "$1: output differs (expected, then actual)"
        diff -u --label expected --label actual "$2" "$3" | head -40 >&2
    fi
}

# same_status LABEL EXPECTED ACTUAL
same_status() {
    [[ $2 == "$3" ]] || fail "$1: exit status $3, expected $2"
}

# use_lister PROGRAM: sets the array lister to the command that starts PROGRAM:
# through the emulator the test definitions hand over for a build for another
# architecture (LISTER_EMULATOR, words split at blanks), directly otherwise.
# Where the kernel cannot start it directly (a build for i386 run natively on
# a kernel without 32-bit support, or without the i386 C library), the test
# skips and says why.
use_lister() {
    read -ra lister <<<"${LISTER_EMULATOR:-}"
    lister+=("$1")
    [[ -n ${LISTER_EMULATOR:-} ]] && return
    # Through bash's exec, which reports a program that the kernel refuses
    # (timeout's own exec would hand it to sh as a script).
    local answer status
    # shellcheck disable=SC2016 # expanded by the inner shell
    answer=$("${capped[@]}" bash -c 'exec "$0"' "$1" 2>&1 >/dev/null </dev/null)
    status=$? answer=${answer%%$'\n'*}
    case $status in
    126)
        echo "skipped: this kernel cannot run $(basename "$1") (${answer##*: }): run these tests where the kernel" \
            "runs programs of its architecture, or under the emulator (see cmake/cross.cmake)"
        exit "$SKIP"
        ;;
    127)
        echo "skipped: $(basename "$1") cannot start (${answer##*: }): the C library of its architecture is" \
            "not installed (for i386: apt-get install libc6-i386 lib32stdc++6)"
        exit "$SKIP"
        ;;
    esac
}

# enumeration_calls PROGRAM: sets open, fetch and close to the names of the
# enumeration calls that PROGRAM makes, as the stand-in logs them.
enumeration_calls() {
    case $(basename "$1") in
    kinroll) open=setgrent fetch=getgrent close=endgrent ;;
    folkroll) open=setpwent fetch=getpwent close=endpwent ;;
    *) echo "unknown program $1" >&2; exit 2 ;;
    esac
}

finish() {
    if ((failures > 0)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

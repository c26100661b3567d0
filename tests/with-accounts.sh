#!/bin/bash
# with-accounts.sh DATABASE SOURCE=FILE [SOURCE=FILE...] -- COMMAND [ARG...]
# Runs COMMAND with the platform's DATABASE (passwd or group) made up of the
# given sources, in the given order, as the name service switch would list
# them: files=FILE is read by the C library's own files backend as
# /etc/DATABASE, extrausers=FILE by the extrausers module as
# /var/lib/extrausers/DATABASE. Everything is bind-mounted in a private mount
# namespace, so the machine's own files are never touched. Exits 77 (skip)
# where no such namespace can be made.
set -euo pipefail

database=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/extrausers"
sources=() mounts=()
while [[ $1 != -- ]]; do
    source=${1%%=*} file=$(realpath "${1#*=}")
    case $source in
    files) mounts+=("$file" "/etc/$database") ;;
    extrausers)
        cp "$file" "$scratch/extrausers/$database"
        mounts+=("$scratch/extrausers" /var/lib/extrausers)
        ;;
    *) echo "with-accounts: unknown source $source" >&2; exit 2 ;;
    esac
    sources+=("$source")
    shift
done
shift
printf '%s: %s\n' "$database" "${sources[*]}" >"$scratch/nsswitch.conf"
mounts+=("$scratch/nsswitch.conf" /etc/nsswitch.conf)

userns=()
if ((EUID != 0)); then
    userns=(--map-root-user)
fi
if ! unshare --mount "${userns[@]}" true 2>/dev/null; then
    echo "skipped: cannot make a private mount namespace here (unshare --mount ${userns[*]} failed)" >&2
    exit 77
fi

# The inner shell takes pairs of (what, where) to bind-mount, then "--", then the command.
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount "${userns[@]}" -- bash -c '
    while [[ $1 != -- ]]; do
        mount --bind "$1" "$2" || exit 125
        shift 2
    done
    shift
    exec "$@"' with-accounts "${mounts[@]}" -- "$@"

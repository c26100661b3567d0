#!/bin/bash
# with-accounts.sh DATABASE FILE COMMAND [ARG...]
# Runs COMMAND with FILE as the platform's DATABASE (passwd or group), read by
# the C library's own files backend. The file is bind-mounted in a private mount
# namespace, so the machine's own databases are never touched. Exits 77 (skip)
# where no such namespace can be made.
set -euo pipefail

database=$1 file=$(realpath "$2")
shift 2
nsswitch=$(dirname "$(realpath "$0")")/nsswitch.conf

userns=()
if ((EUID != 0)); then
    userns=(--map-root-user)
fi
if ! unshare --mount "${userns[@]}" true 2>/dev/null; then
    echo "skipped: cannot make a private mount namespace here (unshare --mount ${userns[*]} failed)" >&2
    exit 77
fi

# shellcheck disable=SC2016 # expanded by the inner shell
exec unshare --mount "${userns[@]}" -- bash -c '
    mount --bind "$1" "/etc/$2" && mount --bind "$3" /etc/nsswitch.conf || exit 125
    shift 3
    exec "$@"' with-accounts "$file" "$database" "$nsswitch" "$@"

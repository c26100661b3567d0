#!/bin/bash
# with-accounts.sh DATABASE SOURCE=PATH [SOURCE=PATH...] -- COMMAND [ARG...]
# Runs COMMAND with the platform's DATABASE (passwd or group) made up of the
# given sources, in the given order, as the name service switch would list
# them: files=FILE is read by the C library's own files backend as
# /etc/DATABASE, extrausers=FILE by the extrausers module as
# /var/lib/extrausers/DATABASE, systemd=FOLDER by nss-systemd, as the folder
# of drop-in records /run/userdb. Everything is bind-mounted in a private
# mount namespace, so the machine's own files are never touched. Exits 77
# (skip) where no such namespace can be made.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

database=$1
shift
mkdir "$work/extrausers" "$work/run" "$work/empty"
sources=() mounts=()
while [[ $1 != -- ]]; do
    source=${1%%=*} path=$(realpath "${1#*=}")
    case $source in
    files) mounts+=("$path" "/etc/$database") ;;
    extrausers)
        cp "$path" "$work/extrausers/$database"
        mounts+=("$work/extrausers" /var/lib/extrausers)
        ;;
    systemd)
        # nss-systemd lists the drop-in records of /etc/userdb, /run/userdb,
        # /run/host/userdb, /usr/local/lib/userdb and /usr/lib/userdb, and
        # those of the services listening in /run/systemd/userdb. Here /run is
        # a folder of the test's own that holds the fixture's records alone,
        # and the other folders are empty.
        cp -R "$path" "$work/run/userdb"
        mounts+=("$work/run" /run)
        for folder in /etc/userdb /usr/local/lib/userdb /usr/lib/userdb; do
            if [[ -d $folder ]]; then mounts+=("$work/empty" "$folder"); fi
        done
        ;;
    *) echo "with-accounts: unknown source $source" >&2; exit 2 ;;
    esac
    sources+=("$source")
    shift
done
shift
# With a hosts line that holds an action, as many machines' files do: the C
# library's parser of this file reads its words in the process's locale, and
# in a Turkish one would not know [NOTFOUND=continue] and reject the file.
printf '%s: %s\nhosts: files [NOTFOUND=continue] dns\n' "$database" "${sources[*]}" >"$work/nsswitch.conf"
mounts+=("$work/nsswitch.conf" /etc/nsswitch.conf)

if reason=$(no_mount_namespace); then
    echo "skipped: $reason" >&2
    exit "$SKIP"
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

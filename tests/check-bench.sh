#!/bin/bash
# check-bench.sh SOURCE_DIR BUILD_DIR
# The benchmark takes any whole number of users from 1 up, and answers
# anything else with its usage line and status 2. A run over one user goes
# through every step of a real one (generation, mounts, measures, tables) in
# seconds; it skips, saying so, where the benchmark cannot run here.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

bench=$1/bench/bench.sh build=$2
usage="usage: bench.sh [USERS [RUNS [BUILD_DIR]]], USERS and RUNS whole numbers from 1"
# Why a whole run cannot be made here, if it cannot.
cannot_run=$(no_mount_namespace)
for tool in strace valgrind; do
    command -v "$tool" >/dev/null || cannot_run="$tool is not installed (Debian package $tool)"
done

# Where namespaces are refused: an unshare that refuses as the kernel does, to
# a user without root in a chroot (refusing-user), and to root in a chroot
# whose folder is not a mount point (refusing-root).
refusing() {
    mkdir "$work/refusing-$1"
    printf '#!/bin/sh\necho "unshare: %s" >&2\nexit 1\n' "$2" >"$work/refusing-$1/unshare"
    chmod +x "$work/refusing-$1/unshare"
    echo "bench: cannot make a private mount namespace here (unshare: $2): $3"
}
refused_user=$(refusing user "unshare failed: Operation not permitted" \
    "run it as root, or where user namespaces are allowed")
refused_root=$(refusing root "cannot change root filesystem propagation: Invalid argument" \
    "/ is not a mount point: in a chroot, bind its folder onto itself (mount --bind DIR DIR) before entering it")

# case | environment | arguments | exit status | standard error ("usage": the usage line alone;
# "bench: …": that line alone, and nothing generated)
while IFS='|' read -r label environment arguments expected_status expected_err; do
    read -r label <<<"$label"
    read -r expected_status expected_err <<<"$expected_status $expected_err"
    read -ra environment <<<"$environment"
    read -ra arguments <<<"$arguments"
    if ((expected_status == 0)) && [[ -n $cannot_run ]]; then
        echo "skipped: bench $label: $cannot_run"
        continue
    fi
    "${capped[@]}" env "${environment[@]}" "$bench" "${arguments[@]}" >"$work/out" 2>"$work/err"
    same_status "$label" "$expected_status" $?
    if [[ $expected_err == usage ]]; then
        [[ $(cat "$work/err") == "$usage" ]] || fail "$label: standard error is '$(head -3 "$work/err")', expected the usage line"
    elif [[ $expected_err == bench:* ]]; then
        [[ $(cat "$work/err") == "$expected_err" ]] ||
            fail "$label: standard error is '$(head -3 "$work/err")', expected '$expected_err' alone"
    elif ((expected_status == 0)); then
        for program in folkroll kinroll; do
            [[ $(grep -c "^| $program " "$work/out") == 2 ]] || fail "$label: no two rows of $program in the tables"
        done
        # The locale it makes from the locale sources, which the tests install.
        grep -q '^| zh_CN.GB18030 | folkroll | *1 |' "$work/out" || fail "$label: no row of folkroll in zh_CN.GB18030"
    fi
done <<TABLE
users not a number     | | abc                  | 2 | usage
no users               | | 0                    | 2 | usage
negative users         | | -5                   | 2 | usage
users with a sign      | | +5                   | 2 | usage
no runs                | | 10 0                 | 2 | usage
runs not a number      | | 10 x                 | 2 | usage
a fourth argument      | | 1 1 $build extra     | 2 | usage
user namespaces refused | PATH=$work/refusing-user:$PATH | 1000000 1 $build | 2 | $refused_user
/ not a mount point    | PATH=$work/refusing-root:$PATH | 1000000 1 $build | 2 | $refused_root
one user, one run      | | 1 1 $build           | 0 |
TABLE
"${capped[@]}" "$bench" --help >"$work/out" 2>&1
same_status "--help" 0 $?
grep -q '^bench.sh \[USERS' "$work/out" || fail "--help does not show how to call it"
finish

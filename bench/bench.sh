#!/bin/bash
# bench.sh [USERS [RUNS [BUILD_DIR]]]
# What a listing costs at scale. Generates a user database of USERS users
# (default 1000000) and a group database of USERS/5 groups (at least one) with
# 0 to 10 members each, makes them the platform's databases for this run only
# (bind mounts in a private mount namespace, files backend), and measures,
# interleaved after a warm-up, RUNS runs (default 11; short runs are noisy on
# a shared machine) of folkroll, getent passwd and the enumeration-only floor,
# then of kinroll, getent group and the floor:
# - into /dev/null: CPU and wall time, peak memory;
# - into a pipe read by `cat >/dev/null`, where listings usually go: wall and
#   CPU time of the whole pipeline, paired with getent's pipeline;
# - write calls per listing into that pipe (strace);
# - instructions executed (callgrind), over the first tenth of the databases
#   (at least one record), into /dev/null and on a pseudo-terminal (script) in
#   C.UTF-8: unlike times, these do not wander with the machine's load, and
#   two runs give the same counts;
# - instructions executed by folkroll over USERS/50 users (at least one)
#   whose user information is four Chinese characters, into /dev/null and on
#   a pseudo-terminal in zh_CN.GB18030, a locale it makes with localedef
#   (where the locale sources, Debian package locales, are installed);
# - start-up, over one-record databases, 20 times RUNS runs.
# BUILD_DIR (default build) holds the programs and the benchmark's helpers,
# as the README's build command makes them. Needs root, or unprivileged user
# namespaces: where no mount namespace can be made, it says so and exits 2
# before it generates or installs anything. Installs strace and valgrind
# through apt-get where they are missing and it runs as root. The generated databases (some 125 MB at a
# million users) go when the run ends, however it ends.
set -euo pipefail

usage() { echo "usage: bench.sh [USERS [RUNS [BUILD_DIR]]], USERS and RUNS whole numbers from 1" >&2; }
if [[ ${1:-} == --help || ${1:-} == -h ]]; then
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
    exit 0
fi
if (($# > 3)) || [[ ! ${1:-1} =~ ^[1-9][0-9]*$ || ! ${2:-1} =~ ^[1-9][0-9]*$ ]]; then
    usage
    exit 2
fi
users=${1:-1000000} runs=${2:-11} build=$(realpath "${3:-build}")
groups=$((users >= 5 ? users / 5 : 1))
startup_runs=$((20 * runs))
trap 'echo "bench: failed at line $LINENO" >&2' ERR

if [[ ${BENCH_INSIDE:-} != yes ]]; then
    for tool in kinroll folkroll bench-enumerate bench-measure; do
        [[ -x $build/$tool ]] || { echo "bench: $build/$tool missing: build first (see README)" >&2; exit 2; }
    done
    # The databases are mounted in a private mount namespace: first make sure
    # one can be made here, before generating anything.
    userns=()
    ((EUID == 0)) || userns=(--map-root-user)
    command -v mount >/dev/null || { echo "bench: mount missing (Debian package mount)" >&2; exit 2; }
    if ! refusal=$(unshare --mount "${userns[@]}" true 2>&1); then
        advice="run it as root, or where user namespaces are allowed"
        # unshare makes the whole mount tree private, which needs / to be a mount point.
        [[ $refusal == *"root filesystem propagation"* ]] &&
            advice="/ is not a mount point: in a chroot, bind its folder onto itself (mount --bind DIR DIR) before entering it"
        echo "bench: cannot make a private mount namespace here (${refusal:-unshare failed}): $advice" >&2
        exit 2
    fi
    command -v script >/dev/null || { echo "bench: script missing (Debian package bsdutils)" >&2; exit 2; }
    for tool in strace valgrind; do
        if ! command -v "$tool" >/dev/null; then
            ((EUID == 0)) || { echo "bench: $tool missing (Debian package $tool)" >&2; exit 2; }
            apt-get install -y -qq --no-install-recommends "$tool" >/dev/null
        fi
    done
    # The generated databases go when the run ends, however it ends: the
    # namespace runs as a child, so this shell's traps still hold.
    data=$(mktemp -d)
    trap 'rm -rf "$data"' EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    echo "generating $users users and $groups groups in $data ..." >&2
    # Realistic lines: user information with commas, homes, a mix of shells;
    # groups with 0 to 10 members.
    # 王小明华 李建国强 张伟丽娟 陈志刚勇
    chinese=$(printf '\xcd\xf5\xd0\xa1\xc3\xf7\xbb\xaa \xc0\xee\xbd\xa8\xb9\xfa\xc7\xbf '
        printf '\xd5\xc5\xce\xb0\xc0\xf6\xbe\xea \xb3\xc2\xd6\xbe\xb8\xd5\xd3\xc2')
    awk -v n="$users" -v groups="$groups" -v dir="$data" -v chinese="$chinese" 'BEGIN {
        split("/bin/bash /bin/sh /usr/sbin/nologin /bin/zsh", shells, " ")
        for (i = 1; i <= n; i++)
            printf "user%07d:x:%d:%d:User Number %d,Room %d,+1 555 %04d,:/home/user%07d:%s\n",
                i, 10000 + i, 10000 + i % 1000, i, i % 500, i % 10000, i, shells[i % 4 + 1] > dir "/passwd"
        for (g = 1; g <= groups; g++) {
            line = sprintf("group%06d:x:%d:", g, 20000 + g)
            for (m = 0; m < g % 11; m++)
                line = line (m ? "," : "") sprintf("user%07d", (g * 7919 + m * 104729) % n + 1)
            print line > dir "/group"
        }
        # Names of four Chinese characters, in GB18030
        split(chinese, names, " ")
        for (i = 1; i <= (n >= 50 ? n / 50 : 1); i++)
            printf "user%07d:x:%d:%d:%s:/home/user%07d:/bin/bash\n", i, 10000 + i, 10000 + i % 1000,
                names[i % 4 + 1], i > dir "/chinese.passwd"
        print "root:x:0:0:root:/root:/bin/bash" > dir "/one.passwd"
        print "root:x:0:" > dir "/one.group"
    }'
    head -n $((users >= 10 ? users / 10 : 1)) "$data/passwd" >"$data/tenth.passwd"
    head -n $((groups >= 10 ? groups / 10 : 1)) "$data/group" >"$data/tenth.group"
    printf 'passwd: files\ngroup: files\n' >"$data/nsswitch.conf"
    if command -v localedef >/dev/null && [[ -d /usr/share/i18n/charmaps ]]; then
        mkdir "$data/locales"
        localedef -i zh_CN -f GB18030 "$data/locales/zh_CN.GB18030" >&2 || rm -rf "$data/locales/zh_CN.GB18030"
    fi
    BENCH_INSIDE=yes BENCH_DATA=$data unshare --mount "${userns[@]}" -- "$0" "$users" "$runs" "$build"
    exit
fi

data=$BENCH_DATA
mount --bind "$data/nsswitch.conf" /etc/nsswitch.conf

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# sample LABEL COMMAND...: one measured run, appended to $samples/LABEL
sample() {
    local label=$1
    shift
    "$build/bench-measure" "$@" >>"$samples/$label"
}

# compare DATABASE PROGRAM RUNS [pipe]: interleaved runs of the program, getent
# and the floor over the databases mounted now; with "pipe", also of the program
# and getent into a pipe
compare() {
    local database=$1 program=$2 count=$3 pipe=${4:-}
    rm -f "$samples"/*
    sample warmup "$build/$program"
    sample warmup getent "$database"
    sample warmup "$build/bench-enumerate" "$database"
    rm -f "$samples/warmup"
    for ((i = 0; i < count; i++)); do
        sample program "$build/$program"
        sample getent getent "$database"
        sample floor "$build/bench-enumerate" "$database"
        if [[ -n $pipe ]]; then
            sample pipe-program --pipe "$build/$program"
            sample pipe-getent --pipe getent "$database"
        fi
    done
    if grep -qv ' 0$' "$samples"/*; then
        echo "bench: a run failed" >&2
        exit 1
    fi
}

# field N of a sample file, as a median
median_of() { awk -v f="$2" '{ print $f }' "$samples/$1" | median; }
# median of per-pair ratios of column F: sample file A against sample file B
pair_ratio() { paste -d' ' "$samples/$1" "$samples/$2" | awk -v f="$3" '{ print $f / $(f + 4) }' | median; }

# write calls of COMMAND... into a pipe
write_calls() {
    strace -c -e trace=write -o "$samples/strace" "$@" | cat >/dev/null
    awk '$NF == "write" { print $4 }' "$samples/strace"
}

# instructions executed by COMMAND..., output to /dev/null
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

# instructions executed by COMMAND..., output on a pseudo-terminal, with the
# locale variables ENVIRONMENT (words such as LC_ALL=C.UTF-8)
terminal_instructions() {
    local environment
    read -ra environment <<<"$1"
    shift
    script -qec "$(printf '%q ' env "${environment[@]}" valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        --log-file="$samples/callgrind" "$@")" /dev/null </dev/null >/dev/null
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$samples/callgrind"
}

samples=$data/samples
mkdir "$samples"
costs=() counts=()
for pair in "folkroll passwd" "kinroll group"; do
    read -r program database <<<"$pair"
    records=$(wc -l <"$data/$database")
    mount --bind "$data/$database" "/etc/$database"
    bytes=$("$build/$program" | wc -c)
    compare "$database" "$program" "$runs" pipe
    cpu=$(median_of program 1) rss=$(awk '{ print $3 }' "$samples/program" | sort -g | tail -1)
    vs_getent=$(pair_ratio program getent 1) vs_floor=$(pair_ratio program floor 1)
    pipe_wall=$(median_of pipe-program 2) pipe_wall_ratio=$(pair_ratio pipe-program pipe-getent 2)
    pipe_cpu_ratio=$(pair_ratio pipe-program pipe-getent 1)
    writes=$(write_calls "$build/$program") getent_writes=$(write_calls getent "$database")
    umount "/etc/$database"

    mount --bind "$data/one.$database" "/etc/$database"
    compare "$database" "$program" "$startup_runs"
    start_cpu=$(median_of program 1) start_getent=$(median_of getent 1)
    rss_one=$(awk '{ print $3 }' "$samples/program" | sort -g | tail -1)
    umount "/etc/$database"

    mount --bind "$data/tenth.$database" "/etc/$database"
    small_records=$(wc -l <"$data/tenth.$database")
    instr=$(instructions "$build/$program") instr_getent=$(instructions getent "$database")
    instr_floor=$(instructions "$build/bench-enumerate" "$database")
    instr_terminal=$(terminal_instructions LC_ALL=C.UTF-8 "$build/$program")
    umount "/etc/$database"

    costs+=("$(awk -v p="$program" -v r="$records" -v b="$bytes" -v c="$cpu" -v g="$vs_getent" -v f="$vs_floor" \
        -v m="$rss" -v o="$rss_one" -v sc="$start_cpu" -v sg="$start_getent" 'BEGIN {
        printf "| %-8s | %9d | %11d | %5.3f | %5.2fx | %5.2fx | %4d KiB | %4d KiB | %4.0f us | %5.2fx |\n",
            p, r, b, c / 1e6, g, f, m, o, sc, sc / sg }')")
    counts+=("$(awk -v p="$program" -v b="$bytes" -v pw="$pipe_wall" -v wr="$pipe_wall_ratio" -v cr="$pipe_cpu_ratio" \
        -v n="$writes" -v gn="$getent_writes" -v sr="$small_records" -v i="$instr" -v gi="$instr_getent" \
        -v fi="$instr_floor" -v ti="$instr_terminal" 'BEGIN {
        printf "| %-8s | %5.3f | %5.2fx | %5.2fx | %6d | %6d | %6d | %5.0f | %6.3fx | %6.3fx | %5.0f | %6.3fx |\n",
            p, pw / 1e6, wr, cr, n, int(b / 65536) + 2, gn, i / sr, i / gi, i / fi, ti / sr, ti / i }')")
done

# A character set that writes the controls in four bytes, which the terminal
# listing looks for in every line.
if [[ -d $data/locales/zh_CN.GB18030 ]]; then
    mount --bind "$data/chinese.passwd" /etc/passwd
    chinese_records=$(wc -l <"$data/chinese.passwd")
    instr=$(instructions "$build/folkroll")
    instr_terminal=$(terminal_instructions "LC_ALL=zh_CN.GB18030 LOCPATH=$data/locales" "$build/folkroll")
    umount /etc/passwd
    chinese=$(awk -v r="$chinese_records" -v i="$instr" -v ti="$instr_terminal" 'BEGIN {
        printf "| zh_CN.GB18030 | folkroll | %6d | %5.0f | %5.0f | %6.3fx |\n", r, i / r, ti / r, ti / i }')
else
    chinese="| zh_CN.GB18030 | folkroll | not measured: localedef could not make the locale, or the locale sources (Debian package locales) are missing |"
fi

cat <<HEAD
Into /dev/null, medians of $runs interleaved runs after a warm-up:

| program  | records   | output bytes | CPU s | CPU vs getent | CPU vs floor | peak RSS | peak RSS, 1 record | start-up CPU | start-up CPU vs getent |
|----------|----------:|------------:|------:|------:|------:|---------:|---------:|--------:|------:|
HEAD
printf '%s\n' "${costs[@]}"
cat <<HEAD

Into a pipe read by \`cat >/dev/null\`, medians of the same runs; instructions over the first tenth of the records:

| program  | pipeline wall s | wall vs getent | pipeline CPU vs getent | write calls | limit | getent's write calls | instructions per record | instructions vs getent | instructions vs floor | instructions per record on a terminal | terminal vs /dev/null |
|----------|------:|------:|------:|-------:|-------:|-------:|------:|-------:|-------:|------:|-------:|
HEAD
printf '%s\n' "${counts[@]}"
cat <<HEAD

Instructions over users whose user information is four Chinese characters:

| locale | program | records | instructions per record | instructions per record on a terminal | terminal vs /dev/null |
|--------|---------|-------:|------:|------:|-------:|
$chinese
HEAD
cat <<LEGEND

- records: entries in the generated database, users or groups; output bytes: the size of the listing.
- floor: bench-enumerate, which fetches every record as the programs do and writes nothing: the cost of
  the enumeration alone, which no lister can go below.
- CPU s: user + system time of the program, its output into /dev/null. "vs getent" and "vs floor": the
  median of the ratios of each run to the getent run or floor run next to it.
- peak RSS: the largest peak resident memory of any run; "1 record": the same over one-record databases.
- start-up CPU: the CPU time of a run over one-record databases ($startup_runs runs), and its ratio to getent's.
- pipeline wall s: wall time of program | cat >/dev/null; "wall vs getent": against getent | cat, run
  next to it; "pipeline CPU vs getent": the CPU time of both processes of the pipeline, against getent's.
- write calls: the program's write calls into the pipe (strace); limit: bytes / 64 KiB + 2, what the
  tests allow; getent's write calls: the same for getent.
- instructions (callgrind, which unlike times does not wander with the load of the machine): per record
  of the first tenth of the database into /dev/null, and against getent's and the floor's over the same
  records; "on a terminal": per record of the same listing on a pseudo-terminal in C.UTF-8, where it is
  written line by line and its controls are masked, and against the same into /dev/null; in
  zh_CN.GB18030, whose controls above ASCII take four bytes, the same over users whose user information
  is four Chinese characters.

Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), Linux $(uname -r), $(getconf GNU_LIBC_VERSION).
LEGEND

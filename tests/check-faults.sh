#!/bin/bash
# check-faults.sh PROGRAM STAND_IN
# How the program meets outputs that fail, take their bytes piecemeal, make it
# wait (non-blocking, shared by both outputs) or take datagrams; standard
# descriptors closed at start, with and without a /dev/null; and the command
# line and standard input that it must ignore. Runs over the machine's own
# database, which always holds at least root and fits in the output buffer, so
# a write fails only when the output is closed; and over listings served by
# the stand-in for the enumeration calls, many buffers long, so that a write
# fails (or is cut short, or interrupted) in the middle.
set -uo pipefail
here=$(dirname "$0")
# shellcheck source=common.sh
source "$here/common.sh"

program=$1 stand_in=$2
# The wrappers below need perl-base alone (Fcntl, Socket, POSIX), which every
# Debian system has.
command -v perl >/dev/null || { echo "skipped: perl is not installed (Debian package perl-base)"; exit "$SKIP"; }
name=$(basename "$program")
enumeration_calls "$program"
use_lister "$program"

# 20,000 records of about 100 bytes each (many: kinroll 2.1 MB, folkroll
# 1.5 MB); the first 1,000 of them (few: 102 KB and 72 KB, more than the
# output buffer); and all of them with one record holding a newline (skip:
# skipped, and so reported) after the first 10,000.
awk -v program="$name" -v dir="$work" 'BEGIN {
    for (i = 1; i <= 20000; i++) {
        if (program == "kinroll")
            line = sprintf("group%06d:x:%d:member%06da,member%06db,member%06dc,member%06dd,member%06de,member%06df",
                i, i, i, i, i, i, i, i)
        else
            line = sprintf("user%06d:x:%d:%d:User Number %d,Room %d,,:/home/user%06d:/bin/sh", i, i, i, i, i % 500, i)
        print line > dir "/many.records"
        if (i <= 1000)
            print line > dir "/few.records"
        print line > dir "/skip.records"
        print line > dir "/skip.out"
        if (i == 10000) {
            print (program == "kinroll" ? "bad:x:424242:a\\nb" : "bad:x:424242:1:a\\nb:/:/bin/sh") > dir "/skip.records"
            printf "%s: skipped %s 424242: a field holds a newline\n", program, program == "kinroll" ? "group" : "user" > dir "/skip.out"
        }
    }
}'
# shellcheck disable=SC2034 # used by the table rows, through eval
{
    stand_in_env=(FAKE_ACCOUNTS_CALLS="$work/calls" FAKE_WRITES="$work/writes" LD_PRELOAD="$stand_in")
    many=(env FAKE_ACCOUNTS_RECORDS="$work/many.records" "${stand_in_env[@]}")
    few=(env FAKE_ACCOUNTS_RECORDS="$work/few.records" "${stand_in_env[@]}")
    skip=(env FAKE_ACCOUNTS_RECORDS="$work/skip.records" "${stand_in_env[@]}")
    # A few records, most of which hold a newline; their messages are 50 to 59 bytes long.
    newline=(env FAKE_ACCOUNTS_RECORDS="$here/crafted/$name/newline.records" "${stand_in_env[@]}")
}

# The enumeration is opened first and closed once at the end; after a failed
# write (a row that expects no listing) the program stops fetching at once,
# well within the first 200 KB (more than any output buffer) of the 2 MB.
check_calls() {
    local label=$1 listed=$2
    [[ $(head -1 "$work/calls") == "$open" ]] || fail "$label: the enumeration was not opened first"
    local fetches closes
    fetches=$(grep -c "^$fetch\$" "$work/calls") closes=$(grep -c "^$close\$" "$work/calls")
    [[ -n $listed ]] || ((fetches <= 2000)) || fail "$label: $fetches records fetched after the output had failed"
    [[ $closes == 1 && $(tail -1 "$work/calls") == "$close" ]] ||
        fail "$label: the enumeration was closed $closes times, expected once at the end"
}

# The wrappers below run the program (the rest of their arguments) with its
# outputs set up in ways a shell cannot; they exit with its status.
# shellcheck disable=SC2034,SC2016 # used by the table rows, through eval; perl's variables
{
# broken_pipe DEFAULT|IGNORE: standard output on a pipe whose reader is already
# gone, SIGPIPE at its default action or ignored: no race with a reader that
# might still read.
broken_pipe=(perl -e 'pipe(my $r, my $w) or die; close $r; open(STDOUT, ">&", $w) or die;
    $SIG{PIPE} = shift; exec @ARGV or die')

# nonblocking_pipe OUTPUTS STALL: a non-blocking pipe, as an event loop may
# leave a shared descriptor, as standard output ("out"), as both outputs
# ("both"), or as standard error with standard output on /dev/full ("err"; the
# pipe is full before the program starts). The reader waits on the program,
# not on the clock: it starts only once the program has met the full pipe, as
# the stand-in marks the first write to standard output ("out", "both") or
# error ("err") that fails with EAGAIN; a program that never met it fails the
# row. Then the reader stalls STALL seconds, and reads 4 KiB a millisecond,
# copying what came from the program to its own standard output. A program
# that waits for the reader makes a few write calls while it stalls; one that
# spins makes thousands, however loaded the machine is.
nonblocking_pipe=(perl -e 'use Fcntl;
    my ($outputs, $stall) = splice(@ARGV, 0, 2);
    pipe(my $r, my $w) or die; fcntl($w, F_SETFL, fcntl($w, F_GETFL, 0) | O_NONBLOCK) or die;
    pipe(my $marks, my $mark) or die; fcntl($mark, F_SETFD, 0) or die;
    $ENV{FAKE_EAGAIN_MARK} = fileno($mark);
    my $filled = 0;
    if ($outputs eq "err") { while (my $n = syswrite($w, "x" x 4096)) { $filled += $n } }
    my $pid = fork // die;
    if ($pid == 0) {
        close $r; close $marks;
        open(STDOUT, $outputs eq "err" ? ">/dev/full" : ">&=" . fileno($w)) or die;
        open(STDERR, ">&", $w) or die if $outputs ne "out";
        exec @ARGV or die;
    }
    close $w; close $mark;
    my $full = $outputs eq "err" ? 2 : 1;
    my $seen = "";
    while (index($seen, $full) < 0 && sysread($marks, my $number, 1)) { $seen .= $number }
    my $met = index($seen, $full) >= 0;
    select(undef, undef, undef, $stall) if $met;
    while (sysread($r, my $block, 4096)) {
        my $drop = $filled < length $block ? $filled : length $block;
        $filled -= $drop;
        syswrite(STDOUT, substr($block, $drop));
        select(undef, undef, undef, 0.001);
    }
    waitpid($pid, 0);
    my $status = ($? & 127) ? 128 + ($? & 127) : $? >> 8;
    if (!$met) { print STDERR "the program never met a full pipe on descriptor $full\n"; $status = 3 }
    exit $status')

# udp_socket: standard output a UDP socket on the loopback, connected to a
# listener that copies every datagram it receives to standard output. Its
# receive buffer holds more than the listing, so that nothing is dropped.
udp_socket=(perl -e 'use Socket; use POSIX ":sys_wait_h";
    socket(my $listener, PF_INET, SOCK_DGRAM, 0) or die;
    setsockopt($listener, SOL_SOCKET, 33, 1 << 22) or setsockopt($listener, SOL_SOCKET, SO_RCVBUF, 1 << 22);
    bind($listener, pack_sockaddr_in(0, inet_aton("127.0.0.1"))) or die;
    socket(my $sender, PF_INET, SOCK_DGRAM, 0) or die;
    connect($sender, getsockname($listener)) or die;
    my $pid = fork // die;
    if ($pid == 0) { close $listener; open(STDOUT, ">&", $sender) or die; exec @ARGV or die }
    close $sender;
    my ($exited, $status) = (0, 0);
    while (1) {
        my $ready = "";
        vec($ready, fileno($listener), 1) = 1;
        if (select($ready, undef, undef, 0.05)) {
            recv($listener, my $datagram, 65536, 0) // die;
            syswrite(STDOUT, $datagram);
        } elsif ($exited) {
            last;
        } elsif (waitpid($pid, WNOHANG) > 0) {
            ($exited, $status) = (1, ($? & 127) ? 128 + ($? & 127) : $? >> 8);
        }
    }
    exit $status')
}

# without_dev_null: in a private mount namespace with an empty /dev, as a
# container or chroot may have it. Rows that need it skip, saying so, where no
# mount namespace can be made.
# shellcheck disable=SC2016,SC2034 # expanded by the inner shell; used through eval
without_dev_null=(unshare --mount "${userns[@]}" -- bash -c 'mount -t tmpfs tmpfs /dev && exec "$@"' without-dev-null)
no_namespace=$(no_mount_namespace)

# The stand-in's file for a source that keeps a writable descriptor: it takes
# the number of a standard descriptor closed at start, and nothing may go into it.
held=$work/held
"${capped[@]}" "${lister[@]}" >"$work/plain"
echo "$name: write error: No space left on device" >"$work/disk-full"
skipped="$name: skipped $([[ $name == kinroll ]] && echo group || echo user) 424242: a field holds a newline"
# The many records into a file: in writes of 64 KiB, the last one short, and
# one more where a message makes it write what it holds.
listing_writes=$(($(wc -c <"$work/many.records") / 65536 + 2))
# The same in datagrams of 40 bytes: pieces of 32 once the 11 halvings from
# 64 KiB have failed, and at each buffer's end a piece or two more.
datagram_writes=$(($(wc -c <"$work/many.records") / 32 + 3 * listing_writes + 11))
# Messages in datagrams of 55 bytes: one write each, but for the 59 bytes of
# the one for ID 4294967295, which fails and then goes in three pieces.
newline_messages=$here/crafted/$name/newline.err
newline_writes=$(($(wc -l <"$newline_messages") + 3))

# at_most WHAT MOST COUNT: fails where COUNT is over MOST, unless MOST is "-".
at_most() {
    [[ $2 == - ]] || (($3 <= $2)) || fail "$label: $3 write calls to $1, expected at most $2"
}

# case | how the program is run | exit status | standard error (its one line, or a file that holds it)
# | standard output (a file that holds it)
# | most write calls to standard output and to standard error, as the stand-in counts them, "-" for
#   no limit: "2000 0" allows 2,000 writes to standard output and none to standard error. A program
#   that waits for a non-blocking pipe makes about two for each 4 KiB its reader takes; one that
#   spins, thousands.
# Where the stand-in opens the enumeration, standard input must be as the row leaves it: closed
# where the command closes it (<&-), open otherwise.
while IFS='|' read -r label command expected_status expected_err expected_out most_writes; do
    label=$(trim "$label") expected_status=$(trim "$expected_status") expected_err=$(trim "$expected_err")
    expected_out=$(trim "$expected_out")
    if [[ $command == *without_dev_null* && -n $no_namespace ]]; then
        echo "skipped: $label: $no_namespace"
        continue
    fi
    rm -f "$work/calls" "$work/writes" "$held"
    # In a subshell of its own: where the program exceeds the size limit in the
    # file of its standard error, the shell's notice of that goes there too.
    (eval "\"\${capped[@]}\" $command") >"$work/out" 2>"$work/err"
    same_status "$label" "$expected_status" $?
    : >"$work/expected-err"
    if [[ -f $expected_err ]]; then
        cp "$expected_err" "$work/expected-err"
    elif [[ -n $expected_err ]]; then
        echo "$expected_err" >"$work/expected-err"
    fi
    same_bytes "$label: standard error" "$work/expected-err" "$work/err"
    [[ -n $expected_out ]] && same_bytes "$label: standard output" "$expected_out" "$work/out"
    [[ -s $held ]] && fail "$label: $(wc -c <"$held") bytes went into the descriptor of a source"
    [[ -f $work/calls ]] && check_calls "$label" "$expected_out"
    if [[ -f $work/writes ]]; then
        while read -r _ descriptor count; do
            fail "$label: $count writes to descriptor $descriptor tried again at the size that had just failed"
        done < <(grep '^repeated' "$work/writes")
        read -r most_stdout most_stderr <<<"${most_writes:-- -}"
        at_most "standard output" "$most_stdout" "$(sed -n 's/^stdout //p' "$work/writes")"
        at_most "standard error" "$most_stderr" "$(sed -n 's/^stderr //p' "$work/writes")"
        stdin=$(sed -n 's/^stdin //p' "$work/writes") expected_stdin=open
        [[ $command == *'<&-'* ]] && expected_stdin=closed
        [[ -z $stdin || $stdin == "$expected_stdin" ]] ||
            fail "$label: standard input $stdin when the enumeration opened, expected $expected_stdin"
    elif [[ -n ${most_writes// /} ]]; then
        fail "$label: the stand-in counted no write calls"
    fi
done <<TABLE
disk full                                | "\${lister[@]}" >/dev/full                            | 1   | $name: write error: No space left on device
stdout closed                            | "\${lister[@]}" >&-                                   | 1   | $name: write error: Bad file descriptor
reader gone                              | "\${broken_pipe[@]}" DEFAULT "\${lister[@]}"         | 141 |
reader gone, SIGPIPE ignored             | "\${broken_pipe[@]}" IGNORE "\${lister[@]}"          | 1   | $name: write error: Broken pipe
disk full mid-listing                    | "\${many[@]}" "\${lister[@]}" >/dev/full              | 1   | $name: write error: No space left on device
reader gone mid-listing, SIGPIPE ignored | "\${broken_pipe[@]}" IGNORE "\${many[@]}" "\${lister[@]}" | 1 | $name: write error: Broken pipe
short writes                             | "\${many[@]}" FAKE_WRITE_MAX=1000 "\${lister[@]}"     | 0   | | $work/many.records
interrupted writes                       | "\${many[@]}" FAKE_WRITE_EINTR=1 "\${lister[@]}"      | 0   | | $work/many.records
short and interrupted writes             | "\${many[@]}" FAKE_WRITE_MAX=999 FAKE_WRITE_EINTR=1 "\${lister[@]}" | 0 | | $work/many.records
writes that take nothing                 | "\${many[@]}" FAKE_WRITE_ZERO=1 "\${lister[@]}"       | 1   | $name: write error: No space left on device
close of stdout fails                    | "\${many[@]}" FAKE_CLOSE_EIO=1 "\${lister[@]}"        | 1   | $name: write error: Input/output error | $work/many.records
disk full, then the close fails too      | "\${many[@]}" FAKE_CLOSE_EIO=1 "\${lister[@]}" >/dev/full | 1 | $name: write error: No space left on device
non-blocking pipe, slow late reader      | "\${nonblocking_pipe[@]}" out 0.3 "\${many[@]}" "\${lister[@]}" | 0 | | $work/many.records | 2000 0
non-blocking pipe, stalled reader        | "\${nonblocking_pipe[@]}" out 1 "\${few[@]}" "\${lister[@]}"  | 0 | | $work/few.records | 100 0
non-blocking pipe, interrupted waits     | "\${nonblocking_pipe[@]}" out 0.3 "\${many[@]}" FAKE_POLL_EINTR=1 "\${lister[@]}" | 0 | | $work/many.records | 2000 0
both outputs on a non-blocking pipe      | "\${nonblocking_pipe[@]}" both 0.3 "\${skip[@]}" "\${lister[@]}" | 1 | | $work/skip.out | 2000 4
stderr a full non-blocking pipe, disk full | "\${nonblocking_pipe[@]}" err 0.3 "\${many[@]}" "\${lister[@]}" | 1 | | $work/disk-full | 1 4
stdout a UDP socket                      | "\${udp_socket[@]}" "\${few[@]}" "\${lister[@]}"     | 0   | | $work/few.records
stdout in datagrams of 40 bytes, stderr a file | "\${skip[@]}" FAKE_WRITE_DATAGRAM=1:40 "\${lister[@]}" | 1 | $skipped | $work/many.records | $datagram_writes 1
stderr in datagrams of 40 bytes, stdout a file | "\${skip[@]}" FAKE_WRITE_DATAGRAM=2:40 "\${lister[@]}" | 1 | $skipped | $work/many.records | $listing_writes 4
stderr in datagrams of 55 bytes, a longer message first | "\${newline[@]}" FAKE_WRITE_DATAGRAM=2:55 "\${lister[@]}" | 1 | $newline_messages | $here/crafted/$name/newline.out | - $newline_writes
stdout closed, a source holds a file     | "\${many[@]}" FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" >&- | 1 | $name: write error: Bad file descriptor
stderr closed, a source holds a file     | "\${newline[@]}" FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" 2>&- | 1 | | $here/crafted/$name/newline.out
stdin and stderr closed, a source holds a file | "\${newline[@]}" FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" <&- 2>&- | 1 | | $here/crafted/$name/newline.out
stdin closed, a source holds a file      | "\${few[@]}" FAKE_ACCOUNTS_HOLD=$held "\${lister[@]}" <&-   | 0   | | $work/few.records
no /dev/null, stdin closed               | "\${without_dev_null[@]}" "\${few[@]}" "\${lister[@]}" <&- | 0 | | $work/few.records
no /dev/null, stderr closed              | "\${without_dev_null[@]}" "\${lister[@]}" 2>&-        | 1   | | /dev/null
no /dev/null, stdin and stderr closed    | "\${without_dev_null[@]}" "\${lister[@]}" <&- 2>&-    | 1   | | /dev/null
TABLE

# Arguments and standard input change nothing.
while IFS='|' read -r label command; do
    label=$(trim "$label")
    (eval "\"\${capped[@]}\" $command") >"$work/out" 2>"$work/err"
    same_status "$label" 0 $?
    same_bytes "$label" "$work/plain" "$work/out"
    [[ -s $work/err ]] && fail "$label: standard error not empty"
done <<'TABLE'
help requested        | "${lister[@]}" --help
options and operands  | "${lister[@]}" -v -- /etc/passwd x
stdin closed          | "${lister[@]}" <&-
stdin at end          | "${lister[@]}" </dev/null
TABLE
finish

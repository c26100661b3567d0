#!/bin/bash
# skip-reasons.sh BUILD_DIR
# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST): names each test that
# skipped, or left a part out, and the reason it gave, which ctest itself does
# not show. Every test of this suite says why on a line that begins with
# "skipped: ".
set -uo pipefail
(($# == 1)) || { echo "usage: skip-reasons.sh BUILD_DIR, as in tests/skip-reasons.sh build" >&2; exit 2; }
log=$1/Testing/Temporary/LastTest.log.tmp
[[ -f $log ]] || log=$1/Testing/Temporary/LastTest.log
[[ -f $log ]] || exit 0
reasons=$(awk '/^[0-9]+\/[0-9]+ Test: / { test = $3 } /^skipped: / { print "  " test ": " substr($0, 10) }' "$log" | sort)
if [[ -n $reasons ]]; then
    echo "Skipped, and why:"
    echo "$reasons"
fi
exit 0

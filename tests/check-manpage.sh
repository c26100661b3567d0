#!/bin/bash
# check-manpage.sh PAGE
# The manual page renders without a single groff warning.
set -uo pipefail
page=$1
warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$page" 2>&1)
if [[ -n $warnings ]]; then
    echo "FAIL: $page renders with warnings:" >&2
    echo "$warnings" >&2
    exit 1
fi

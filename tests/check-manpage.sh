#!/bin/bash
# check-manpage.sh PAGE VERSION
# The manual page renders without a single groff warning, and its header names
# the project's version, the one in debian/changelog.
set -uo pipefail
page=$1 version=$2
command -v groff >/dev/null || { echo "skipped: groff is not installed (Debian package groff-base)"; exit 77; }
warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$page" 2>&1)
if [[ -n $warnings ]]; then
    echo "FAIL: $page renders with warnings:" >&2
    echo "$warnings" >&2
    exit 1
fi
header=$(grep -m1 '^\.TH ' "$page")
if [[ $header != *"\"accountrolls $version\""* ]]; then
    echo "FAIL: $page's header is '$header', expected it to name \"accountrolls $version\"" >&2
    exit 1
fi

#!/bin/bash
# check-manpage.sh PAGE CHANGELOG
# The manual page, as the build makes it, renders without a single groff
# warning, and its header names the version and date of the newest entry of
# CHANGELOG (debian/changelog), where a release sets them.
set -uo pipefail
page=$1 changelog=$2
command -v groff >/dev/null || { echo "skipped: groff is not installed (Debian package groff-base)"; exit 77; }
warnings=$(LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 "$page" 2>&1)
if [[ -n $warnings ]]; then
    echo "FAIL: $page renders with warnings:" >&2
    echo "$warnings" >&2
    exit 1
fi
# "accountrolls (1.2.0) unstable; ..." and " -- NAME <ADDRESS>  Tue, 08 Dec 2026 15:00:00 +0000"
version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$changelog")
date=$(sed -n '/^ -- /{s/.*>  [A-Z][a-z]*, \([0-9]* [A-Z][a-z]* [0-9]*\) .*/\1/p;q}' "$changelog")
date=$(date -d "$date" +%F) || exit 1
header=$(grep -m1 '^\.TH ' "$page")
if [[ $header != *" $date \"accountrolls $version\""* ]]; then
    echo "FAIL: $page's header is '$header', expected it to name $date and \"accountrolls $version\"" >&2
    exit 1
fi

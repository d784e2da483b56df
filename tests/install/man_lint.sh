#!/usr/bin/env bash
# Every manual page formats with no warning at all: groff -t -ww (tables
# through tbl, as man does) prints nothing.
set -euo pipefail
groff=$1 pages=$2
status=0
for page in "$pages"/*.[15]; do
  complaints=$(LC_ALL=C.UTF-8 "$groff" -t -ww -b -z -man -Tutf8 "$page" 2>&1) || status=1
  if [ -n "$complaints" ]; then
    printf '%s:\n%s\n' "$page" "$complaints"
    status=1
  fi
done
count=$(ls "$pages"/*.[15] | wc -l)
[ "$count" -eq 6 ] || { echo "expected 6 pages, found $count"; status=1; }
exit $status

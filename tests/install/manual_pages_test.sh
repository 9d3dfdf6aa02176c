#!/usr/bin/env bash
# The manual pages render without warnings and say how the Windows build differs.
# That they hold every message of the tools exactly as the tools print it is
# checked against the code's catalogues by messages_test.py.
# Usage: manual_pages_test.sh SOURCE_DIR
set -euo pipefail

source=$1
command -v man >/dev/null || { echo "man is not installed (package man-db)"; exit 1; }

render() { MANWIDTH=1000 man -l "$source/man/$1.1" 2>/dev/null | col -b | sed 's/^ *//'; }

status=0
for page in zelkor zelkor-inspect; do
    warnings=$(MANWIDTH=80 man --warnings -l "$source/man/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page.1: $warnings"; status=1; }
done

# Both pages say how the Windows build differs, extract's name rules included.
for page in zelkor zelkor-inspect; do
    rendered=$(render "$page")
    grep -qx WINDOWS <<<"$rendered" || { echo "$page.1 has no WINDOWS section"; status=1; }
done
grep -q 'COM1 to COM9, LPT1 to LPT9' <<<"$(render zelkor-inspect | tr '\n' ' ')" ||
    { echo "zelkor-inspect.1 does not name the device names extract refuses on Windows"; status=1; }

exit $status

#!/usr/bin/env bash
# The manual pages render without warnings, and every message of the tools
# appears in them exactly as the tools print it, spaces included (macros such as
# .BI drop the spaces between their arguments unless quoted).
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

zelkor=$(render zelkor)
while IFS= read -r text; do
    [ -n "$text" ] || continue
    grep -qxF -- "$text" <<<"$zelkor" || { echo "zelkor.1 lacks the line: $text"; status=1; }
done <<'TEXTS'
Cannot compress SOURCE!
ARCHIVE not written: none of its N files could be stored!
Cannot store SOURCE!
ARCHIVE cannot pass 4 GiB; a VolumeSize attribute splits it into volumes!
ARCHIVE has its 256 volumes; a larger VolumeSize holds more!
Cannot create PATH!
Cannot read key seed PATH!
Cannot read patch base BASE!
Patch base BASE has no key file KEY, which holds its names!
Cannot scan DIR!
Cannot write PATH!
Cannot use cache DIR!
Cache DIR held a damaged entry KEY!
Cache DIR held a damaged entry KEY!
ZELKOR_CACHE_SIZE="VALUE" is not a size, taken as 5G!
ZELKOR_CACHE_TRUST_HOURS="VALUE" is not a number of hours, taken as 24!
ZELKOR_THREADS="VALUE" is not a number of threads, taken as one per hardware thread!
ZELKOR_MEMORY="VALUE" is not a size, taken as half the memory!
Cannot use remote cache URL!
Remote cache URL sent a damaged entry KEY!
ZELKOR_REMOTE_CACHE_MODE="VALUE" is not read-only or read-write, taken as read-only!
ZELKOR_REMOTE_CACHE_TIMEOUT="VALUE" is not a number of seconds, taken as 10!
SCRIPT(LINE): Ignore pattern PATTERN matched nothing!
SCRIPT(LINE): ArchivedPath NAME names the same entry as line FIRST!
SCRIPT(LINE): ArchivedPath NAME has the name hash of OTHER (line FIRST)!
SCRIPT(LINE): unknown element <NAME> ignored!
SCRIPT(LINE): unknown attribute NAME of <ELEMENT> ignored!
SCRIPT(LINE): BuildKeyfile="VALUE" is not true or false, taken as false!
SCRIPT(LINE): Level="VALUE" is not a level from 1 to 12, taken as 9!
SCRIPT(LINE): VolumeSize="VALUE" is not a size of 1 to 4294967276 bytes, taken as absent!
SCRIPT(LINE): attribute NAME repeated, the first one used!
PATH: cannot open file
PATH(LINE): REASON
PATH: script too large
Cannot write standard output!
No such node (ScriptFile)
No such node (<xmlattr>.NAME)
Strict mode: ARCHIVE not written!
An unknown exception was thrown!
TEXTS
exit $status

#!/usr/bin/env bash
# The bundled example, as `make demo` runs it, with the Windows programs under
# Wine (scripts/wine-run): the generate script and the hand-written pack
# script, then the generated script; both archives verified, the main one
# listed and drawn as a page.
# Usage: windows_demo_test.sh WINDOWS_BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(realpath "$1")
source=$(realpath "$2")
run="$source/scripts/wine-run"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/build/demo"
cp -r "$source/examples" "$work/"
cd "$work"
step() { # DESCRIPTION PROGRAM ARGUMENT...
    local what=$1
    shift
    if ! "$run" "$@" >"$work/out" 2>"$work/err"; then
        echo "$what failed:"
        cat "$work/out" "$work/err"
        exit 1
    fi
}
step "the generate and pack scripts" "$build/zelkor.exe" examples/generate.xml examples/pack.xml
step "the generated script" "$build/zelkor.exe" build/demo/assets.xml
for file in assets.xml assets.pak assets.pak.zlk config.pak; do
    [ -s "build/demo/$file" ] || { echo "missing after the demo: build/demo/$file"; exit 1; }
done
step "verify assets.pak" "$build/zelkor-inspect.exe" verify build/demo/assets.pak
grep -q "all intact" "$work/out" || { echo "verify assets.pak:"; cat "$work/out"; exit 1; }
step "verify config.pak" "$build/zelkor-inspect.exe" verify build/demo/config.pak
grep -q "all intact" "$work/out" || { echo "verify config.pak:"; cat "$work/out"; exit 1; }
step "list assets.pak" "$build/zelkor-inspect.exe" list build/demo/assets.pak
grep -q "data/textures/logo.png" "$work/out" || { echo "list assets.pak:"; cat "$work/out"; exit 1; }
step "report assets.pak" "$build/zelkor-inspect.exe" report build/demo/assets.pak
grep -q "<html" build/demo/assets.pak.html || { echo "no page at build/demo/assets.pak.html"; exit 1; }
echo "the example ran under Wine"

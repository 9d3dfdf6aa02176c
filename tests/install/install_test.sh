#!/usr/bin/env bash
# Installs the build into a staging directory, as `make install DESTDIR=...`
# does, and runs the installed programs on the bundled example: the generated
# script, the archive it builds, and its verification. The manual pages must
# render without warnings.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
prefix="$stage/usr/local"
for file in bin/zelkor bin/zelkor-inspect share/man/man1/zelkor.1 share/man/man1/zelkor-inspect.1 \
            share/doc/zelkor/README.md share/doc/zelkor/format.md \
            share/bash-completion/completions/zelkor share/bash-completion/completions/zelkor-inspect; do
    [ -e "$prefix/$file" ] || { echo "missing after install: $file"; exit 1; }
done

work="$stage/work"
mkdir -p "$work/build/demo"
cp -r "$source/examples" "$work/"
cd "$work"
"$prefix/bin/zelkor" examples/generate.xml examples/pack.xml >/dev/null
"$prefix/bin/zelkor" build/demo/assets.xml >/dev/null
"$prefix/bin/zelkor-inspect" verify build/demo/assets.pak | grep -q "all intact"
"$prefix/bin/zelkor-inspect" verify build/demo/config.pak | grep -q "all intact"
"$prefix/bin/zelkor" --version | grep -q "^zelkor 2\.5\."

if command -v man >/dev/null; then
    for page in zelkor zelkor-inspect; do
        warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page.1: $warnings"; exit 1; }
    done
fi
bash -n "$prefix/share/bash-completion/completions/zelkor"
bash -n "$prefix/share/bash-completion/completions/zelkor-inspect"
echo "installed and ran the example from $prefix"

#!/usr/bin/env bash
# Installs the build into a staging directory, as `make install DESTDIR=...`
# does, and runs the installed programs on the bundled example: the generated
# script, the archive it builds, and its verification. The manual pages must
# render without warnings. The reader library's files must be there too
# (tests/consumer builds programs against them).
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
prefix="$stage/usr/local"
for file in bin/zelkor bin/zelkor-inspect share/man/man1/zelkor.1 share/man/man1/zelkor-inspect.1 \
            share/doc/zelkor/README.md share/doc/zelkor/format.md share/doc/zelkor/volume-sets.md \
            share/doc/zelkor/patches.md share/doc/zelkor/scripts.md share/doc/zelkor/messages.md \
            share/doc/zelkor/inspect.md share/doc/zelkor/cache.md share/doc/zelkor/reproducible-builds.md \
            share/doc/zelkor/security.md share/doc/zelkor/performance.md share/doc/zelkor/windows.md \
            share/bash-completion/completions/zelkor share/bash-completion/completions/zelkor-inspect \
            include/zelkor/zelkor.h lib/libzelkor-reader.so.1.1.0 lib/libzelkor-reader.so.1 lib/libzelkor-reader.so \
            lib/libzelkor-reader.a lib/pkgconfig/zelkor-reader.pc lib/cmake/Zelkor/ZelkorConfig.cmake \
            lib/cmake/Zelkor/ZelkorConfigVersion.cmake share/doc/zelkor/library.md; do
    [ -e "$prefix/$file" ] || { echo "missing after install: $file"; exit 1; }
done
# The library's links: the development name to the SONAME, the SONAME to the file.
[ "$(readlink "$prefix/lib/libzelkor-reader.so")" = libzelkor-reader.so.1 ] &&
    [ "$(readlink "$prefix/lib/libzelkor-reader.so.1")" = libzelkor-reader.so.1.1.0 ] ||
    { echo "libzelkor-reader.so's links are not .so -> .so.1 -> .so.1.1.0"; exit 1; }
version=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion zelkor-reader)
grep -q "define ZLK_VERSION_STRING \"$version\"" "$prefix/include/zelkor/zelkor.h" ||
    { echo "zelkor-reader.pc says version $version, zelkor.h does not"; exit 1; }

work="$stage/work"
mkdir -p "$work/build/demo"
cp -r "$source/examples" "$work/"
cd "$work"
"$prefix/bin/zelkor" examples/generate.xml examples/pack.xml >/dev/null
"$prefix/bin/zelkor" build/demo/assets.xml >/dev/null
"$prefix/bin/zelkor-inspect" verify build/demo/assets.pak | grep "all intact" >/dev/null
"$prefix/bin/zelkor-inspect" verify build/demo/config.pak | grep "all intact" >/dev/null
"$prefix/bin/zelkor" --version | grep "^zelkor 2\.5\." >/dev/null

if command -v man >/dev/null; then
    for page in zelkor zelkor-inspect; do
        warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page.1: $warnings"; exit 1; }
    done
fi
bash -n "$prefix/share/bash-completion/completions/zelkor"
bash -n "$prefix/share/bash-completion/completions/zelkor-inspect"
echo "installed and ran the example from $prefix"

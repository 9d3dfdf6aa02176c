#!/usr/bin/env bash
# The same bytes from both systems: one tree (nested directories, names that
# differ only in case, a non-ASCII name, an empty file) scanned into a script
# with a KeySeedPath, and the script packed, once by the Linux tools and once by
# the Windows tools under Wine, each in a copy of its own. The generated
# scripts, the archives and the key files must be byte-identical.
# Usage: windows_same_bytes_test.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR SOURCE_DIR
set -euo pipefail

windows=$(realpath "$1")
linux=$(realpath "$2")
source=$(realpath "$3")
if [ ! -x "$linux/zelkor" ]; then
    echo "no Linux build at $linux/zelkor to compare with: run make build first"
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tree="$work/tree"
mkdir -p "$tree/assets/levels/deep" "$tree/assets/ui" "$tree/keys"
cp -r "$source/examples/assets/." "$tree/assets/"
printf 'level three\n' >"$tree/assets/levels/deep/level3.txt"
printf 'Größe\n' >"$tree/assets/ui/Größe.txt"
printf 'upper\n' >"$tree/assets/ui/Menu.txt"
printf 'lower\n' >"$tree/assets/ui/menu.dat"
: >"$tree/assets/ui/empty.bin"
head -c 100000 /dev/zero | tr '\0' 'z' >"$tree/assets/levels/zeros.txt"
printf '0123456789abcdef0123456789abcdef-a seed for both systems\n' >"$tree/keys/seed.bin"
cat >"$tree/generate.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<ScriptFile>
  <CreateOrvanPackXml Input="assets:data" XmlPath="out/assets.xml" ArchivePath="out/assets.pak"
                      BuildKeyfile="true" KeyPath="out/assets.zlk" KeySeedPath="keys/seed.bin">
    <Ignore Pattern="*.psd"/>
  </CreateOrvanPackXml>
</ScriptFile>
XML
mkdir -p "$tree/out"
cp -r "$tree" "$work/on-linux"
cp -r "$tree" "$work/on-windows"

(cd "$work/on-linux" && "$linux/zelkor" generate.xml >/dev/null && "$linux/zelkor" out/assets.xml >/dev/null)
(cd "$work/on-windows" && "$source/scripts/wine-run" "$windows/zelkor.exe" generate.xml >/dev/null &&
     "$source/scripts/wine-run" "$windows/zelkor.exe" out/assets.xml >/dev/null)

failed=0
for file in out/assets.xml out/assets.pak out/assets.zlk; do
    if ! cmp "$work/on-linux/$file" "$work/on-windows/$file"; then
        echo "$file differs between Linux and Windows"
        failed=1
    fi
done
grep -q 'Größe.txt' "$work/on-windows/out/assets.xml" || { echo "the non-ASCII name is missing"; failed=1; }
[ $failed = 0 ] && echo "the same script, archive and key file on both systems"
exit $failed

#!/usr/bin/env bash
# Builds programs against the INSTALLED reader library, as a game does, outside
# the tree's build, and runs them on an archive that the installed zelkor packs
# (with a key file) from a small tree: tests/consumer/consumer.c must read every
# entry back equal to its source, by path, through case and separator variants.
#
# Usage: consumer_test.sh MODE SOURCE_DIR --build BUILD_DIR   (a staged install of the build)
#        consumer_test.sh MODE SOURCE_DIR --prefix PREFIX     (an installation: PREFIX/bin/zelkor,
#                                                              the library below PREFIX/lib)
# MODE:
#   pkg-config  cc -std=c99 -Wall -Wextra -pedantic -Werror with pkg-config's flags
#   cmake       find_package(Zelkor CONFIG) through CMAKE_PREFIX_PATH: Zelkor::reader and
#               Zelkor::reader_static
#   readme      the C example of the README's "Reading archives from a game", as it stands
#   windows     the Windows build's installation: the consumer cross-built with mingw against the
#               DLL and the static library (with pkg-config, then with the CMake package), the
#               archive packed by zelkor.exe, everything run under Wine. WINDOWS_DEPS names the
#               Windows libraries (LZ4, xxHash, Crypto++) that the static library needs.
# CC (default cc) is the C compiler of the Linux modes.
set -euo pipefail
# Pipes end in a grep that reads its whole input: under pipefail, grep -q's early
# exit can fail the command writing into the pipe (SIGPIPE), by chance.

mode=${1:?usage: $0 MODE SOURCE_DIR --build BUILD_DIR | --prefix PREFIX}
source=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case "$3" in
    --build)
        # Staged below another root, so that only the files' own relative paths
        # can lead to each other (the .pc file and the CMake package are relocatable).
        DESTDIR="$work/stage" cmake --install "$(realpath "$4")" --prefix /opt/zelkor >/dev/null
        prefix="$work/stage/opt/zelkor" ;;
    --prefix)
        prefix=$(realpath "$4") ;;
    *) echo "usage: $0 MODE SOURCE_DIR --build BUILD_DIR | --prefix PREFIX" >&2; exit 2 ;;
esac

fail() { echo "consumer_test ($mode): $*" >&2; exit 1; }

# The tree, deterministic: text, a compressible map, noise that stays raw (ranges
# are read from it), the sizes around one cipher block, an empty file, names
# with upper case and spaces, deep folders.
python3 - "$work/tree" <<'EOF'
import os, random, sys
root = sys.argv[1]
noise = random.Random(32)
files = {
    "config/settings.json": b'{"volume": 7, "language": "en"}\n',
    "Textures/Hero.PNG": bytes(noise.getrandbits(8) for _ in range(70000)),
    "sounds/Theme Song.ogg": bytes(noise.getrandbits(8) for _ in range(150001)),
    "maps/Level 1/Layout.bin": b"".join(b"tile %05d grass\n" % (i % 977) for i in range(20000)),
    "empty.txt": b"",
    "one.bin": b"\x01",
    "block16.bin": bytes(range(16)),
    "block17.bin": bytes(range(17)),
    "a/b/c/d/Deep Note.txt": b"deep\n" * 50,
}
for name, content in files.items():
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(content)
with open(os.path.join(root, "..", "paths.txt"), "w") as out:
    out.write("".join(name + "\n" for name in files))
EOF
{
    echo '<ScriptFile>'
    echo '  <CreateOrvanPack ArchivePath="game.pak" BuildKeyfile="true" Store="*.ogg">'
    while read -r path; do
        echo "    <File ArchivedPath=\"$path\"><![CDATA[tree/$path]]></File>"
    done <"$work/paths.txt"
    echo '  </CreateOrvanPack>'
    echo '</ScriptFile>'
} >"$work/pack.xml"
cd "$work"

# pack ZELKOR_COMMAND...: packs the tree into game.pak and game.pak.zlk.
pack() {
    "$@" pack.xml >pack.out 2>&1 || { cat pack.out; fail "packing the tree failed"; }
    [ -s game.pak ] && [ -s game.pak.zlk ] || fail "no archive or key file after packing"
}

# The C flags of every consumer build: C99 as a game's C code is, warnings as errors.
c_flags=(-std=c99 -Wall -Wextra -pedantic -Werror)
cc=${CC:-cc}

# needs_library PROGRAM DIR [LIBRARY_PATH]: the program loads libzelkor-reader.so.1
# from DIR (with LD_LIBRARY_PATH=LIBRARY_PATH), not from anywhere else.
needs_library() {
    local resolved
    resolved=$(LD_LIBRARY_PATH=${3:-} ldd "$1" | sed -n 's/^[[:space:]]*libzelkor-reader\.so\.1 => \([^ ]*\) .*/\1/p')
    [ "$(realpath "${resolved:-/nonexistent}" 2>/dev/null)" = "$(realpath "$2/libzelkor-reader.so.1")" ] ||
        fail "$1 loads libzelkor-reader.so.1 from '${resolved:-nowhere}', not from $2"
}

run_consumer() { # PROGRAM [RUNNER...]
    local program=$1
    shift
    "$@" "$program" game.pak game.pak.zlk tree paths.txt >consumer.out 2>&1 ||
        { cat consumer.out; fail "$program failed"; }
    grep -q "^consumer: $(wc -l <paths.txt) entries read back equal" consumer.out ||
        { cat consumer.out; fail "$program did not read every entry"; }
}

# The README's C example: the first ```c block after its heading.
readme_example() {
    awk '/^## Reading archives from a game/ { section = 1 }
         section && /^```c$/ { inside = 1; next }
         inside && /^```$/ { exit }
         inside { print }' "$source/README.md" >example.c
    [ -s example.c ] || fail "no C example in the README's section \"Reading archives from a game\""
}

case "$mode" in
    pkg-config|readme)
        pack "$prefix/bin/zelkor"
        export PKG_CONFIG_PATH
        PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name zelkor-reader.pc | head -n 1)")
        libdir=$(pkg-config --variable=libdir zelkor-reader)
        if [ "$mode" = pkg-config ]; then
            # shellcheck disable=SC2046
            "$cc" "${c_flags[@]}" $(pkg-config --cflags zelkor-reader) "$source/tests/consumer/consumer.c" \
                -o consumer $(pkg-config --libs zelkor-reader)
            needs_library ./consumer "$libdir" "$libdir"
            run_consumer ./consumer env LD_LIBRARY_PATH="$libdir"
        else
            readme_example
            # Optimised too, for the warnings that only optimisation finds.
            # shellcheck disable=SC2046
            "$cc" "${c_flags[@]}" -O2 $(pkg-config --cflags zelkor-reader) example.c -o example \
                $(pkg-config --libs zelkor-reader)
            export LD_LIBRARY_PATH="$libdir"
            ./example game.pak game.pak.zlk "Maps\\LEVEL 1\\layout.bin" >example.out 2>&1 ||
                { cat example.out; fail "the README's example failed"; }
            size=$(stat -c %s "tree/maps/Level 1/Layout.bin")
            grep -q ": $size bytes" example.out || { cat example.out; fail "the README's example did not print $size"; }
            if ./example game.pak game.pak.zlk no/such/file >example.out 2>&1 || ! grep -q "not found" example.out; then
                cat example.out
                fail "the README's example did not report a path that is not there"
            fi
        fi ;;
    cmake)
        pack "$prefix/bin/zelkor"
        CC=$cc cmake -S "$source/tests/consumer" -B consumer-build -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_PREFIX_PATH="$prefix" >cmake.out 2>&1 || { cat cmake.out; fail "configuring failed"; }
        cmake --build consumer-build >>cmake.out 2>&1 || { cat cmake.out; fail "building failed"; }
        libdir=$(dirname "$(find "$prefix" -name 'libzelkor-reader.so.1' | head -n 1)")
        needs_library consumer-build/consumer_shared "$libdir"
        run_consumer consumer-build/consumer_shared
        if objdump -p consumer-build/consumer_static | grep 'NEEDED.*libzelkor-reader' >/dev/null; then
            fail "consumer_static needs the shared library"
        fi
        run_consumer consumer-build/consumer_static ;;
    windows)
        deps=$(realpath "${WINDOWS_DEPS:?WINDOWS_DEPS names the Windows libraries}")
        wine_run="$source/scripts/wine-run"
        mingw=x86_64-w64-mingw32-gcc-posix
        pack "$wine_run" "$prefix/bin/zelkor.exe"
        export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=
        # Against the DLL through its import library, the DLL beside the program.
        # shellcheck disable=SC2046
        $mingw "${c_flags[@]}" $(pkg-config --cflags zelkor-reader) "$source/tests/consumer/consumer.c" \
            -o consumer.exe $(pkg-config --libs zelkor-reader)
        x86_64-w64-mingw32-objdump -p consumer.exe | grep 'DLL Name: libzelkor-reader.dll' >/dev/null ||
            fail "consumer.exe does not import libzelkor-reader.dll"
        cp "$prefix/bin/libzelkor-reader.dll" .
        "$source/scripts/check-windows-imports" consumer.exe libzelkor-reader.dll ||
            fail "consumer.exe or the DLL imports more than the system's DLLs"
        run_consumer consumer.exe "$wine_run"
        # Against the static library (ZLK_STATIC from pkg-config's --static), with
        # the libraries it needs where the game keeps them: no DLL of ours.
        # shellcheck disable=SC2046
        $mingw "${c_flags[@]}" $(pkg-config --static --cflags zelkor-reader) "$source/tests/consumer/consumer.c" \
            -o consumer-static.exe -static -L"$deps/lib" $(pkg-config --static --libs zelkor-reader)
        "$source/scripts/check-windows-imports" consumer-static.exe || fail "consumer-static.exe imports more than the system's DLLs"
        run_consumer consumer-static.exe "$wine_run"
        # find_package(Zelkor CONFIG) with the cross toolchain: both libraries.
        cmake -S "$source/tests/consumer" -B consumer-build -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" -DZELKOR_WINDOWS_DEPS="$deps" \
            -DZelkor_DIR="$prefix/lib/cmake/Zelkor" -DCMAKE_EXE_LINKER_FLAGS="-static -L$deps/lib" \
            >cmake.out 2>&1 || { cat cmake.out; fail "configuring with the cross toolchain failed"; }
        cmake --build consumer-build >>cmake.out 2>&1 || { cat cmake.out; fail "cross-building failed"; }
        cp libzelkor-reader.dll consumer-build/
        "$source/scripts/check-windows-imports" consumer-build/consumer_shared.exe consumer-build/libzelkor-reader.dll \
            consumer-build/consumer_static.exe || fail "a program built with the CMake package imports more than it may"
        run_consumer consumer-build/consumer_shared.exe "$wine_run"
        run_consumer consumer-build/consumer_static.exe "$wine_run" ;;
    *) fail "unknown mode" ;;
esac
echo "consumer_test ($mode): every entry read back through the installed library"

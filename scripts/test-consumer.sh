#!/bin/sh
# Builds tests/consumer, programs that use the init file library's C and C++
# interfaces (C++17 and C++20), the ways another project can take the library,
# and runs them.
#   test-consumer.sh BUILD_DIR
#     a Linux build: find_package against BUILD_DIR installed into a
#     temporary prefix, add_subdirectory of these sources, and pkg-config. The
#     subproject's install must not ship vlxinstall or its documents.
#   test-consumer.sh BUILD_DIR TOOLCHAIN_FILE EMULATOR
#     a cross build (mingw): find_package against its install, with the same
#     toolchain, the programs run through EMULATOR (Wine).
# In every way a header of the project that is not the library's must not be
# found.
set -eu
build=$1
toolchain=${2:-}
emulator=${3:-}
here=$(cd "$(dirname "$0")/.." && pwd)
consumer=$here/tests/consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-consumer: $*" >&2; exit 1; }
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$* failed"; }; }
run_all() {
  for program in consumer_c consumer_cpp consumer_cpp20; do
    [ -z "$emulator" ] || program=$program.exe
    (cd "$work" && $emulator "$1/$program") || fail "$program failed"
  done
}
only_public_headers() {
  ! cmake --build "$1" --target private_header >"$work/log" 2>&1 || fail "a private header was found"
  grep -q "platform/platform.h" "$work/log" || { cat "$work/log" >&2; fail "private_header failed otherwise"; }
}

prefix=$work/prefix
quiet cmake --install "$build" --prefix "$prefix"
[ -f "$prefix/bin/vlxinstall" ] || [ -f "$prefix/bin/vlxinstall.exe" ] || fail "the tool is not installed"
# The exported target carries nothing of the build: no empty link entry.
! grep -q 'LINK_ONLY:>' "$prefix"/lib/cmake/VlxInitFile/VlxInitFileTargets*.cmake ||
  fail "the exported target has an empty \$<LINK_ONLY:> entry"

echo "find_package:"
if [ -n "$toolchain" ]; then
  # The toolchain searches only its own root for packages: the package is named.
  quiet cmake -S "$consumer" -B "$work/found" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVlxInitFile_DIR="$prefix/lib/cmake/VlxInitFile"
else
  quiet cmake -S "$consumer" -B "$work/found" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
fi
quiet cmake --build "$work/found"
run_all "$work/found"
only_public_headers "$work/found"
[ -z "$toolchain" ] || exit 0

echo "add_subdirectory:"
quiet cmake -S "$consumer" -B "$work/sub" -G Ninja -DVLX_SOURCE_DIR="$here"
quiet cmake --build "$work/sub"
run_all "$work/sub"
only_public_headers "$work/sub"
quiet cmake --install "$work/sub" --prefix "$work/sub-prefix"
shipped=$(cd "$work/sub-prefix" && find . -type f | sort | tr '\n' ' ')
[ "$shipped" = "./bin/consumer_c ./bin/consumer_cpp ./bin/consumer_cpp20 " ] || fail "the parent's install ships $shipped"

echo "pkg-config:"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cflags=$(pkg-config --cflags vlx-initfile | sed "s/ *$//")
[ "$cflags" = "-I$prefix/include" ] || fail "pkg-config gives $cflags, not -I$prefix/include"
flags="-Wall -Wextra -Werror -pedantic"
# A C program links with the plain flags: the C++ runtime comes with them.
# shellcheck disable=SC2046,SC2086
quiet cc -std=c11 $flags -o "$work/consumer_c" "$consumer/consumer.c" $(pkg-config --cflags --libs vlx-initfile)
# shellcheck disable=SC2046,SC2086
quiet c++ -std=c++17 $flags -o "$work/consumer_cpp" "$consumer/consumer.cpp" $(pkg-config --cflags --libs vlx-initfile)
# shellcheck disable=SC2046,SC2086
quiet c++ -std=c++20 $flags -o "$work/consumer_cpp20" "$consumer/consumer20.cpp" $(pkg-config --cflags --libs vlx-initfile)
run_all "$work"
# shellcheck disable=SC2046,SC2086
! c++ -std=c++17 -o "$work/private" "$consumer/private_header.cpp" $(pkg-config --cflags --libs vlx-initfile) \
  >/dev/null 2>&1 || fail "a private header was found through pkg-config"

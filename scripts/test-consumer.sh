#!/bin/sh
# Builds tests/consumer, a program that uses the init file library's C and C++
# interfaces, the three ways another project can take the library, and runs
# it: find_package against BUILD_DIR installed into a temporary prefix,
# add_subdirectory of these sources, and pkg-config. The subproject's install
# must not ship vlxinstall or its documents.
# usage: test-consumer.sh BUILD_DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")/.." && pwd)
consumer=$here/tests/consumer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-consumer: $*" >&2; exit 1; }
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$* failed"; }; }
run_both() { (cd "$work" && "$1/consumer_c" && "$1/consumer_cpp"); }

prefix=$work/prefix
quiet cmake --install "$build" --prefix "$prefix"
[ -f "$prefix/bin/vlxinstall" ] || [ -f "$prefix/bin/vlxinstall.exe" ] || fail "the tool is not installed"

echo "find_package:"
quiet cmake -S "$consumer" -B "$work/found" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
quiet cmake --build "$work/found"
run_both "$work/found"

echo "add_subdirectory:"
quiet cmake -S "$consumer" -B "$work/sub" -G Ninja -DVLX_SOURCE_DIR="$here"
quiet cmake --build "$work/sub"
run_both "$work/sub"
quiet cmake --install "$work/sub" --prefix "$work/sub-prefix"
shipped=$(cd "$work/sub-prefix" && find . -type f | sort | tr '\n' ' ')
[ "$shipped" = "./bin/consumer_c ./bin/consumer_cpp " ] || fail "the parent's install ships $shipped"

echo "pkg-config:"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
flags="-Wall -Wextra -Werror -pedantic"
# shellcheck disable=SC2046,SC2086
quiet cc -std=c11 $flags -o "$work/consumer_c" "$consumer/consumer.c" $(pkg-config --cflags --static --libs vlx-initfile)
# shellcheck disable=SC2046,SC2086
quiet c++ -std=c++17 $flags -o "$work/consumer_cpp" "$consumer/consumer.cpp" $(pkg-config --cflags --libs vlx-initfile)
run_both "$work"

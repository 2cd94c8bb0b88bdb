#!/bin/sh
# Builds the release archives for Linux and Windows into OUT/dist with their
# SHA-256 sums. The archives are the same bytes from any clone, at any time,
# as any user: SOURCE_DATE_EPOCH (the time of the last commit unless set)
# fixes every time stamp, the linker's included; source paths are mapped
# away; scripts/pack-release.py fixes the archives' order, owners and modes.
# usage: release.sh OUT
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$1
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
configure="cmake -G Ninja -Wno-dev -S $here -DCMAKE_BUILD_TYPE=Release -DVLX_BUILD_TESTS=OFF"
map="-ffile-prefix-map=$here=."

$configure -B "$out/release-linux" -DCMAKE_CXX_FLAGS="$map" >/dev/null
cmake --build "$out/release-linux"
$configure -B "$out/release-windows" -DCMAKE_CXX_FLAGS="$map" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$out/release-windows"

rm -rf "$out/dist"
python3 "$here/scripts/pack-release.py" "$out/release-linux" "$out/dist"
python3 "$here/scripts/pack-release.py" "$out/release-windows" "$out/dist"
(cd "$out/dist" && sha256sum vlxinstall-* > SHA256SUMS && cat SHA256SUMS)

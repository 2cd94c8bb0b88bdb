#!/bin/sh
# Packs a build as its release archive, unpacks the archive into a fresh
# directory, places the tool from it into a fresh copy of the sample
# distribution and runs it there with no argument and the default answer: a
# complete installation from the artefact as a user gets it. The archive's
# vlxini then reads and changes the vlx.ini it wrote.
# usage: test-artefact.sh BUILD_DIR [EMULATOR...]
set -eu
build=$1
shift
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-artefact: $*" >&2; exit 1; }

archive=$(python3 "$here/scripts/pack-release.py" "$build" "$work/package")
[ -n "$archive" ] || fail "no archive was made"
echo "archive: $(basename "$archive")"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$archive")
top=$(ls -d "$work"/unpacked/vlxinstall-*)
tool=$(ls "$top"/bin/vlxinstall*)
editor=$(ls "$top"/bin/vlxini*)
[ -n "$editor" ] || fail "vlxini is missing from the archive"
[ -n "$(find "$top" -name README.md)" ] && [ -n "$(find "$top" -name LICENSE)" ] ||
  fail "README.md or LICENSE missing from the archive"
case "$tool" in *.exe) ;; *)
  for page in vlxinstall vlxini; do
    [ -f "$top/share/man/man1/$page.1" ] || fail "the manual page $page(1) is missing from the archive"
  done
esac

# The Windows executable must run on a bare system (it imports only DLLs of
# every Windows: ADVAPI32 for security descriptors) and show its version.
case "$tool" in *.exe)
  for program in "$tool" "$editor"; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/.*DLL Name: //p' | sort | tr '\n' ' ')
    [ "$dlls" = "ADVAPI32.dll KERNEL32.dll msvcrt.dll " ] || fail "$(basename "$program") imports $dlls"
  done
  version=$(basename "$top" | cut -d- -f2)
  [ "$(strings -el "$tool" | grep -A1 -x FileVersion | tail -1)" = "$version" ] ||
    fail "no version resource for $version"
esac

root=$work/root
cp -R "$here/examples/distribution" "$root"
cp "$tool" "$root/"
output=$(cd "$root" && printf '\n' | "$@" "./$(basename "$tool")" | tr -d '\r') || fail "the tool failed"
expected="Do you want a minimal startup instead of tavrel [No]: Vorlax 2.4.1 installed successfully"
[ "$output" = "$expected" ] || fail "unexpected output: $output"

for name in vlx vlxwin vlxcomp lintvet sigscan vlxrun testdrv; do
  cmp -s "$root/vlxcore-2.4.1/bin/$name.exe" "$root/bin/$name.exe" || fail "$name.exe not installed"
done
for name in start_minimal start_tavrel no_dot_vorlax; do
  cmp -s "$root/releases/9/$name.boot" "$root/bin/$name.boot" || fail "$name.boot not installed"
done
cmp -s "$root/releases/9/start_tavrel.boot" "$root/bin/start.boot" || fail "wrong start.boot"
cmp -s "$root/vlxcore-2.4.1/bin/vlx.ini" "$root/bin/vlx.ini" || fail "the two vlx.ini differ"
grep -qx 'Progname=vlx' "$root/bin/vlx.ini" || fail "vlx.ini is not as expected"
value=$(cd "$root/bin" && "$@" "$editor" get vlx.ini vorlax Progname | tr -d '\r') || fail "vlxini get failed"
[ "$value" = vlx ] || fail "vlxini read '$value'"
(cd "$root/bin" && "$@" "$editor" set vlx.ini vorlax Progname vlxw) || fail "vlxini set failed"
grep -qx 'Progname=vlxw' "$root/bin/vlx.ini" || fail "vlxini did not set the value"
echo "installed from $(basename "$archive"): ok"

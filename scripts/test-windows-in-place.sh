#!/bin/sh
# Runs the Windows tool under Wine over an installation whose bin refuses new
# files (the immutable attribute, chattr +i, which Wine meets as the
# ERROR_ACCESS_DENIED of a directory the user may not write), so that every
# file is written in place, and with a file size limit that a launcher
# outgrows: its in-place write fails part-way, the launcher gets its old bytes
# back (saved before the write), and the run goes on without it. Exits 77
# (skipped) where the file system has no such attribute.
# usage: test-windows-in-place.sh VLXINSTALL_EXE
set -eu
tool=$1
here=$(cd "$(dirname "$0")/.." && pwd)
name=test-windows-in-place
undo='chattr -i "$root/bin"'
. "$here/scripts/wine-host-test.sh"

wine "$tool" -s "$root" >"$work/out" 2>"$work/err" || fail "the first installation failed: $(cat "$work/err")"
chattr +i "$root/bin" 2>/dev/null ||
  skip "the file system of $work has no attribute that makes a directory refuse new files"

# A launcher of 256 KiB against a limit of 64 KiB: the first block is
# written over the old launcher, the next write fails.
launcher=$root/vlxcore-2.4.1/bin/vlxrun.exe
cp "$root/bin/vlxrun.exe" "$work/installed-vlxrun.exe"
head -c 262144 /dev/zero | tr '\0' 'L' >"$launcher"
status=0
(trap '' XFSZ; ulimit -f 128; exec wine "$tool" -s "$root") >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "status $status, expected 0: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a silent run printed: $(cat "$work/out")"

# The three lines of a launcher whose in-place write failed, in the root's
# Windows form; the reason is the system's own text. The launcher is as it
# was before the run.
windows_root=$(winepath -w "$root" 2>/dev/null)
source="$windows_root\\vlxcore-2.4.1\\bin\\vlxrun.exe"
target="$windows_root\\bin\\vlxrun.exe"
tr -d '\r' <"$work/err" >"$work/lines"
[ "$(wc -l <"$work/lines")" -eq 3 ] || fail "expected three lines, got: $(cat "$work/lines")"
[ "$(sed -n 1p "$work/lines")" = "Could not copy file $source to $target" ] ||
  fail "first line: $(sed -n 1p "$work/lines")"
sed -n 2p "$work/lines" | grep -q '^  [^ ]' || fail "no reason under the failure: $(cat "$work/lines")"
[ "$(sed -n 3p "$work/lines")" = "Continuing installation anyway..." ] || fail "third line: $(sed -n 3p "$work/lines")"
cmp -s "$work/installed-vlxrun.exe" "$root/bin/vlxrun.exe" || fail "bin/vlxrun.exe did not get its old bytes back"

# Every other file was written in place whole, and bin holds nothing new.
for name in vlx.exe vlxwin.exe vlxcomp.exe lintvet.exe sigscan.exe testdrv.exe; do
  cmp -s "$root/vlxcore-2.4.1/bin/$name" "$root/bin/$name" || fail "bin/$name differs from its source"
done
cmp -s "$root/releases/9/start_minimal.boot" "$root/bin/start.boot" || fail "start.boot is not the minimal start-up"
cmp -s "$root/vlxcore-2.4.1/bin/vlx.ini" "$root/bin/vlx.ini" || fail "the two vlx.ini differ"
[ "$(ls -A "$root/bin" | wc -l)" -eq 12 ] || fail "bin holds more than the installation: $(ls -A "$root/bin")"
echo "test-windows-in-place: passed"

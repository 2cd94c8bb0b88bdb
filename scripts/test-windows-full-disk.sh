#!/bin/sh
# Runs the Windows tool under Wine over an earlier installation whose bin is
# a small file system (a memory file system mounted there): the new minimal
# start-up file fits beside it, start.boot, a second copy of it, does not.
# The run must end with start.boot's fatal lines and leave every file of both
# bins as it was: the same bytes, mode, time and inode. Exits 77 (skipped)
# where no file system can be mounted (not root).
# usage: test-windows-full-disk.sh VLXINSTALL_EXE
set -eu
tool=$1
here=$(cd "$(dirname "$0")/.." && pwd)
name=test-windows-full-disk
undo='umount "$root/bin"'
. "$here/scripts/wine-host-test.sh"

mkdir "$root/bin"
mount -t tmpfs -o size=600k tmpfs "$root/bin" 2>/dev/null ||
  skip "a small file system cannot be mounted here (needs root)"
wine "$tool" -s "$root" >"$work/out" 2>"$work/err" || fail "the first installation failed: $(cat "$work/err")"

head -c 409600 /dev/zero | tr '\0' 'b' >"$root/releases/9/start_minimal.boot"
# Every file of both bins: name, bytes' sum, mode, time and inode.
list() {
  for file in "$root/bin"/* "$root/bin"/.[!.]* "$root/vlxcore-2.4.1/bin"/*; do
    [ -e "$file" ] || continue
    printf '%s %s %s\n' "$file" "$(cksum <"$file")" "$(stat -c '%a %Y %i' "$file")"
  done
}
list >"$work/before"
status=0
wine "$tool" -s "$root" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 1 ] || fail "status $status, expected 1: $(cat "$work/err")"
windows_root=$(winepath -w "$root" 2>/dev/null)
tr -d '\r' <"$work/err" >"$work/lines"
[ "$(sed -n 1p "$work/lines")" = "Could not copy file $windows_root\\bin\\start_minimal.boot to $windows_root\\bin\\start.boot" ] ||
  fail "first line: $(cat "$work/lines")"
[ "$(sed -n 3p "$work/lines")" = "Cannot continue installation, bailing out." ] && [ "$(wc -l <"$work/lines")" -eq 3 ] ||
  fail "expected the reason and the bail-out line: $(cat "$work/lines")"
list >"$work/after"
cmp -s "$work/before" "$work/after" || fail "the installation changed: $(diff "$work/before" "$work/after")"
echo "test-windows-full-disk: passed"

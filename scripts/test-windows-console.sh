#!/bin/sh
# Runs the Windows tool under Wine on a console of its own, the way a
# double-click in Explorer starts it: on a pseudo-terminal (script), where
# Wine gives the program a real console (code page 437) that lists it alone.
# Checks the closing prompt of such a window, its absence where a shell shares
# the console, output is redirected or the run is silent, and that paths and
# the version are shown in the console's code page ('?' for what it lacks).
# usage: test-windows-console.sh VLXINSTALL_EXE
set -eu
tool=$1
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-windows-console: $*" >&2; exit 1; }

version='2.4.1-é根'
root=$work/é根
make_root() {
  rm -rf "$root"
  cp -R "$here/examples/distribution" "$root"
  mv "$root/vlxcore-2.4.1" "$root/vlxcore-$version"
  printf '[Install]\nVSN=%s\nSYSTEM_VSN=9\n' "$version" >"$root/Install.ini"
  cp "$tool" "$root/vlxinstall.exe"
}

# Runs COMMAND in the root on a pseudo-terminal, cut off after $limit seconds.
# The other arguments come in pairs, TEXT and KEYS: once the screen (or, with
# output redirected, output.txt) shows TEXT, KEYS are typed; Enter is a
# carriage return there. Keys typed earlier could be lost while Wine's console
# sets the terminal up, or read twice when no read is waiting yet. Leaves the screen's text, without the terminal's
# control sequences, in $work/screen and the exit status in $status
# ("cut-off" when the run did not end in time).
limit=20
on_console() {
  command=$1
  shift
  rm -f "$root/output.txt" "$work/raw" "$work/keys" "$work/status"
  : >"$work/raw"
  mkfifo "$work/keys"
  # The status is kept from inside the terminal: a run that is cut off leaves
  # none, and Wine's going down may take the shell around script with it.
  (cd "$root" && timeout "$limit" script -qc "$command; echo \$? >'$work/status'" /dev/null \
     <"$work/keys" >"$work/raw" 2>/dev/null) &
  exec 3>"$work/keys"  # held open until the run ends, so that input never ends early
  while [ $# -ge 2 ] && wait_for "$1"; do
    sleep 0.5  # as a person would: the read is waiting before the keys come
    printf "$2" >&3
    shift 2
  done
  wait
  exec 3>&-
  status=$(cat "$work/status" 2>/dev/null || echo cut-off)
  read_screen
}
read_screen() {
  perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g' "$work/raw" >"$work/screen"
}
# Waits until the screen or output.txt shows text; false after 20 seconds.
wait_for() {
  tries=200
  while [ "$tries" -gt 0 ]; do
    read_screen
    grep -qF -- "$1" "$work/screen" "$root/output.txt" 2>/dev/null && return 0
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}
shows() { grep -qxF -- "$1" "$work/screen" || { cat "$work/screen" >&2; fail "no line '$1' ($2)"; }; }
hides() { ! grep -qF -- "$1" "$work/screen" || { cat "$work/screen" >&2; fail "'$1' shown ($2)"; }; }
prompt='Do you want a minimal startup instead of tavrel [No]: '
closing='Press Enter to close this window.'
asked='tavrel [No]:'
# Code page 437 has é (byte 0x82) but not 根 ('?'). Wine's console hands each
# byte of such output to the terminal as the code point of its value, so the
# screen shows U+0082 where é was written in code page 437; bytes of UTF-8
# would show as two or three other characters.
in_437=$(printf '\302\202?')
shown_version="2.4.1-$in_437"

make_root
on_console 'wine vlxinstall.exe' "$asked" '\r' "$closing" '\r'
[ "$status" = 0 ] || fail "a double-clicked run ended with status $status"
shows "Vorlax $shown_version installed successfully" "double-clicked"
shows "$closing" "double-clicked"
grep -qx 'Progname=vlx' "$root/bin/vlx.ini" || fail "a double-clicked run installed nothing"

# Without Enter the window stays: the run is still waiting when cut off.
limit=15
on_console 'wine vlxinstall.exe' "$asked" '\r'
limit=20
shows "$closing" "left waiting"
[ "$status" = cut-off ] || fail "the window did not wait for Enter (status $status)"

rm "$root/Install.ini"
on_console 'wine vlxinstall.exe' "$asked" '\r' "$closing" '\r'
[ "$status" = 1 ] || fail "a double-clicked failure ended with status $status"
shows "$closing" "double-clicked failure"
grep -qF 'Cannot open init file' "$work/screen" && grep -qF "$in_437\\Install.ini" "$work/screen" ||
  { cat "$work/screen" >&2; fail "the failure or its path in code page 437 is not shown"; }

make_root
on_console 'wine cmd /c vlxinstall.exe' "$asked" '\r'
[ "$status" = 0 ] || fail "a run from a shell ended with status $status"
shows "Vorlax $shown_version installed successfully" "from a shell"
hides "$closing" "from a shell"

on_console 'wine vlxinstall.exe >output.txt' "$asked" '\r'
[ "$status" = 0 ] || fail "a redirected run ended with status $status"
hides "$closing" "output redirected"
tr -d '\r' <"$root/output.txt" >"$work/output"
[ "$(cat "$work/output")" = "${prompt}Vorlax $version installed successfully" ] ||
  fail "redirected output is not UTF-8: $(cat "$work/output")"

on_console 'wine vlxinstall.exe -s'
[ "$status" = 0 ] || fail "a silent run ended with status $status"
hides "$closing" "silent"
hides "Vorlax" "silent"
echo "Windows console: ok"

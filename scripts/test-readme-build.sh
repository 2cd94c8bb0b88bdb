#!/bin/sh
# Runs the commands of the README's Building section, as a new user would
# copy them, in a fresh clone of the last commit, installing into a
# temporary prefix instead of /usr/local; checks that the install is the
# Release configuration and holds the tools, their manual pages and the
# library, and that no test was built.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-readme-build: $*" >&2; exit 1; }

git clone -q "$here" "$work/clone"
prefix=$work/prefix
# The indented cmake lines between "## Building" and the next heading, their
# comments dropped.
sed -n '/^## Building/,/^##* /p' "$here/README.md" | sed -n 's/^    \(cmake .*\)/\1/p' | sed 's/ *#.*//' \
  >"$work/commands"
[ "$(wc -l <"$work/commands")" -eq 3 ] || fail "expected three commands, found: $(cat "$work/commands")"
while read -r command; do
  command=$(echo "$command" | sed "s|/usr/local|$prefix|")
  echo "\$ $command"
  (cd "$work/clone" && sh -c "$command") >"$work/log" 2>&1 || { cat "$work/log" >&2; fail "$command failed"; }
done <"$work/commands"
grep -qx -- '-- Install configuration: "Release"' "$work/log" || { cat "$work/log" >&2; fail "not installed as Release"; }
for file in bin/vlxinstall bin/vlxini share/man/man1/vlxinstall.1 share/man/man1/vlxini.1 \
  lib/libvlx-initfile.a include/initfile/initfile.h share/doc/vlxinstall/README.md; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ ! -e "$work/clone/build/release/bin/vlx_tests" ] || fail "the tests were built"
echo "README's build commands: ok (Release)"

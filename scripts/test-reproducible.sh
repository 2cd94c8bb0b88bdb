#!/bin/sh
# Builds the release of the last commit twice, in two clones at two different
# places, with different umasks and, when run as root, the second as another
# user, and checks that the archives' sums are the same.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
chmod 755 "$work"  # the second build may run as another user
trap 'rm -rf "$work"' EXIT
first=$work/a
second=$work/elsewhere/b
mkdir -p "$work/elsewhere"
git clone -q "$here" "$first"
git clone -q "$here" "$second"

(cd "$first" && umask 022 && scripts/release.sh build >"$work/first.log" 2>&1) ||
  { cat "$work/first.log"; exit 1; }
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  chown -R 65534:65534 "$work/elsewhere"
  as_other="setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=$second"
else
  as_other=
fi
(cd "$second" && umask 077 && $as_other scripts/release.sh build >"$work/second.log" 2>&1) ||
  { cat "$work/second.log"; exit 1; }

if ! cmp -s "$first/build/dist/SHA256SUMS" "$second/build/dist/SHA256SUMS"; then
  echo "test-reproducible: two builds of the same commit differ:" >&2
  diff "$first/build/dist/SHA256SUMS" "$second/build/dist/SHA256SUMS" >&2
  exit 1
fi
echo "release reproducible:"
cat "$first/build/dist/SHA256SUMS"

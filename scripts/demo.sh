#!/bin/sh
# Installs the sample distribution in examples/ as a user would: unpacks it
# into a fresh root in the build directory, places the tool there and runs it
# without arguments. On a terminal the question is yours to answer; otherwise
# the default answer is given. The source tree is never written.
set -e
tool=$1
here=$(cd "$(dirname "$0")/.." && pwd)
root=$here/build/demo/vorlax
rm -rf "$root"
mkdir -p "$(dirname "$root")"
cp -R "$here/examples/distribution" "$root"
cp "$tool" "$root/"

echo "== Sample distribution unpacked into $root"
echo "\$ cd $root && ./vlxinstall"
status=0
if [ -t 0 ]; then
  (cd "$root" && ./vlxinstall) || status=$?
else
  echo "(standard input is not a terminal: the question is answered with Enter, the default)"
  (cd "$root" && echo | ./vlxinstall) || status=$?
fi
echo "(exit status $status)"
echo
echo "== $root/bin"
ls -l "$root/bin"
echo
echo "== $root/bin/vlx.ini"
cat "$root/bin/vlx.ini"
exit $status

#!/bin/sh
# Runs the tool on a scratch root in the build directory.
set -e
tool=$1
root=build/demo-root
rm -rf "$root" && mkdir -p "$root"
echo "\$ vlxinstall $root"
status=0
if [ -t 0 ]; then "$tool" "$root" || status=$?; else echo | "$tool" "$root" || status=$?; fi
echo
echo "(exit status $status)"

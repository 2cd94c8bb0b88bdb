# Shared by the Windows tests that change the host's file system under Wine:
# the project's Wine environment, a scratch copy of the sample distribution
# in $root, and fail and skip in the test's name. $undo, set by the caller
# before this is sourced, is run before the scratch directory is removed, to
# take back what the test did to the host (an attribute, a mount).
# Needs $here (the project's top directory) and $name (the test's name).
. "$here/scripts/wine-env.sh"
work=$(mktemp -d)
root=$work/root
trap 'eval "${undo:-true}" 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "$name: $*" >&2; exit 1; }
skip() { echo "$name: Skipped"; echo "$*"; exit 77; }
cp -R "$here/examples/distribution" "$root"

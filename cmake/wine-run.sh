#!/bin/sh
# Runs a Windows program under Wine with the project's own prefix, quietly and
# with a UTF-8 locale (without one, non-ASCII arguments and file names break).
# The prefix is the one scripts/wine-session.sh prepares.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export HOME="${HOME:-$here/build}"  # Wine keeps per-user state under HOME
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
exec wine "$@"

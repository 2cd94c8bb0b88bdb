#!/bin/sh
# Runs a Windows program under Wine in the project's Wine environment.
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh"
exec wine "$@"

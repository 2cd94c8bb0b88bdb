#!/bin/sh
# Starts or stops the Wine environment in which the Windows build's tests run:
#   wine-session.sh start   prepares the project's prefix and keeps a wineserver up
#   wine-session.sh stop    stops that server
# A persistent server with its services already booted makes each Wine call
# cost about 0.1 s; without it every test would wait for Wine's start-up.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env.sh"
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    wineserver -p 2>/dev/null || true  # status 2: one is already running
    wineboot -i </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac

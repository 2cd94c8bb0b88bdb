# The Wine environment of the project, sourced by the scripts that run Wine:
# the project's own prefix (scripts/wine-session.sh prepares it), no debug
# output, no prompts to install Mono or Gecko, and a UTF-8 locale (without
# one, non-ASCII arguments and file names break).
# Needs $here, the project's top directory.
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export HOME="${HOME:-$here/build}"  # Wine keeps per-user state under HOME
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8

#!/bin/sh
# Makes sure the named Debian packages are installed: installs the missing
# ones with apt-get when run as root, otherwise prints the command to run.
missing=
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
[ -z "$missing" ] && exit 0
command="apt-get install -y --no-install-recommends$missing"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages. Install them with:" >&2
  echo "  sudo apt-get update && sudo $command" >&2
  exit 1
fi
echo "Installing Debian packages:$missing"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# apt's output is kept back unless it fails, and then shown whole.
apt-get update -q >"$log" 2>&1 && $command >>"$log" 2>&1 || {
  cat "$log" >&2
  echo "Could not install:$missing" >&2
  exit 1
}

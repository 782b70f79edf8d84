#!/bin/sh
# Installs the Debian packages that the tests need and that are missing:
# with apt-get when run as root, otherwise it names the one command to run
# and fails. Package names are the arguments.
set -eu
missing=""
for package in "$@"; do
  dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null |
    grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "The tests need these packages; install them first:" >&2
  echo "  sudo apt-get install$missing" >&2
  exit 1
fi
echo "Installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2
apt-get install -y -q --no-install-recommends $missing >&2

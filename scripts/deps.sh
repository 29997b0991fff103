#!/bin/sh
# Installs the Debian packages the build, the simulated unit and the tests need.
set -e
PKGS="cmake g++ make pkg-config libfreetype-dev libpng-dev libusb-1.0-0-dev libssl-dev
libglib2.0-dev libasound2-dev libopus-dev libgtest-dev libgmock-dev libbenchmark-dev
fonts-dejavu-core fonts-paratype libhamlib-utils libjpeg-dev libjpeg-turbo-progs"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing

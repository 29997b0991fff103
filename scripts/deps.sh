#!/bin/sh
# Installs the Debian packages the build, the simulated unit and the tests need.
set -e
PKGS="cmake g++ make pkg-config libfreetype-dev libpng-dev libusb-1.0-0-dev libssl-dev
libglib2.0-dev libasound2-dev libopus-dev libgtest-dev libgmock-dev libbenchmark-dev
fonts-dejavu-core fonts-paratype libhamlib-utils nodejs libjpeg-dev libjpeg-turbo-progs libcpp-httplib-dev chromium"
missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "installing:$missing"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
# npm: bundled with some nodejs builds, a Debian package of its own otherwise.
if ! command -v npm >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends npm
fi
# The standard WebSocket client of the remote-link test and the browser driver
# of the page test (tests/package.json).
cd "$(dirname "$0")/.."
if [ ! -f tests/node_modules/ws/package.json ] || [ ! -f tests/node_modules/playwright-core/package.json ]; then
    npm install --prefix tests --no-audit --no-fund
fi

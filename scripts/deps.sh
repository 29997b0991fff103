#!/bin/sh
# Installs the Debian packages the build, the simulated unit and the tests need
# (lintian, systemd-analyze from systemd and file, for CPack's debug-symbol
# package, are the package test's).
# --run: what running the simulated unit needs (the Node modules of the tests
# are left out).
set -e
RUN_ONLY=0
[ "${1:-}" = --run ] && RUN_ONLY=1
PKGS="cmake g++ make ccache pkg-config python3 libfreetype-dev libpng-dev libusb-1.0-0-dev libssl-dev
libglib2.0-dev libasound2-dev libopus-dev libsystemd-dev libgtest-dev libgmock-dev libbenchmark-dev
fonts-dejavu-core fonts-paratype libhamlib-utils nodejs libjpeg-dev libjpeg-turbo-progs libcpp-httplib-dev chromium
python3-websockets iproute2 lintian systemd file"
# The board's builds (arm64, armhf), when the test variants ask for them:
# cross compilers, the emulator that runs their tests, and the board's -dev
# packages of the libraries.
case " ${HELIX_TEST_VARIANTS:-pc} " in
*" arm64 "* | *" armhf "*)
    BOARD_LIBS="libfreetype-dev libpng-dev libusb-1.0-0-dev libssl-dev libglib2.0-dev
libasound2-dev libopus-dev libsystemd-dev libgtest-dev libgmock-dev libjpeg-dev libstdc++6"
    PKGS="$PKGS g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user"
    for arch in arm64 armhf; do
        for l in $BOARD_LIBS; do PKGS="$PKGS $l:$arch"; done
    done
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    for arch in arm64 armhf; do
        if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            $SUDO dpkg --add-architecture "$arch"
        fi
    done
    ;;
esac
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
[ "$RUN_ONLY" = 1 ] && exit 0
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

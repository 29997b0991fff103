#!/bin/sh
# Installs the Debian packages the build, the simulated unit and the tests need
# (lintian, systemd-analyze from systemd and file, for CPack's debug-symbol
# package, are the package test's).
# --run: only what building and running the simulated unit needs (what
# ./scripts/run-sim.sh calls it for): no test framework, benchmark library,
# browser, packaging tools or Node modules.
set -e
RUN_ONLY=0
[ "${1:-}" = --run ] && RUN_ONLY=1
# The build and the simulated unit: the compiler, the product's libraries, the
# fonts, the page's HTTP library, rigctld (HELIX_SIM_MODE=net) and python3
# (run-sim.sh picks free ports with it).
PKGS="cmake g++ make ccache pkg-config python3 libfreetype-dev libpng-dev libusb-1.0-0-dev libssl-dev
libglib2.0-dev libasound2-dev libopus-dev libsystemd-dev fonts-dejavu-core fonts-paratype
libhamlib-utils libcpp-httplib-dev"
# The tests, benchmarks and figures.
[ "$RUN_ONLY" = 1 ] || PKGS="$PKGS libgtest-dev libgmock-dev libbenchmark-dev nodejs libjpeg-dev
libjpeg-turbo-progs chromium python3-websockets iproute2 lintian systemd file"
# The board's builds (arm64, armhf), when the test variants ask for them:
# cross compilers, the emulator that runs their tests, and the board's -dev
# packages of the libraries.
VARIANTS="${HELIX_TEST_VARIANTS:-pc}"
[ "$RUN_ONLY" = 1 ] && VARIANTS=pc
case " $VARIANTS " in
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

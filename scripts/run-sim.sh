#!/bin/sh
# Installs what is missing, builds, builds a simulated root with the simulated
# hardware, and runs the controller on it. The virtual screen is
# <root>/dev/fb0 (800x480, BGRX); `fbgrab` in the root writes it as a PNG.
# Ctrl-C stops the controller (normal shutdown) and the simulators.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
./scripts/build.sh
B="$(pwd)/${BUILD_DIR:-build}"
ROOT="${HELIX_SIM_ROOT:-$(pwd)/.sim-root}"
"$B/helix-sim-simroot" "$ROOT" >/dev/null
# HELIX_SIM_MODE=tav|ft817|gen sets bank 1's working mode (its marker line;
# the band rows stay).
BANK1="$ROOT/opt/set/antenna_b1.txt"
case "${HELIX_SIM_MODE:-}" in
tav) MARKER='!Tav' ;;
ft817) MARKER='!817' ;;
gen) MARKER='!Gen' ;;
*) MARKER='' ;;
esac
if [ -n "$MARKER" ]; then
    { printf '%s\n' "$MARKER"; grep -v '^!' "$BANK1" 2>/dev/null || true; } >"$BANK1.new"
    mv "$BANK1.new" "$BANK1"
fi
# The simulated USB bus (the sound device and the transceiver's sample
# stream, kept when the root already lists its own), the spectrum generator's
# settings, and the service keyboard plugged in.
[ -f "$ROOT/lsusb.txt" ] || printf '%s\n' "Bus 001 Device 004: ID 0d8c:01af C-Media" \
    "Bus 001 Device 005: ID 1721:061a TAV" >"$ROOT/lsusb.txt"
mkdir -p "$ROOT/sim"
[ -f "$ROOT/sim/tav-usb.conf" ] || printf 'rate 192000\ntone 12000 -30\ntone -40000 -50\nnoise -100\n' \
    >"$ROOT/sim/tav-usb.conf"
[ -x "$B/helix-sim-keyboard" ] && "$B/helix-sim-keyboard" --root "$ROOT" plug
export HELIX_ROOT="$ROOT"
export PATH="$ROOT/bin:$B:$PATH"
PIDS=""
cleanup() { [ -n "$PIDS" ] && kill $PIDS 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT INT TERM
# Simulated devices: each program links its pseudo-terminal into the root.
for sim in "$B"/helix-sim-board "$B"/helix-sim-radio; do
    if [ -x "$sim" ]; then
        "$sim" --root "$ROOT" &
        PIDS="$PIDS $!"
    fi
done
sleep 1
echo "simulated root: $ROOT"
cd "$B"
./helix

#!/bin/sh
# Installs what is missing, builds, builds a simulated root with the simulated
# hardware (power board, radio, panel micro), runs the controller on it and
# serves the unit's page (helix-sim-panel); prints the address to open.
# Ctrl-C stops the controller (normal shutdown), the simulators and the page.
#
#   ./scripts/run-sim.sh           one unit, page on http://127.0.0.1:8817/
#   ./scripts/run-sim.sh --pair    two units as a remote pair (server and
#                                  client), pages on ports 8817 and 8818
#
# HELIX_SIM_ROOT (.sim-root) the root (the pair's second unit: <root>-2),
# HELIX_PANEL_PORT (8817) the page's port, HELIX_SIM_MODE=tav|ft817|gen|net bank
# 1's working mode, HELIX_PAIR_PORT (6666) the pair's WebSocket port. In net
# mode Hamlib's rigctld serves the simulated FT-817 on HELIX_RIGCTLD_PORT
# (4532) and the controller follows it there (docs/hamlib.md).
set -e
cd "$(dirname "$0")/.."
PAIR=0
case "${1:-}" in
--pair) PAIR=1 ;;
"") ;;
*) echo "usage: $0 [--pair]" >&2; exit 2 ;;
esac
./scripts/deps.sh
./scripts/build.sh
B="$(pwd)/${BUILD_DIR:-build}"
ROOT="${HELIX_SIM_ROOT:-$(pwd)/.sim-root}"
PORT="${HELIX_PANEL_PORT:-8817}"

# HELIX_SIM_MODE=tav|ft817|gen|net sets bank 1's working mode (its marker
# line; the band rows stay).
prepare_root() {
    BANK1="$1/opt/set/antenna_b1.txt"
    case "${HELIX_SIM_MODE:-}" in
    tav) MARKER='!Tav' ;;
    ft817) MARKER='!817' ;;
    gen) MARKER='!Gen' ;;
    net) MARKER='!Net' ;;
    *) MARKER='' ;;
    esac
    if [ -n "$MARKER" ]; then
        { printf '%s\n' "$MARKER"; grep -v '^!' "$BANK1" 2>/dev/null || true; } >"$BANK1.new"
        mv "$BANK1.new" "$BANK1"
    fi
    # The simulated USB bus (the sound device and the transceiver's sample
    # stream, kept when the root already lists its own), the spectrum
    # generator's settings, and the service keyboard plugged in.
    [ -f "$1/lsusb.txt" ] || printf '%s\n' "Bus 001 Device 004: ID 0d8c:01af C-Media" \
        "Bus 001 Device 005: ID 1721:061a TAV" >"$1/lsusb.txt"
    mkdir -p "$1/sim"
    [ -f "$1/sim/tav-usb.conf" ] ||
        printf 'rate 192000\ntone 12000 -30\ntone -40000 -50\nnoise -100\n' >"$1/sim/tav-usb.conf"
    if [ -x "$B/helix-sim-keyboard" ]; then "$B/helix-sim-keyboard" --root "$1" plug; fi
}

# set_key ROOT KEY VALUE: one line "KEY: VALUE" of the root's setup file.
set_key() {
    F="$1/opt/set/setup.txt"
    touch "$F"
    { grep -v "^$2:" "$F" || true; printf '%s: %s\n' "$2" "$3"; } >"$F.new"
    mv "$F.new" "$F"
}

PIDS=""
cleanup() {
    trap - INT TERM EXIT
    [ -n "$PIDS" ] && kill $PIDS 2>/dev/null
    wait 2>/dev/null
    echo "stopped"
}
trap 'cleanup; exit 0' INT TERM
trap cleanup EXIT

# start_unit ROOT PORT TITLE: simulators, controller and page of one unit.
# The simulators' exchanges and the controller's trace go to ROOT/var/log.
start_unit() {
    mkdir -p "$1/var/log"
    for sim in board radio; do
        "$B/helix-sim-$sim" --root "$1" >"$1/var/log/sim-$sim.out" 2>&1 </dev/null &
        PIDS="$PIDS $!"
    done
    sleep 1
    if [ "${HELIX_SIM_MODE:-}" = net ]; then
        # (a pair's second unit: the next port)
        RIGPORT=$((${HELIX_RIGCTLD_PORT:-4532} + $2 - PORT))
        OPTS="$1/opt/set/options.txt"
        { grep -v '^RigctldPort:' "$OPTS" 2>/dev/null || true; echo "RigctldPort: $RIGPORT"; } >"$OPTS.new"
        mv "$OPTS.new" "$OPTS"
        rigctld -m 1020 -r "$1/dev/ttyUSB1" -T 127.0.0.1 -t "$RIGPORT" >"$1/var/log/rigctld.out" 2>&1 &
        PIDS="$PIDS $!"
    fi
    (cd "$B" && HELIX_ROOT="$1" PATH="$1/bin:$B:$PATH" exec ./helix 2>"$1/var/log/helix.trace") &
    PIDS="$PIDS $!"
    "$B/helix-sim-panel" --root "$1" --port "$2" --title "$3" &
    PIDS="$PIDS $!"
}

"$B/helix-sim-simroot" "$ROOT" >/dev/null
prepare_root "$ROOT"
if [ "$PAIR" = 1 ]; then
    ROOT2="$ROOT-2"
    "$B/helix-sim-simroot" "$ROOT2" >/dev/null
    prepare_root "$ROOT2"
    set_key "$ROOT" WebSocket 1
    set_key "$ROOT" TcpPort "${HELIX_PAIR_PORT:-6666}"
    set_key "$ROOT2" WebSocket 2
    set_key "$ROOT2" Server 127.0.0.1
    set_key "$ROOT2" TcpPort "${HELIX_PAIR_PORT:-6666}"
    start_unit "$ROOT" "$PORT" "server ($ROOT)"
    start_unit "$ROOT2" "$((PORT + 1))" "client ($ROOT2)"
    sleep 1
    echo "simulated roots: $ROOT (server) and $ROOT2 (client)"
    echo "open http://127.0.0.1:$PORT/ (server) and http://127.0.0.1:$((PORT + 1))/ (client)"
else
    start_unit "$ROOT" "$PORT" "$ROOT"
    sleep 1
    echo "simulated root: $ROOT (logs in $ROOT/var/log)"
    echo "open http://127.0.0.1:$PORT/"
fi
echo "Ctrl-C stops everything."
# Until Ctrl-C, or until a controller ends by itself.
wait

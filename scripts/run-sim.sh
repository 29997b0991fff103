#!/bin/sh
# Installs what is missing, builds what it runs (the controller, the simulated
# hardware, the page and the tools they start; not the tests, benchmarks or
# fuzz replays), makes a simulated root, runs the controller on it and serves
# the unit's page (helix-sim-panel); prints the address to open. Ctrl-C stops
# the controller (normal shutdown), the simulators and the page.
#
#   ./scripts/run-sim.sh           one unit, page on http://127.0.0.1:8817/
#   ./scripts/run-sim.sh --fresh   the same from a new root (settings, tables
#                                  and logs of earlier runs gone)
#   ./scripts/run-sim.sh --pair    two units as a remote pair (server and
#                                  client) in roots of their own, pages on
#                                  8817 and 8818, the link on a free port
#
# Everything listens on 127.0.0.1 only. The single unit's remote server is
# off; the pair's binds loopback (RemoteBind). A page port in use is replaced
# by a free one (the address printed is the one to open).
#
# HELIX_SIM_ROOT (.sim-root) the root (the pair's: <root>-pair-server and
# <root>-pair-client), HELIX_PANEL_PORT (8817) the page's port,
# HELIX_SIM_MODE=tav|ft817|gen|net|udp bank 1's working mode, HELIX_PAIR_PORT
# (a free one) the pair's WebSocket port. In net mode Hamlib's rigctld serves
# the simulated FT-817 on HELIX_RIGCTLD_PORT (4532) and the controller follows
# it there (docs/hamlib.md). In udp mode the unit follows a logging program's
# datagrams on 127.0.0.1 port HELIX_LOGGER_PORT (12060; the pair's client one
# more), which the page's Logger box sends (docs/logger.md).
set -e
cd "$(dirname "$0")/.."
PAIR=0
FRESH=0
for a in "$@"; do
    case "$a" in
    --pair) PAIR=1 ;;
    --fresh) FRESH=1 ;;
    *) echo "usage: $0 [--fresh] [--pair]" >&2; exit 2 ;;
    esac
done
# HELIX_SIM_BUILT=1: the build directory is ready (the tests): no packages,
# no build.
if [ -z "${HELIX_SIM_BUILT:-}" ]; then
    ./scripts/deps.sh --run
    BUILD_TARGETS=sim-unit ./scripts/build.sh
fi
case "${BUILD_DIR:-build}" in
/*) B="$BUILD_DIR" ;;
*) B="$(pwd)/${BUILD_DIR:-build}" ;;
esac
ROOT="${HELIX_SIM_ROOT:-$(pwd)/.sim-root}"
PORT="${HELIX_PANEL_PORT:-8817}"

# free_port [PORT]: PORT when nothing listens on it on 127.0.0.1, else a
# port the system picks.
free_port() {
    python3 - "${1:-0}" <<'EOF'
import socket, sys
want = int(sys.argv[1])
for port in ([want] if want else []) + [0]:
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
        print(s.getsockname()[1])
        break
    except OSError:
        pass
    finally:
        s.close()
EOF
}

# set_line FILE KEY VALUE: one line "KEY: VALUE" of a settings file.
set_line() {
    touch "$1"
    { grep -v "^$2:" "$1" || true; printf '%s: %s\n' "$2" "$3"; } >"$1.new"
    mv "$1.new" "$1"
}

# make_root ROOT [LOGGERPORT]: a simulated root (a new one with --fresh) with the simulated
# unit's settings.
make_root() {
    [ "$FRESH" = 1 ] && rm -rf "$1"
    NEW=0
    [ -f "$1/opt/set/setup.txt" ] || NEW=1
    "$B/helix-sim-simroot" "$1" >/dev/null
    # A new root: automatic tune on (TUNE works at once).
    if [ "$NEW" = 1 ]; then set_line "$1/opt/set/setup.txt" AutoTuneMode 1; fi
    # The remote server off unless a pair turns it on; every server on loopback.
    set_line "$1/opt/set/setup.txt" WebSocket 0
    set_line "$1/opt/set/options.txt" RemoteBind 127.0.0.1
    set_line "$1/opt/set/options.txt" AmpctldBind 127.0.0.1
    set_line "$1/opt/set/options.txt" LoggerUdpBind 127.0.0.1
    set_line "$1/opt/set/options.txt" LoggerUdpPort "${2:-${HELIX_LOGGER_PORT:-12060}}"
    # HELIX_SIM_MODE=tav|ft817|gen|net|udp: bank 1's marker line (its rows stay).
    BANK1="$1/opt/set/antenna_b1.txt"
    case "${HELIX_SIM_MODE:-}" in
    tav) MARKER='!Tav' ;;
    ft817) MARKER='!817' ;;
    gen) MARKER='!Gen' ;;
    net) MARKER='!Net' ;;
    udp) MARKER='!Udp' ;;
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
    "$B/helix-sim-keyboard" --root "$1" plug
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
        RIGPORT=$(free_port "${HELIX_RIGCTLD_PORT:-4532}")
        set_line "$1/opt/set/options.txt" RigctldPort "$RIGPORT"
        rigctld -m 1020 -r "$1/dev/ttyUSB1" -T 127.0.0.1 -t "$RIGPORT" >"$1/var/log/rigctld.out" 2>&1 &
        PIDS="$PIDS $!"
        sleep 1
    fi
    (cd "$B" && HELIX_ROOT="$1" PATH="$B:$PATH" exec ./helix 2>"$1/var/log/helix.trace") &
    PIDS="$PIDS $!"
    "$B/helix-sim-panel" --root "$1" --port "$2" --title "$3" &
    PIDS="$PIDS $!"
}

if [ "$PAIR" = 1 ]; then
    SERVER="$ROOT-pair-server"
    CLIENT="$ROOT-pair-client"
    make_root "$SERVER"
    make_root "$CLIENT" "$((${HELIX_LOGGER_PORT:-12060} + 1))"
    LINK=$(free_port "${HELIX_PAIR_PORT:-0}")
    set_line "$SERVER/opt/set/setup.txt" WebSocket 1
    set_line "$SERVER/opt/set/setup.txt" TcpPort "$LINK"
    set_line "$CLIENT/opt/set/setup.txt" WebSocket 2
    set_line "$CLIENT/opt/set/setup.txt" Server 127.0.0.1
    set_line "$CLIENT/opt/set/setup.txt" TcpPort "$LINK"
    P1=$(free_port "$PORT")
    start_unit "$SERVER" "$P1" "server ($SERVER)"
    P2=$(free_port "$((PORT + 1))")
    start_unit "$CLIENT" "$P2" "client ($CLIENT)"
    sleep 1
    echo "simulated roots: $SERVER (server) and $CLIENT (client), linked on 127.0.0.1:$LINK"
    echo "open http://127.0.0.1:$P1/ (server) and http://127.0.0.1:$P2/ (client)"
else
    make_root "$ROOT"
    P1=$(free_port "$PORT")
    start_unit "$ROOT" "$P1" "$ROOT"
    sleep 1
    echo "simulated root: $ROOT (logs in $ROOT/var/log)"
    echo "open http://127.0.0.1:$P1/"
fi
echo "Ctrl-C stops everything."
# Until Ctrl-C, or until a controller ends by itself.
wait

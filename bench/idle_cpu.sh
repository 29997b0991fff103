#!/bin/sh
# Idle load of the whole controller on the simulated unit: FT-817 mode, the
# power board polled, supervisor passes every 10 ms, nobody at the keys.
# Prints the processor time the helix process used over a wall-clock window
# as a share of one core, in all and per thread.
#
# usage: bench/idle_cpu.sh [SECONDS]   (default 60; BUILD_DIR as for build.sh)
# HELIX_IDLE_AUDIO=1: remote audio on (capture and playback threads on the
# root's null sound device, the USB sound device listed), no peer.
set -e
cd "$(dirname "$0")/.."
case "${BUILD_DIR:-build}" in
/*) B="$BUILD_DIR" ;;
*) B="$(pwd)/${BUILD_DIR:-build}" ;;
esac
SECS="${1:-60}"
for exe in helix helix-sim-simroot helix-sim-board helix-sim-radio; do
    [ -x "$B/$exe" ] || { echo "missing $B/$exe (build first)" >&2; exit 1; }
done

ROOT="$(mktemp -d "${TMPDIR:-/tmp}/helix-root-XXXXXX")"
"$B/helix-sim-simroot" "$ROOT" >/dev/null
printf '!817\n' >"$ROOT/opt/set/antenna_b1.txt"
printf 'EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n' \
    >"$ROOT/opt/set/setup.txt"
if [ "${HELIX_IDLE_AUDIO:-0}" = 1 ]; then
    sed -i 's/EnableRead: 0/EnableRead: 1/; s/EnableWrite: 0/EnableWrite: 1/; s/WebSocket: 0/WebSocket: 1/' \
        "$ROOT/opt/set/setup.txt"
    echo "Bus 001 Device 004: ID 0d8c:01af C-Media" >"$ROOT/lsusb.txt"
    echo "RemoteBind: 127.0.0.1" >"$ROOT/opt/set/options.txt"
fi
export HELIX_ROOT="$ROOT"
export PATH="$ROOT/bin:$B:$PATH"

BOARD="" RADIO="" HELIX=""
cleanup() {
    for p in $HELIX $RADIO $BOARD; do kill "$p" 2>/dev/null || true; done
    for p in $HELIX $RADIO $BOARD; do wait "$p" 2>/dev/null || true; done
    rm -rf "$ROOT"
}
trap cleanup EXIT INT TERM

"$B/helix-sim-board" --root "$ROOT" --quiet >/dev/null 2>&1 &
BOARD=$!
"$B/helix-sim-radio" --root "$ROOT" --ft817 >/dev/null 2>&1 &
RADIO=$!
sleep 1
(cd "$B" && exec ./helix >/dev/null 2>"$ROOT/helix.err") &
HELIX=$!

# The splash takes about twelve seconds; then the supervisor runs.
n=0
until grep -q "Timer thread started" "$ROOT/var/log/helix.log" 2>/dev/null; do
    n=$((n + 1))
    [ $n -gt 60 ] && { echo "the supervisor did not start" >&2; exit 1; }
    kill -0 "$HELIX" 2>/dev/null || { echo "helix ended" >&2; cat "$ROOT/helix.err" >&2; exit 1; }
    sleep 1
done
sleep 3

ticks() { awk '{ print $14 + $15 }' "/proc/$HELIX/stat"; }
# One line per thread: id, name, user + system ticks (the name may hold blanks).
threads() {
    for t in /proc/"$HELIX"/task/*; do
        printf '%s %s ' "${t##*/}" "$(tr ' ' '_' <"$t/comm")"
        sed 's/.*) //' "$t/stat" | awk '{ print $12 + $13 }'
    done 2>/dev/null
}
HZ="$(getconf CLK_TCK)"
threads >"$ROOT/threads0"
c0="$(ticks)"
t0="$(date +%s.%N)"
sleep "$SECS"
c1="$(ticks)"
t1="$(date +%s.%N)"
threads >"$ROOT/threads1"
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$HZ" 'BEGIN {
    cpu = (c1 - c0) / hz; wall = t1 - t0;
    printf "helix idle: %.2f%% of one core (%.2f s processor time over %.1f s)\n",
           100 * cpu / wall, cpu, wall }'
# Per thread, busiest first.
awk -v t0="$t0" -v t1="$t1" -v hz="$HZ" '
    NR == FNR { start[$1] = $3; next }
    { used = ($3 - start[$1]) / hz; if (used > 0) printf "  %-16s %6.2f%%\n", $2, 100 * used / (t1 - t0) }
' "$ROOT/threads0" "$ROOT/threads1" | sort -k2 -rn

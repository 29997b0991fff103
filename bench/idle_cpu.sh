#!/bin/sh
# Idle load of the whole controller on the simulated unit, in each working
# mode: the power board polled, the radio followed, supervisor passes, nobody
# at the keys. Prints the processor time the helix process used over a
# wall-clock window (the scheduler's run time of each thread) as a share of
# one core, in all and per thread, for the
# links paced by event (now) and by the fixed sleeps of before
# (HELIX_PACING=sleep), measured one after the other in the same run.
#
# usage: bench/idle_cpu.sh [SECONDS]   (default 60 per mode and pacing;
#        BUILD_DIR as for build.sh)
# HELIX_IDLE_MODES: the modes (default "gen tav ft817")
# HELIX_IDLE_PACINGS: the pacings (default "event sleep")
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

ROOT="" BOARD="" RADIO="" HELIX=""
stop_unit() {
    for p in $HELIX $RADIO $BOARD; do kill "$p" 2>/dev/null || true; done
    for p in $HELIX $RADIO $BOARD; do wait "$p" 2>/dev/null || true; done
    [ -n "$ROOT" ] && rm -rf "$ROOT"
    ROOT="" BOARD="" RADIO="" HELIX=""
}
trap stop_unit EXIT INT TERM

# measure MODE PACING: one line in all, then the threads, busiest first.
measure() {
    ROOT="$(mktemp -d "${TMPDIR:-/tmp}/helix-root-XXXXXX")"
    "$B/helix-sim-simroot" "$ROOT" >/dev/null
    case "$1" in
    gen) marker='!Gen' radio="" ;;
    tav) marker='!Tav' radio="--tav" ;;
    ft817) marker='!817' radio="--ft817" ;;
    esac
    printf '%s\n' "$marker" >"$ROOT/opt/set/antenna_b1.txt"
    printf 'EnableKeyb: 0\nEnableGPIO: 0\nEnableLinear: 1\nEnableTime: 1\nWebSocket: 0\nEnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\nEnableFFT: 0\n' \
        >"$ROOT/opt/set/setup.txt"
    if [ "${HELIX_IDLE_AUDIO:-0}" = 1 ]; then
        sed -i 's/EnableRead: 0/EnableRead: 1/; s/EnableWrite: 0/EnableWrite: 1/; s/WebSocket: 0/WebSocket: 1/' \
            "$ROOT/opt/set/setup.txt"
        echo "Bus 001 Device 004: ID 0d8c:01af C-Media" >"$ROOT/lsusb.txt"
        echo "RemoteBind: 127.0.0.1" >"$ROOT/opt/set/options.txt"
    fi
    "$B/helix-sim-board" --root "$ROOT" --quiet >/dev/null 2>&1 &
    BOARD=$!
    if [ -n "$radio" ]; then
        "$B/helix-sim-radio" --root "$ROOT" $radio >/dev/null 2>&1 </dev/null &
        RADIO=$!
    fi
    sleep 1
    pacing=""
    [ "$2" = sleep ] && pacing=sleep
    (cd "$B" && HELIX_ROOT="$ROOT" PATH="$ROOT/bin:$B:$PATH" HELIX_PACING="$pacing" \
        exec ./helix >/dev/null 2>"$ROOT/helix.err") &
    HELIX=$!
    # The splash takes about twelve seconds, the update clean-up thirty;
    # then only the steady threads run.
    n=0
    until grep -q "Timer thread started" "$ROOT/var/log/helix.log" 2>/dev/null; do
        n=$((n + 1))
        [ $n -gt 60 ] && { echo "the supervisor did not start" >&2; exit 1; }
        kill -0 "$HELIX" 2>/dev/null || { echo "helix ended" >&2; cat "$ROOT/helix.err" >&2; exit 1; }
        sleep 1
    done
    sleep 20

    # Each thread's processor time in ns: the scheduler's exact run time
    # (schedstat) where the kernel keeps it, else its clock ticks (10 ms
    # steps, sampled: noisy at these loads).
    HZ="$(getconf CLK_TCK)"
    threads() {
        for t in /proc/"$HELIX"/task/*; do
            printf '%s %s ' "${t##*/}" "$(tr ' ' '_' <"$t/comm")"
            if [ -r "$t/schedstat" ]; then
                awk '{ print $1 }' "$t/schedstat"
            else
                sed 's/.*) //' "$t/stat" | awk -v hz="$HZ" '{ printf "%.0f\n", ($12 + $13) * 1e9 / hz }'
            fi
        done 2>/dev/null
    }
    threads >"$ROOT/threads0"
    t0="$(date +%s.%N)"
    sleep "$SECS"
    t1="$(date +%s.%N)"
    threads >"$ROOT/threads1"
    # Threads started in the window count from zero.
    awk -v t0="$t0" -v t1="$t1" -v m="$1" -v p="$2" '
        NR == FNR { start[$1] = $3; next }
        { used = ($3 - start[$1]) / 1e9; cpu += used; if (100 * used / (t1 - t0) >= 0.005) line[$1] = sprintf("    %-14s %5.2f%%", $2, 100 * used / (t1 - t0)) }
        END {
            printf "%-6s %-6s %5.2f%% of one core (%.3f s over %.0f s)\n", m, p, 100 * cpu / (t1 - t0), cpu, t1 - t0
            for (k in line) print line[k] | "sort -k2 -rn"
        }
    ' "$ROOT/threads0" "$ROOT/threads1"
    stop_unit
}

echo "idle processor load, $(date -u +%Y-%m-%d), load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
for m in ${HELIX_IDLE_MODES:-gen tav ft817}; do
    for p in ${HELIX_IDLE_PACINGS:-event sleep}; do
        measure "$m" "$p"
    done
done

#!/bin/sh
# Idle load of the whole controller on the simulated unit, in each working
# mode, started by ./scripts/run-sim.sh exactly as a developer runs it: every
# thread it starts (the GPIO thread's 2 ms key scan, the keyboard thread with
# the simulated keyboard plugged in, the power-board link, the supervisor, the
# radio link of the mode), the power board polled, the radio followed, nobody
# at the keys. Prints the processor time the helix process used over a
# wall-clock window (the scheduler's run time of each thread) as a share of
# one core, in all and per thread, for the links paced by event (now) and by
# the fixed sleeps of before (HELIX_PACING=sleep), measured one after the
# other in the same run. The simulators and the page are not counted.
#
# usage: bench/idle_cpu.sh [SECONDS]   (default 60 per mode and pacing;
#        BUILD_DIR as for build.sh, built with BUILD_TARGETS=sim-unit or all)
# HELIX_IDLE_MODES: the modes (default "gen tav ft817 net udp", as HELIX_SIM_MODE
# of run-sim.sh; net needs rigctld, udp is the logger mode, which idles with
# no datagrams coming)
# HELIX_IDLE_PACINGS: the pacings (default "event sleep")
# HELIX_IDLE_AUDIO=1: remote audio on as well (capture and playback threads
# on the root's null sound device), no peer.
set -e
cd "$(dirname "$0")/.."
case "${BUILD_DIR:-build}" in
/*) B="$BUILD_DIR" ;;
*) B="$(pwd)/${BUILD_DIR:-build}" ;;
esac
SECS="${1:-60}"
for exe in helix helix-sim-simroot helix-sim-board helix-sim-radio helix-sim-keyboard; do
    [ -x "$B/$exe" ] || { echo "missing $B/$exe (build first)" >&2; exit 1; }
done

ROOT="" SIM="" HELIX=""
stop_unit() {
    # run-sim.sh stops the controller, the simulators and the page itself.
    if [ -n "$SIM" ]; then
        kill -TERM "$SIM" 2>/dev/null || true
        wait "$SIM" 2>/dev/null || true
    fi
    [ -n "$ROOT" ] && rm -rf "$ROOT" "$ROOT.out"
    ROOT="" SIM="" HELIX=""
}
trap stop_unit EXIT INT TERM

# The controller run-sim.sh started on ROOT: the helix program of the build
# whose environment names that root.
helix_pid() {
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$B/helix" ] || continue
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "HELIX_ROOT=$ROOT" && echo "${p#/proc/}"
    done
    true
}

# measure MODE PACING: one line in all, then the threads, busiest first.
measure() {
    ROOT="$(mktemp -d "${TMPDIR:-/tmp}/helix-root-XXXXXX")"
    if [ "${HELIX_IDLE_AUDIO:-0}" = 1 ]; then
        # A root of our own with audio on (run-sim.sh keeps an existing setup).
        "$B/helix-sim-simroot" "$ROOT" >/dev/null
        printf 'AutoTuneMode: 1\nEnableRead: 1\nEnableWrite: 1\n' >"$ROOT/opt/set/setup.txt"
    fi
    pacing=""
    [ "$2" = sleep ] && pacing=sleep
    HELIX_SIM_BUILT=1 BUILD_DIR="$B" HELIX_SIM_ROOT="$ROOT" HELIX_SIM_MODE="$1" \
        HELIX_PANEL_PORT=0 HELIX_RIGCTLD_PORT=0 HELIX_PACING="$pacing" \
        ./scripts/run-sim.sh >"$ROOT.out" 2>&1 </dev/null &
    SIM=$!
    # The splash takes about twelve seconds, the update clean-up thirty;
    # then only the steady threads run.
    n=0
    until grep -q "Timer thread started" "$ROOT/var/log/helix.log" 2>/dev/null; do
        n=$((n + 1))
        [ $n -gt 60 ] && { echo "the supervisor did not start" >&2; exit 1; }
        kill -0 "$SIM" 2>/dev/null || { echo "run-sim.sh ended" >&2; cat "$ROOT.out" >&2; exit 1; }
        sleep 1
    done
    HELIX="$(helix_pid)"
    [ -n "$HELIX" ] || { echo "no controller on $ROOT" >&2; exit 1; }
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
for m in ${HELIX_IDLE_MODES:-gen tav ft817 net udp}; do
    for p in ${HELIX_IDLE_PACINGS:-event sleep}; do
        measure "$m" "$p"
    done
done

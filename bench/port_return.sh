#!/bin/sh
# Time from a port's return to the first command on its wire, for each link:
# the real controller on a simulated root (run as a service is: a session
# leader), the simulator killed and started again on a new pseudo-terminal
# at the same path.
#   bench/port_return.sh [BUILD_DIR]
# Prints one line per link: the link, the mode, the command waited for and
# the milliseconds from the simulator's restart to that command on the
# board's wire.
set -e
B="$(cd "${1:-build}" && pwd)"
T="$(mktemp -d)"
PIDS=""
trap 'kill $PIDS 2>/dev/null || true; wait 2>/dev/null; rm -rf "$T"' EXIT INT TERM

now() { date +%s.%3N; }
# Seconds of the day of a wire-log stamp HH:MM:SS.mmm.
stamp_secs() { echo "$1" | awk -F'[:.]' '{ printf "%.3f", $1 * 3600 + $2 * 60 + $3 + $4 / 1000 }'; }
day_secs() { date +%H:%M:%S.%3N | awk -F'[:.]' '{ printf "%.3f", $1 * 3600 + $2 * 60 + $3 + $4 / 1000 }'; }

# wait_wire ROOT TEXT FROM_LINE [SECONDS]: the stamp of the first line after
# FROM_LINE holding TEXT ("never" after SECONDS, 10 by default).
wait_wire() {
    i=0
    while [ $i -lt $((${4:-10} * 20)) ]; do
        line=$(tail -n +"$(($3 + 1))" "$1/sim-board.wire" 2>/dev/null | grep -m1 -F "$2" || true)
        if [ -n "$line" ]; then
            echo "${line%% *}"
            return 0
        fi
        sleep 0.05
        i=$((i + 1))
    done
    echo "never"
    return 1
}

start_board() { "$B/helix-sim-board" --root "$1" --quiet >/dev/null 2>&1 & BOARD=$!; PIDS="$PIDS $!"; }
start_radio() { "$B/helix-sim-radio" --root "$1" $2 >/dev/null 2>&1 </dev/null & RADIO=$!; PIDS="$PIDS $!"; }

report() { # link mode command restart-secs wire-stamp
    if [ "$5" = never ]; then
        printf '%-12s %-7s %-18s never\n' "$1" "$2" "$3"
    else
        awk -v a="$4" -v b="$(stamp_secs "$5")" -v l="$1" -v m="$2" -v c="$3" \
            'BEGIN { printf "%-12s %-7s %-18s %5.0f ms\n", l, m, c, (b - a) * 1000 }'
    fi
}

run_mode() { # mode marker radio-flag
    R="$T/$1"
    "$B/helix-sim-simroot" "$R" >/dev/null
    printf '%s\n' "$2" >"$R/opt/set/antenna_b1.txt.new"
    grep -v '^!' "$R/opt/set/antenna_b1.txt" >>"$R/opt/set/antenna_b1.txt.new" 2>/dev/null || true
    mv "$R/opt/set/antenna_b1.txt.new" "$R/opt/set/antenna_b1.txt"
    start_board "$R"
    start_radio "$R" "$3 --freq 14074000"
    sleep 1
    (cd "$B" && HELIX_ROOT="$R" PATH="$R/bin:$B:$PATH" exec setsid ./helix >/dev/null 2>"$R/helix.trace") &
    PIDS="$PIDS $!"
    wait_wire "$R" "FA00014074000;" 0 60 >/dev/null || { echo "$1: the unit never started" >&2; return; }

    # The power board: killed, then back on a new pseudo-terminal (its wire
    # log starts again); the first command of the start-up set is "VSM;".
    kill "$BOARD"
    sleep 3
    rm -f "$R/sim-board.wire"
    t0=$(day_secs)
    start_board "$R"
    report "power board" "$1" "VSM;" "$t0" "$(wait_wire "$R" "VSM;" 0 || true)"

    # The radio: killed, then back at another frequency.
    sleep 2
    kill "$RADIO"
    sleep 3
    n=$(wc -l <"$R/sim-board.wire")
    t0=$(day_secs)
    start_radio "$R" "$3 --freq 7074000"
    report "radio" "$1" "FA00007074000;" "$t0" "$(wait_wire "$R" "FA00007074000;" "$n" || true)"
}

run_mode ft817 '!817' --ft817
run_mode tav '!Tav' --tav

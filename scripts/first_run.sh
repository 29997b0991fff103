#!/bin/sh
# The first ./scripts/run-sim.sh of a fresh clone, timed: the repository as
# committed (HEAD) is cloned into a scratch directory and run there with no
# build directory and a new root, until its page answers; then it is stopped.
# Prints the seconds to the page and the load average before and after.
#
#   scripts/first_run.sh                      the compiler cache as it is
#   CCACHE_DISABLE=1 scripts/first_run.sh     every file compiled
set -e
cd "$(dirname "$0")/.."
T="$(mktemp -d "${TMPDIR:-/tmp}/helix-first-run-XXXXXX")"
RUN=""
cleanup() {
    [ -n "$RUN" ] && kill -TERM "$RUN" 2>/dev/null && wait "$RUN" 2>/dev/null
    rm -rf "$T"
}
trap cleanup EXIT INT TERM
git clone -q "$(pwd)" "$T/clone"
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
load0=$(cut -d' ' -f1-3 /proc/loadavg)
t0=$(date +%s.%N)
(cd "$T/clone" && HELIX_SIM_ROOT="$T/root" HELIX_PANEL_PORT="$PORT" exec ./scripts/run-sim.sh) \
    >"$T/run.log" 2>&1 &
RUN=$!
until curl -sf -o /dev/null "http://127.0.0.1:$PORT/api/state"; do
    kill -0 "$RUN" 2>/dev/null || { cat "$T/run.log" >&2; echo "run-sim.sh ended" >&2; exit 1; }
    sleep 0.5
done
t1=$(date +%s.%N)
load1=$(cut -d' ' -f1-3 /proc/loadavg)
built=$(grep -c "Building CXX" "$T/run.log" || true)
awk -v a="$t0" -v b="$t1" -v n="$built" -v l0="$load0" -v l1="$load1" -v c="$(nproc)" \
    -v cc="${CCACHE_DISABLE:+, compiler cache off}" 'BEGIN {
    printf "first run of a fresh clone: the page after %.0f s (%d objects built%s)\n", b - a, n, cc
    printf "load average before %s, after %s (%d cores)\n", l0, l1, c }'

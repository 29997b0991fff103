#!/bin/sh
# Redraws docs/sim-panel-client.png: the page of the client of a remote pair
# (./scripts/run-sim.sh --pair) once its link to the server is up, taken in
# headless Chromium (scripts/pair_picture.js; the tests' Node modules, which
# scripts/deps.sh installs).
#
#   scripts/pair_picture.sh [OUT]   (default docs/sim-panel-client.png;
#                                    BUILD_DIR as for build.sh, built)
set -e
cd "$(dirname "$0")/.."
OUT="${1:-docs/sim-panel-client.png}"
case "${BUILD_DIR:-build}" in
/*) B="$BUILD_DIR" ;;
*) B="$(pwd)/${BUILD_DIR:-build}" ;;
esac
DIR="$(mktemp -d "${TMPDIR:-/tmp}/helix-pair-XXXXXX")"
SIM=""
stop() {
    [ -n "$SIM" ] && { kill -TERM "$SIM" 2>/dev/null || true; wait "$SIM" 2>/dev/null || true; }
    rm -rf "$DIR"
}
trap stop EXIT INT TERM
PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
HELIX_SIM_BUILT=1 BUILD_DIR="$B" HELIX_SIM_ROOT="$DIR/unit" HELIX_PANEL_PORT="$PORT" \
    ./scripts/run-sim.sh --pair >"$DIR/out" 2>&1 </dev/null &
SIM=$!
n=0
until grep -q '^open ' "$DIR/out"; do
    n=$((n + 1))
    [ $n -le 60 ] && kill -0 "$SIM" 2>/dev/null || { cat "$DIR/out" >&2; exit 1; }
    sleep 1
done
URL="$(sed -n 's/^open .* and \(http[^ ]*\) (client)$/\1/p' "$DIR/out")"
node scripts/pair_picture.js "$URL" "$DIR/unit-pair-client" "$OUT"
echo "$OUT"

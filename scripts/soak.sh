#!/bin/sh
# Soak run of the simulated unit: runs the real controller on a simulated root
# with traffic for MINUTES (default 60) and records its resident memory, open
# descriptors and threads; exits non-zero when they grow or the controller
# dies.
#
#   ./scripts/soak.sh [MINUTES]
#
# Traffic: a radio QSY every few seconds, an automatic tune from the keys now
# and then (load, drive and transmit set on the simulators around it), a
# remote peer connected to the unit's WebSocket server (it drops and
# reconnects every few minutes), and a board fault (silence, bad CRC, cut or
# refused reply, garbage) now and then.
#
# Environment: BUILD_DIR (build) the build with helix and the simulators,
# SOAK_ROOT (a fresh temporary directory) the simulated root, SOAK_CSV
# (<root>/soak.csv) the samples, SOAK_INTERVAL seconds between samples (60;
# 10 for runs under 10 minutes), SOAK_PORT (a free one near 7700) the
# WebSocket port, SOAK_KEEP=1 keeps the root.
#
# Verdict ("flat"): the last quarter's average resident memory is within 5 %
# + 1 MiB of the second quarter's, and neither the descriptors nor the
# threads of the last quarter go above the second quarter's highest + 2
# (a peer's connection coming and going moves them by one or two).
set -u
cd "$(dirname "$0")/.."
MINUTES="${1:-60}"
case "$MINUTES" in
'' | *[!0-9]*) echo "usage: $0 [MINUTES]" >&2; exit 2 ;;
esac
[ "$MINUTES" -ge 1 ] || { echo "usage: $0 [MINUTES] (at least 1)" >&2; exit 2; }
B="${BUILD_DIR:-build}"
case "$B" in /*) ;; *) B="$(pwd)/$B" ;; esac
for t in helix helix-sim-simroot helix-sim-board helix-sim-radio helix-sim-keys; do
    [ -x "$B/$t" ] || { echo "soak: $B/$t missing (build first)" >&2; exit 2; }
done
command -v node >/dev/null 2>&1 || { echo "soak: node missing (scripts/deps.sh)" >&2; exit 2; }
if [ -n "${SOAK_INTERVAL:-}" ]; then
    INTERVAL="$SOAK_INTERVAL"
elif [ "$MINUTES" -lt 10 ]; then
    INTERVAL=10
else
    INTERVAL=60
fi
ROOT="${SOAK_ROOT:-$(mktemp -d /tmp/helix-soak.XXXXXX)}"
mkdir -p "$ROOT"
ROOT="$(cd "$ROOT" && pwd)"
CSV="${SOAK_CSV:-$ROOT/soak.csv}"
PORT="${SOAK_PORT:-$((7700 + $$ % 200))}"

PIDS=""
HELIX=""
cleanup() {
    trap - INT TERM EXIT
    for p in $PIDS; do kill "$p" 2>/dev/null; done
    # The controller ends on SIGTERM after its shutdown; give it time.
    if [ -n "$HELIX" ]; then
        i=0
        while kill -0 "$HELIX" 2>/dev/null && [ $i -lt 30 ]; do sleep 1; i=$((i + 1)); done
        kill -9 "$HELIX" 2>/dev/null
    fi
    wait 2>/dev/null
    [ "${SOAK_KEEP:-0}" = 1 ] || [ -n "${SOAK_ROOT:-}" ] || rm -rf "$ROOT"
}
trap 'cleanup; exit 130' INT TERM
trap cleanup EXIT

"$B/helix-sim-simroot" "$ROOT" >/dev/null || { echo "soak: no simulated root" >&2; exit 1; }
# The unit serves the remote link and has the tuner fitted with the automatic
# tune on; everything else as the root comes (bank 1 in generic mode: the
# frequency is the board's measured one, the carrier its transmit bit).
SETUP="$ROOT/opt/set/setup.txt"
touch "$SETUP"
{
    grep -v '^WebSocket:\|^TcpPort:\|^TUNEenabled:\|^AutoTuneMode:' "$SETUP" || true
    printf 'WebSocket: 1\nTcpPort: %s\nTUNEenabled: 0\nAutoTuneMode: 1\n' "$PORT"
} >"$SETUP.new"
mv "$SETUP.new" "$SETUP"
# The server on loopback only (the peer is local).
echo "RemoteBind: 127.0.0.1" >>"$ROOT/opt/set/options.txt"
# Every band of bank 1 with the amplifier in line and the tuner not bypassed,
# so the tune key starts a tune on any band.
BANK1="$ROOT/opt/set/antenna_b1.txt"
if [ -f "$BANK1" ]; then
    awk '/^!/ { print; next } NF >= 8 { $4 = 1; $6 = 0 } { print }' "$BANK1" >"$BANK1.new"
    mv "$BANK1.new" "$BANK1"
fi
mkdir -p "$ROOT/var/log"

# The remote peer: a plain RFC 6455 client on Node's sockets (the unit's
# handshake wants its own Connection line), the access phrase as the first
# (masked) text frame, then it reads and counts every frame; it leaves after
# a few minutes and comes back, and reconnects at once when the unit drops it.
cat >"$ROOT/soak-peer.js" <<'EOF'
'use strict';
const net = require('net');
const crypto = require('crypto');
const [port, phrase, stayS] = process.argv.slice(2);
let frames = 0, bytes = 0, sessions = 0;
function connect() {
  const s = net.connect(Number(port), '127.0.0.1');
  let buf = Buffer.alloc(0), open = false;
  s.on('connect', () => {
    sessions++;
    const key = crypto.randomBytes(16).toString('base64');
    s.write(`GET /chat HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n` +
      `Sec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: chat\r\n` +
      `Sec-WebSocket-Key: ${key}\r\nConnection: keep-alive, Upgrade\r\n` +
      `Upgrade: websocket\r\n\r\n`);
    setTimeout(() => s.end(), Number(stayS) * 1000);
  });
  s.on('data', (d) => {
    buf = Buffer.concat([buf, d]);
    if (!open) {
      const end = buf.indexOf('\r\n\r\n');
      if (end < 0) return;
      if (!buf.subarray(0, end).toString('latin1').startsWith('HTTP/1.1 101')) { s.destroy(); return; }
      open = true;
      buf = buf.subarray(end + 4);
      const p = Buffer.from(phrase, 'latin1');
      const mask = crypto.randomBytes(4);
      const f = Buffer.alloc(6 + p.length);
      f[0] = 0x81; f[1] = 0x80 | p.length; mask.copy(f, 2);
      for (let i = 0; i < p.length; i++) f[6 + i] = p[i] ^ mask[i % 4];
      s.write(f);
    }
    for (;;) {
      if (buf.length < 2) return;
      let n = buf[1] & 0x7f, h = 2;
      if (n === 126) { if (buf.length < 4) return; n = buf.readUInt16BE(2); h = 4; }
      else if (n === 127) { s.destroy(); return; }
      if (buf.length < h + n) return;
      frames++; bytes += h + n;
      buf = buf.subarray(h + n);
    }
  });
  s.on('error', () => {});
  s.on('close', () => setTimeout(connect, 2000));
}
setInterval(() => console.log(`${new Date().toISOString()} sessions ${sessions} frames ${frames} bytes ${bytes}`), 60000);
connect();
EOF

"$B/helix-sim-board" --root "$ROOT" --quiet >"$ROOT/var/log/sim-board.out" 2>&1 </dev/null &
PIDS="$PIDS $!"
"$B/helix-sim-radio" --root "$ROOT" >/dev/null 2>"$ROOT/var/log/sim-radio.err" </dev/null &
PIDS="$PIDS $!"
sleep 1
(cd "$B" && HELIX_ROOT="$ROOT" PATH="$ROOT/bin:$B:$PATH" exec ./helix >"$ROOT/var/log/helix.out" 2>"$ROOT/var/log/helix.trace" </dev/null) &
HELIX=$!

# ctl FIFO LINE: one control line to a simulator (never blocks for long).
ctl() { timeout 2 sh -c 'printf "%s\n" "$2" >"$1"' _ "$ROOT/$1" "$2" 2>/dev/null || true; }
key() { "$B/helix-sim-keys" --root "$ROOT" "$1" "${2:-short}" >/dev/null 2>&1 || true; sleep 0.3; }
sample() {
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$HELIX/status" 2>/dev/null)
    thr=$(awk '/^Threads:/ {print $2}' "/proc/$HELIX/status" 2>/dev/null)
    fds=$(ls "/proc/$HELIX/fd" 2>/dev/null | wc -l)
    [ -n "$rss" ] || return 1
    echo "$1,$rss,$fds,$thr" >>"$CSV"
}

# Start-up (splash, links, the first status) takes several seconds.
sleep 20
if ! kill -0 "$HELIX" 2>/dev/null; then
    echo "soak: the controller ended during start-up; trace tail:" >&2
    tail -20 "$ROOT/var/log/helix.trace" >&2
    exit 1
fi
node "$ROOT/soak-peer.js" "$PORT" tarabantulio 240 >"$ROOT/var/log/peer.out" 2>&1 </dev/null &
PIDS="$PIDS $!"

echo "elapsed_s,vmrss_kb,fds,threads" >"$CSV"
echo "soak: $MINUTES min on $ROOT, pid $HELIX, samples every ${INTERVAL}s to $CSV"
START=$(date +%s)
END=$((START + MINUTES * 60))
NEXT=$START
TICK=0
FREQS="1840000 3573000 7074000 10136000 14074000 18100000 21074000 24915000 28074000 50313000"
FAULTS="silent 2|badcrc 1|cut|refuse 1|garbage ZZ;|lowercrc 1|cut ST"
LOADS="50 0|25 10|100 -40|200 0|12 30|75 60"
tunes=0 faults=0 qsys=0
nth() { echo "$1" | tr '|' '\n' | sed -n "$(($2 + 1))p"; }
while :; do
    now=$(date +%s)
    [ "$now" -ge "$END" ] && break
    if ! kill -0 "$HELIX" 2>/dev/null; then
        echo "soak: the controller ended after $((now - START)) s" >&2
        tail -20 "$ROOT/var/log/helix.trace" >&2
        exit 1
    fi
    if [ "$now" -ge "$NEXT" ]; then
        sample "$((now - START))" && tail -1 "$CSV"
        NEXT=$((NEXT + INTERVAL))
    fi
    # A QSY every 4 s: the board's measured frequency (generic mode) and the
    # radio's.
    set -- $FREQS
    i=$((TICK % $#))
    shift $i
    ctl sim-board.ctl "freq $1"
    ctl sim-radio.ctl "freq $1"
    qsys=$((qsys + 1))
    # A board fault every ~40 s.
    if [ $((TICK % 10)) -eq 5 ]; then
        ctl sim-board.ctl "$(nth "$FAULTS" $((faults % 7)))"
        faults=$((faults + 1))
    fi
    # A tune every ~80 s (the first at 20 s): load, carrier, TUNE from the
    # main menu, the tune key; carrier off after it and back to the main menu.
    if [ $((TICK % 20)) -eq 5 ]; then
        ctl sim-board.ctl "load $(nth "$LOADS" $((tunes % 6)))"
        ctl sim-board.ctl "drive 0.5"
        ctl sim-radio.ctl "tx 1"
        key 4
        key 4
        sleep 12
        ctl sim-board.ctl "drive 0"
        ctl sim-radio.ctl "tx 0"
        sleep 2
        key 1
        tunes=$((tunes + 1))
    fi
    TICK=$((TICK + 1))
    sleep 4
done
sample "$(($(date +%s) - START))" && tail -1 "$CSV"
echo "soak: $qsys QSYs, $tunes tunes, $faults board faults; peer: $(tail -1 "$ROOT/var/log/peer.out" 2>/dev/null)"
grep -c "^" "$ROOT/var/log/helix.trace" >/dev/null 2>&1 &&
    echo "soak: trace $(wc -l <"$ROOT/var/log/helix.trace") lines; errors in it: $(grep -ci 'error' "$ROOT/var/log/helix.trace")"

# The verdict over the samples (header left out).
awk -F, 'BEGIN { n = 0 } NR > 1 { t[n] = $1; r[n] = $2; f[n] = $3; h[n] = $4; n++ }
END {
    if (n < 4) { print "soak: too few samples (" n ")"; exit 1 }
    q = int(n / 4); if (q < 1) q = 1
    s2 = q; e2 = 2 * q; s4 = n - q
    for (i = s2; i < e2; i++) { r2 += r[i]; if (f[i] > f2) f2 = f[i]; if (h[i] > h2) h2 = h[i] }
    for (i = s4; i < n; i++) { r4 += r[i]; if (f[i] > f4) f4 = f[i]; if (h[i] > h4) h4 = h[i] }
    r2 /= (e2 - s2); r4 /= (n - s4)
    printf "soak: %d samples; VmRSS kB first %d, 2nd-quarter avg %.0f, last-quarter avg %.0f, last %d; fds 2nd-quarter max %d, last-quarter max %d; threads %d -> %d\n", n, r[0], r2, r4, r[n-1], f2, f4, h2, h4
    bad = 0
    if (r4 > r2 * 1.05 + 1024) { print "soak: resident memory grows"; bad = 1 }
    if (f4 > f2 + 2) { print "soak: descriptors grow"; bad = 1 }
    if (h4 > h2 + 2) { print "soak: threads grow"; bad = 1 }
    if (!bad) print "soak: flat"
    exit bad
}' "$CSV"

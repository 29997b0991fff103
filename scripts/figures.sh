#!/bin/sh
# Reruns the scripts and benchmarks behind the figures in docs/ and rewrites
# each figure between its markers in docs/*.md (or README.md):
#
#   <!-- figure NAME -->
#   (the command, the date, the load average and the cores)
#   (the table or the output)
#   <!-- /figure NAME -->
#
#   scripts/figures.sh             every quick figure (several minutes)
#   scripts/figures.sh NAME...     these figures only
#   scripts/figures.sh --long      the quick and the long ones (about an hour
#                                  and a half: the soak hour, the whole test
#                                  command, the crash-safety runs, a cold
#                                  first run)
#   scripts/figures.sh --list      the figure names
#
# Builds the benchmarks first (BUILD_DIR, default build). The machine may be
# shared: each figure carries the load average before and after its run.
#
# One line per figure source below: fig NAME quick|long FORMAT COMMAND, where
# FORMAT is how its output goes into the docs (text: as it is printed;
# markdown: a table it prints itself; gbench / gbench-speedup: Google
# Benchmark's JSON as a table, see scripts/figures.py) and COMMAND is run by
# sh from the repository with $B the build directory.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
LONG=0
LIST=0
WANT=""
for a in "$@"; do
    case "$a" in
    --long) LONG=1 ;;
    --list) LIST=1 ;;
    -*) echo "usage: $0 [--long] [--list] [NAME...]" >&2; exit 2 ;;
    *) WANT="$WANT $a " ;;
    esac
done
# The list needs no build (a fresh clone has none).
if [ "$LIST" = 0 ]; then
    ./scripts/build.sh >/dev/null
    B="$(cd "$BUILD_DIR" && pwd)"
    export B
fi
JSON="--benchmark_format=json"

fig() { # NAME quick|long FORMAT COMMAND
    name=$1 kind=$2 format=$3 cmd=$4
    if [ "$LIST" = 1 ]; then echo "$name ($kind): $cmd"; return; fi
    if [ -n "$WANT" ]; then
        case "$WANT" in *" $name "*) ;; *) return ;; esac
    elif [ "$kind" = long ] && [ "$LONG" = 0 ]; then
        return
    fi
    echo "--- $name: $cmd" >&2
    load0=$(cut -d' ' -f1-3 /proc/loadavg)
    out=$(sh -c "$cmd") || { echo "--- $name failed; its figure is left as it was" >&2; return; }
    load1=$(cut -d' ' -f1-3 /proc/loadavg)
    shown=$(printf '%s' "$cmd" | sed 's|"\$B"|build|g; s|\$B|build|g; s| --benchmark_format=json||g')
    note="*\`scripts/figures.sh $name\`: \`$shown\`, $(date +%F), load average (1, 5, 15 min) $load0 before and $load1 after, $(nproc) cores.*"
    printf '%s\n' "$out" | python3 scripts/figures.py render "$format" |
        python3 scripts/figures.py put "$name" "$note"
}

fig layers quick text "python3 scripts/layers.py"
fig text-cache quick gbench-speedup "\"\$B/helix-bench-text-cache\" $JSON"
fig supervisor-pass quick markdown "cd \"\$B\" && ./helix-bench-supervisor-pass"
fig spectrum quick gbench "\"\$B/helix-bench-spectrum\" --benchmark_repetitions=3 $JSON"
fig jpeg quick text "\"\$B/helix-bench-jpeg\" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1 | sed -n '/ours \\/ libjpeg-turbo/,\$p'"
fig jpeg-no-simd quick text "\"\$B/helix-bench-jpeg\" --no-simd --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1 | sed -n '/ours \\/ libjpeg-turbo/,\$p'"
fig unit-tests quick text "cd \"\$B\" && ctest -N -L unit | tail -1"
fig idle-cpu quick text "BUILD_DIR=\"\$B\" bench/idle_cpu.sh 60"
fig idle-cpu-audio quick text "HELIX_IDLE_AUDIO=1 HELIX_IDLE_MODES=ft817 BUILD_DIR=\"\$B\" bench/idle_cpu.sh 30"
fig qsy quick text "cd \"\$B\" && ./helix-bench-qsy 20"
fig qsy-logger quick text "cd \"\$B\" && ./helix-bench-qsy 20 udp"
fig port-return quick text "bench/port_return.sh \"\$B\""
fig tune quick markdown "cd \"\$B\" && ./helix-bench-tune"
fig first-run quick text "scripts/first_run.sh"
fig explore long text "\"\$B/helix-explore\" --count 10000 --events 100"
fig first-run-cold long text "CCACHE_DISABLE=1 scripts/first_run.sh"
fig soak-hour long text "BUILD_DIR=\"\$B\" scripts/soak.sh 60 | grep '^soak:'"
fig crash-states quick text "scripts/crash_states.sh \"\$B\""
fig guessing quick text "cd \"\$B\" && ctest -R RemoteFaultsEndToEnd.GuessingSlowed -V 2>&1 | grep 'guessing for' | sed 's/^[0-9]*: //'"
fig crash-safety long text "cd \"\$B\" && ctest -R CrashSafety -V 2>&1 | grep -E 'kills|rounds|torn'"
fig test-command long text "scripts/test.sh 2>&1 | tail -7"

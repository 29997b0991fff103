#!/bin/sh
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each in turn for
# SECONDS seconds (default 60), one process at a time (no -jobs), nice'd. Each run starts
# from the committed corpus fuzz/corpus/<target> and writes what it finds to
# ${FUZZ_WORK:-build-fuzz/corpus}/<target>; crashers land in
# ${FUZZ_WORK}/crash-<target>-*. Run with RUNS=N to stop each target after N
# executions instead. TARGETS="board tav" picks targets. Prints each target's
# executions from libFuzzer's final statistics; exits 1 when any target failed.
#
# Minimise a grown corpus back into the committed one with:
#   mkdir NEW; build-fuzz/helix-<target>-fuzz -merge=1 -use_counters=0 NEW \
#       fuzz/corpus/<target> build-fuzz/corpus/<target>
# (edges only, which keeps it to tens of files) and replace fuzz/corpus/<target> with NEW.
set -u
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
WORK="${FUZZ_WORK:-$BUILD_DIR/corpus}"
TARGETS="${TARGETS:-board tav ft817 setup band fan filter bank atu network utf8 wsocket radioinfo jpeg}"

binary() {
    if [ "$1" = jpeg ]; then echo helix-fuzz-jpeg; else echo "helix-$1-fuzz"; fi
}

CXX=clang++ CC=clang cmake -S . -B "$BUILD_DIR" -DHELIX_FUZZ=ON -DHELIX_SANITIZE=address,undefined \
    >/dev/null || exit 1
bins=""
for t in $TARGETS; do bins="$bins $(binary "$t")"; done
nice -n 10 cmake --build "$BUILD_DIR" -j2 --target $bins || exit 1

failed=0
printf '%-10s %12s  %s\n' target executions result
for t in $TARGETS; do
    mkdir -p "$WORK/$t"
    log="$WORK/$t.log"
    limit="-max_total_time=$SECONDS_EACH"
    [ -n "${RUNS:-}" ] && limit="-runs=$RUNS"
    # -close_fd_mask=3: the parsers' traces are not wanted; the sanitizers'
    # reports still reach the log.
    nice -n 10 "$BUILD_DIR/$(binary "$t")" $limit -close_fd_mask=3 \
        -print_final_stats=1 -artifact_prefix="$WORK/crash-$t-" \
        "$WORK/$t" "fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ $rc -eq 0 ]; then result=ok; else result="FAILED (see $log)"; failed=1; fi
    printf '%-10s %12s  %s\n' "$t" "${runs:-?}" "$result"
done
exit $failed

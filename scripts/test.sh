#!/bin/sh
# Installs what is missing, then builds and tests every variant, one step at a
# time; any failure (or sanitizer report) fails the run. Each step prints its
# time. HELIX_TEST_VARIANTS picks steps (default: all), for example
#   HELIX_TEST_VARIANTS="pc asan" ./scripts/test.sh
#   pc     the PC build, every test (unit, component, package)
#   arm64  the board's build (aarch64), unit tests under qemu-aarch64
#   armhf  the 32-bit board's build (arm-linux-gnueabihf), the controller only
#   asan   every test under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan   the unit tests (the in-process threaded ones) under ThreadSanitizer
set -e
cd "$(dirname "$0")/.."
VARIANTS="${HELIX_TEST_VARIANTS:-pc arm64 armhf asan tsan}"
JOBS="$(nproc)"

./scripts/deps.sh

if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=true
else
    LAUNCHER=""
fi
# Configure and build a variant: build dir, targets, cmake arguments...
variant_build() {
    dir="$1" targets="$2"
    shift 2
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" $LAUNCHER \
        -DHELIX_BENCH=OFF "$@" >/dev/null
    for t in $targets; do
        cmake --build "$dir" --target "$t" -j"$JOBS"
    done
}
run_ctest() { # build dir, ctest arguments...
    dir="$1"
    shift
    (cd "$dir" && ctest --output-on-failure -j"$JOBS" --timeout 600 "$@")
}

# Any sanitizer report ends the process with an error, so the test fails.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

TIMES=""
step() { # name, command...
    name="$1"
    shift
    echo "=== $name"
    t0=$(date +%s)
    "$@"
    t=$(($(date +%s) - t0))
    TIMES="$TIMES$(printf '%-7s %4d:%02d' "$name" $((t / 60)) $((t % 60)))
"
    echo "=== $name passed in $((t / 60))m$((t % 60))s"
}

step_pc() {
    ./scripts/build.sh
    run_ctest "${BUILD_DIR:-build}"
}
step_arm64() {
    variant_build build-arm64 "helix helix_tests" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
    run_ctest build-arm64 -L unit
    echo "--- the package for the board"
    (cd build-arm64 && cpack -G DEB >/dev/null && ls helix_*_arm64.deb)
}
step_armhf() {
    variant_build build-armhf "helix" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
    (cd build-armhf && cpack -G DEB >/dev/null && ls helix_*_armhf.deb)
}
step_asan() {
    variant_build build-asan "all" -DHELIX_SANITIZE=address,undefined
    run_ctest build-asan
}
step_tsan() {
    variant_build build-tsan "helix_tests" -DHELIX_SANITIZE=thread
    # ThreadSanitizer needs the lower address-space randomisation of older
    # kernels; setarch -R turns it off for the test run.
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        setarch "$(uname -m)" -R sh -c 'cd build-tsan && ctest --output-on-failure -j"$0" --timeout 600 -L unit' "$JOBS"
    else
        run_ctest build-tsan -L unit
    fi
}

START=$(date +%s)
for v in $VARIANTS; do
    case "$v" in
    pc | arm64 | armhf | asan | tsan) step "$v" "step_$v" ;;
    *) echo "unknown variant $v (pc arm64 armhf asan tsan)" >&2; exit 2 ;;
    esac
done
T=$(($(date +%s) - START))
echo "=== all passed"
printf '%s' "$TIMES"
printf '%-7s %4d:%02d\n' total $((T / 60)) $((T % 60))

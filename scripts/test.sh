#!/bin/sh
# Installs what is missing, then builds and tests every variant, one step at a
# time; any failure (or sanitizer report) fails the run. Each step prints its
# time. HELIX_TEST_VARIANTS picks steps (default: all of them), for example
#   HELIX_TEST_VARIANTS="pc asan" ./scripts/test.sh
#   pc     the PC build, every test (unit, component, package)
#   arm64  the board's build (aarch64), unit tests under qemu-aarch64
#   armhf  the 32-bit board's build (arm-linux-gnueabihf), the controller only
#   asan   every test under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan   the unit tests (the in-process threaded ones) under ThreadSanitizer
set -e
cd "$(dirname "$0")/.."
VARIANTS="${HELIX_TEST_VARIANTS:-pc arm64 armhf asan tsan}"
export HELIX_TEST_VARIANTS="$VARIANTS"
JOBS="$(nproc)"
# Tests run one more at a time than there are cores: the long ones mostly
# wait on the programs they drive.
TEST_JOBS=$((JOBS + 1))

./scripts/deps.sh

# The layers of src/: no upward include, no cycle (scripts/layers.py).
python3 scripts/layers.py

if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    # The tests' precompiled header is cached only with these sloppiness options.
    export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=true \
        CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
else
    LAUNCHER=""
fi
# Configure and build a variant: build dir, targets, cmake arguments...
variant_build() {
    dir="$1" targets="$2"
    shift 2
    # The package (cpack) then builds only what it installs, not every target.
    cmake -S . -B "$dir" $LAUNCHER -DHELIX_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
        "$@" >/dev/null
    for t in $targets; do
        cmake --build "$dir" --target "$t" -j"$JOBS"
    done
}
# The board's builds as the product is built; the sanitizer builds at -O1 with
# line tables only, which compiles much faster and keeps the reports readable.
CROSS="-DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}"
sanitized_build() { # build dir, targets, sanitizers
    variant_build "$1" "$2" -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" \
        "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" -DHELIX_SANITIZE="$3"
}
run_ctest() { # build dir, ctest arguments...
    dir="$1"
    shift
    (cd "$dir" && ctest --no-tests=error --output-on-failure -j"$TEST_JOBS" --timeout 600 "$@")
}

# Any sanitizer report ends the process with an error, so its test fails. The
# reports also go to files under <build>/sanitizer-reports, which catches the
# programs the tests start (the controller, the simulators) too: any file
# there after the run fails the step.
sanitized_ctest() { # build dir, ctest arguments...
    dir="$1"
    shift
    reports="$(pwd)/$dir/sanitizer-reports"
    rm -rf "$reports"
    mkdir -p "$reports"
    status=0
    ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:log_path=$reports/asan" \
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan" \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan" \
        $SETARCH sh -c 'cd "$0" && ctest --output-on-failure -j"$1" --timeout 600 "$@"' \
        "$dir" "$TEST_JOBS" "$@" || status=1
    if [ -n "$(ls -A "$reports")" ]; then
        for f in "$reports"/*; do
            echo "--- $f"
            cat "$f"
        done
        echo "sanitizer reports in $reports" >&2
        status=1
    fi
    return $status
}
SETARCH=""

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
    # ctest runs each test alone; once more as one process in a shuffled
    # order (the seed is printed), so that no test leans on another's leftovers.
    (cd "${BUILD_DIR:-build}" && ./helix_unit_tests --gtest_shuffle --gtest_brief=1)
}
step_arm64() {
    variant_build build-arm64 "helix helix_unit_tests" $CROSS -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
    run_ctest build-arm64 -L unit
    echo "--- the package for the board"
    board_package build-arm64 arm64
}
# CPack's package of a board build, and lintian on it (no error, no warning).
board_package() { # build dir, architecture
    (cd "$1" && rm -f helix*_"$2".deb helix*_"$2".ddeb && cpack -G DEB >/dev/null &&
        ls helix_*_"$2".deb &&
        lintian --fail-on error,warning helix_*_"$2".deb)
}
step_armhf() {
    variant_build build-armhf "helix" $CROSS -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
    board_package build-armhf armhf
}
step_asan() {
    sanitized_build build-asan all address,undefined
    sanitized_ctest build-asan
}
step_tsan() {
    sanitized_build build-tsan helix_unit_tests thread
    # ThreadSanitizer needs the lower address-space randomisation of older
    # kernels; setarch -R turns randomisation off for the test run.
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        SETARCH="setarch $(uname -m) -R"
    fi
    sanitized_ctest build-tsan -L unit
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

#!/bin/sh
# The crash-state check of every save, in its full form: three saves of each
# kind (the test command runs one of each), every point of each save's
# file-system calls, every state a power cut can leave there, each read with
# the unit's readers. Prints one line per kind of save and the totals; fails
# on any violation.
#
#   scripts/crash_states.sh [BUILD_DIR]
set -e
cd "$(dirname "$0")/.."
B="${1:-${BUILD_DIR:-build}}"
BUILD_DIR="$B" BUILD_TARGETS="helix-crash-states helix-crashrec" ./scripts/build.sh >/dev/null
"$B/helix-crash-states" --full 2>/dev/null

#!/usr/bin/env bash
# Kills the program KILLS times at random moments, each time restarting it on
# the same file, and checks after every kill that the file is sound, holds
# every action the program reported finished, and holds none in part
# (tests/soak_test.cpp; CI runs 100 kills). Prints the figures at the end.
#
#   tools/soak.sh KILLS [SEED]      in the build folder $BUILD (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

kills=${1:-}
if [[ ! $kills =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 KILLS [SEED]" >&2
    exit 2
fi
build=${BUILD:-build}
if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "$0: no build in $build (run tools/bootstrap.sh test, or set BUILD)" >&2
    exit 2
fi
cmake --build "$build" --target soak_tests window_driver -j 2 >/dev/null

export BRANCHKEEPER_SOAK_KILLS=$kills
if [[ -n ${2:-} ]]; then
    export BRANCHKEEPER_SOAK_SEED=$2
fi
exec "$build/bin/soak_tests" --gtest_filter='Soak/KillSoak.*/0'

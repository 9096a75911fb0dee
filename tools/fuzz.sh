#!/usr/bin/env bash
# Fuzzes the window for SECONDS on JOBS processes (fuzz/fuzz_actions.cpp:
# libFuzzer with AddressSanitizer and UBSan drives the real window through
# user actions on stores of every shape, good and broken). The processes
# start from the seeds in fuzz/corpus and share what they find in a scratch
# folder, never in the checkout. Prints the executions and the rate; a crash,
# a sanitizer report or a broken check fails the run, prints the input that
# did it (text) and keeps it in $FUZZ_FINDINGS (/tmp/branchkeeper-fuzz-findings).
#
#   tools/fuzz.sh SECONDS [JOBS [RUNS]]   stops after SECONDS, or once the
#                                         JOBS processes made RUNS executions
#                                         together; builds in build-fuzz (clang
#                                         16, installed by tools/bootstrap.sh
#                                         test)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-}
jobs=${2:-1}
runs=${3:-0}
if [[ ! $seconds =~ ^[1-9][0-9]*$ || ! $jobs =~ ^[1-9][0-9]*$ || ! $runs =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [JOBS [RUNS]]" >&2
    exit 2
fi
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
    CC=clang-16 CXX=clang++-16 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBRANCHKEEPER_FUZZ=ON -DBRANCHKEEPER_TESTS=OFF -DBRANCHKEEPER_BENCH=OFF -DBRANCHKEEPER_WERROR=ON
fi
cmake --build build-fuzz -j "$(nproc)" --target branchkeeper-fuzz

# The store of every input is written and fsynced many times: in memory when
# the machine has a tmpfs for it.
base=/tmp
[[ -d /dev/shm && -w /dev/shm ]] && base=/dev/shm
scratch=$(mktemp -d "$base/branchkeeper-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Findings go to a folder of their own: Qt makes a runtime-USER folder in
# TMPDIR when XDG_RUNTIME_DIR is unset, and nothing else may look like one.
mkdir "$scratch/corpus" "$scratch/found"

export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-16/bin/llvm-symbolizer
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1
# Shallow allocation stacks, a small quarantine and libFuzzer's plain
# scheduler (the entropic one spends an eighth of the time on its bookkeeping
# here): about 40 % more executions a second. Replaying a finding by hand
# gives the full stacks.
export ASAN_OPTIONS=malloc_context_size=2:quarantine_size_mb=16
export TMPDIR=$scratch
# Leaks are looked for once, at the end of each process: after every input
# it would cost most of the time (Qt keeps caches that look like leaks until
# then). libFuzzer's fork mode runs the JOBS processes and merges what they
# find; with FUZZ_KEEP_GOING=1 (a long run) it goes on past a finding and
# counts them, otherwise the first one ends the run.
options=(-fork="$jobs" -max_total_time="$seconds" -timeout=30 -entropic=0 -detect_leaks=0
         -artifact_prefix="$scratch/found/")
((runs > 0)) && options+=(-runs="$runs")
[[ ${FUZZ_KEEP_GOING:-} == 1 ]] && options+=(-ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
# The seeds first, each once: they hold every finding so far, and fork mode
# would pass over a seed that fails.
# (Named one by one: given a folder, libFuzzer would add what it finds to it.)
if ! build-fuzz/bin/branchkeeper-fuzz -detect_leaks=0 -artifact_prefix="$scratch/found/" fuzz/corpus/* >"$scratch/seeds.log" 2>&1; then
    grep -v -E '^INFO|^#' "$scratch/seeds.log" | head -n 80
    echo "branchkeeper-fuzz: a seed in fuzz/corpus fails (above)"
    exit 1
fi
started=$SECONDS
failed=0
build-fuzz/bin/branchkeeper-fuzz "${options[@]}" "$scratch/corpus" fuzz/corpus >"$scratch/fuzz.log" 2>&1 || failed=1
elapsed=$((SECONDS - started))

# The last progress line: "#RUNS: cov: ... exec/s: ... oom/timeout/crash: A/B/C time: ...".
last=$(grep -E '^#[0-9]+: cov:' "$scratch/fuzz.log" | tail -n 1)
echo "$last"
total=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
echo "branchkeeper-fuzz: ${total:-0} executions in $elapsed s on $jobs process(es)," \
     "$((${total:-0} / (elapsed > 0 ? elapsed : 1))) per second," \
     "$(find "$scratch/corpus" -type f | wc -l) new inputs kept; out of memory/timeouts/crashes:" \
     "$(grep -oE 'oom/timeout/crash: [0-9/]+' <<<"$last" | cut -d' ' -f2)"
findings=${FUZZ_FINDINGS:-/tmp/branchkeeper-fuzz-findings}
if ((failed)) || compgen -G "$scratch/found/*" >/dev/null; then
    grep -E 'ERROR|branchkeeper-fuzz:|deadly signal|Test unit written' "$scratch/fuzz.log" | head -n 40 || true
    mkdir -p "$findings"
    for input in "$scratch"/found/*; do
        [[ -f $input ]] || continue
        cp "$input" "$findings/"
        echo "--- $findings/${input##*/} (replay: build-fuzz/bin/branchkeeper-fuzz FILE):"
        cat -v "$input"
        echo "---"
    done
    if ((failed)); then
        tail -n 60 "$scratch/fuzz.log"
        exit 1
    fi
fi
exit 0

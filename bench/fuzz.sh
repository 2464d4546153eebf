#!/usr/bin/env bash
# Builds every libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, runs each for SECONDS (default 60) from its seed
# corpus in tests/fuzz/corpus/, and prints executions and coverage per target.
# Exits non-zero when a target crashed; the crashing input is kept in
# build-fuzz/crashes/.
#   bench/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${TOVRIKA_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVRIKA_FUZZ=ON > /dev/null || exit 1
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target $targets > "$build/fuzz-build.log" 2>&1 \
    || { tail -n 40 "$build/fuzz-build.log"; exit 1; }

mkdir -p "$build/crashes" "$build/corpus"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
status=0
printf '%-24s %12s %8s %8s %8s  %s\n' target executions exec/s cov features result
for target in $targets; do
    work="$build/corpus/$target"
    mkdir -p "$work"
    log="$build/$target.log"
    # New inputs go to the working corpus; the seeds in the repo stay as they are.
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" -timeout=10 -rss_limit_mb=4096 \
        "$work" "tests/fuzz/corpus/$target" > "$log" 2>&1
    rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
    speed=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*')
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*')
    result=ok
    if [ $rc -ne 0 ]; then
        result="CRASH (see $log)"
        status=1
    fi
    printf '%-24s %12s %8s %8s %8s  %s\n' "$target" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit $status

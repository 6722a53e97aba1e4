#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (default 20 s) from its seeds. Fails when a target finds a crash; the input
# that crashed it is left in build-fuzz/.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
dir=build-fuzz

echo "=== fuzzing, ${seconds} s per target ==="
# A folder of the fuzz targets' former project of their own is made afresh.
grep -qs "^CMAKE_HOME_DIRECTORY:INTERNAL=$PWD\$" "$dir/CMakeCache.txt" || rm -rf "$dir"
mkdir -p "$dir"
if ! { CC=clang CXX=clang++ cmake -S . -B "$dir" -DGLOWBRAND_FUZZ=ON -DGLOWBRAND_TESTS=OFF &&
       cmake --build "$dir" -j 2 --target fuzz_targets; } >"$dir/build.log" 2>&1; then
    tail -n 40 "$dir/build.log"
    echo "fuzz targets: build failed"
    exit 1
fi
rm -rf "$dir/seeds"
"$dir/make_fuzz_seeds" "$dir/seeds" || { echo "fuzz seeds: cannot be made"; exit 1; }

failed=0
for target in report_decoding script_parser wav_image wav_decoder; do
    # Each run starts from the seeds alone: a corpus grown over many runs
    # would spend the time budget replaying itself.
    corpus="$dir/corpus/$target"
    rm -rf "$corpus"
    mkdir -p "$corpus"
    log="$dir/$target.log"
    # New inputs go to the first folder; the seeds are only read.
    max_len=4096
    case $target in wav_image | wav_decoder) max_len=65536 ;; esac
    if (cd "$dir" && "./fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" \
            -print_final_stats=1 "corpus/$target" "seeds/$target") >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, no crash"
    else
        tail -n 30 "$log"
        echo "fuzz_$target: FAILED (see $log)"
        failed=1
    fi
done
exit "$failed"

#!/usr/bin/env bash
# Runs each libFuzzer target of BUILD for SECONDS: first the crashes kept in fuzz/regressions, then
# the fuzzer from the seed corpus in fuzz/corpus. New inputs go to BUILD/fuzz-corpus, crashes to
# BUILD/fuzz-artifacts; any crash fails the run. Prints each target's executions.
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD SECONDS}
seconds=${2:-30}
src=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
for target in scenario cli ringlog; do
    bin="$build/fuzz/fuzz_$target"
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    log="$build/fuzz-$target.log"
    regressions=("$src/fuzz/regressions/$target"/*)
    if [ -e "${regressions[0]}" ] && ! "$bin" "${regressions[@]}" >"$log.replay" 2>&1; then
        echo "fuzz_$target: a kept regression input crashes again:" >&2
        tail -n 40 "$log.replay" >&2
        failed=$((failed + 1))
        continue
    fi
    dict=()
    [ -f "$src/fuzz/$target.dict" ] && dict=(-dict="$src/fuzz/$target.dict")
    if ! "$bin" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$src/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "fuzz_$target: crashed; the input is in $artifacts (keep it in fuzz/regressions/$target):" >&2
        tail -n 60 "$log" >&2
        failed=$((failed + 1))
        continue
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: ${runs:-?} executions in ${seconds} s, no crash"
    passed=$((passed + 1))
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

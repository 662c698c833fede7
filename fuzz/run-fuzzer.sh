#!/bin/sh
# Runs one fuzz target for a bounded time from its committed seeds.
# Usage: run-fuzzer.sh <target> <seed folder> <working corpus folder> <seconds>
# Exits with the fuzzer's status: non-zero on a crash, a broken property, a leak, a time-out
# (one input taking more than 10 s) or memory beyond 2 GB. The input that did it is kept in the
# working corpus folder's parent, named crash-*, leak-*, timeout-* or oom-*.
set -eu
target=$1
seeds=$2
corpus=$3
seconds=$4
mkdir -p "$corpus"
cp -f "$seeds"/* "$corpus"/
cd "$(dirname "$corpus")"
status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1} \
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
        -print_final_stats=1 "$corpus" || status=$?
exit "$status"

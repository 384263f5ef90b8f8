#!/usr/bin/env bash
# Builds Tessel and runs the benchmarks under Wine on a private X display.
source "$(dirname "$0")/env.sh"
"$TESSEL_ROOT/tools/build.sh"
source "$TESSEL_ROOT/tools/session.sh"
tessel_start_session
tessel_step "running the benchmarks"
for bench in bench_rebuild bench_storm bench_latency bench_chart bench_startup bench_startup_steps \
    bench_download bench_recording_read; do
    echo "== $bench"
    "$TESSEL_WINE" "$TESSEL_BUILD_DIR/bench/$bench.exe"
done
echo "== bench_zip"
source "$TESSEL_ROOT/tools/bench-zip.sh"
tessel_bench_zip
echo "== bench_cpu"
"$TESSEL_ROOT/bench/bench_cpu.sh"

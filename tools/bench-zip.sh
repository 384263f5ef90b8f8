#!/usr/bin/env bash
# Sourced by bench.sh inside its Wine session: ExtractZip against Info-ZIP's
# unzip -o on the same 200 MB archive, three alternating rounds each, into
# fresh folders on the same file system. Prints the medians and their ratio
# (unzip's time over ExtractZip's: above 1.0 means ExtractZip is faster),
# then bench_zip_steps' step times for the same archive: reading, inflating,
# CRC, and the file system's floor (the same files written with no
# decoding), measured in the same run.

tessel_bench_zip() {
    local data=$TESSEL_BUILD_DIR/bench-data
    local archive=$data/mixed.zip
    mkdir -p "$data"
    python3 "$TESSEL_ROOT/tools/make_bench_zip.py" "$archive"
    local ours=() theirs=() start end
    for _ in 1 2 3; do
        rm -rf "$data/unzip" "$data/extract"
        start=$(date +%s%N)
        unzip -o -q "$archive" -d "$data/unzip"
        end=$(date +%s%N)
        theirs+=($(( (end - start) / 1000000 )))
        mkdir -p "$data/extract"
        ours+=($("$TESSEL_WINE" "$TESSEL_BUILD_DIR/bench/bench_zip.exe" \
            "$(winepath_w "$archive")" "$(winepath_w "$data/extract")\\" | tr -d '\r'))
    done
    rm -rf "$data/unzip" "$data/extract"
    mkdir -p "$data/steps"
    "$TESSEL_WINE" "$TESSEL_BUILD_DIR/bench/bench_zip_steps.exe" \
        "$(winepath_w "$archive")" "$(winepath_w "$data/steps")\\" | tr -d '\r'
    rm -rf "$data/steps"
    python3 - "${ours[*]}" "${theirs[*]}" <<'PY'
import statistics, sys
ours = [float(x) for x in sys.argv[1].split()]
theirs = [float(x) for x in sys.argv[2].split()]
o, t = statistics.median(ours), statistics.median(theirs)
print("ExtractZip  median %.0f ms  (runs %s)" % (o, ", ".join("%.0f" % x for x in ours)))
print("unzip -o    median %.0f ms  (runs %s)" % (t, ", ".join("%.0f" % x for x in theirs)))
print("ratio (unzip / ExtractZip): %.2f" % (t / o))
PY
}

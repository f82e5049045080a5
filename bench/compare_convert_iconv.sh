#!/usr/bin/env bash
# Compares the code table conversion (4 MiB of Shift-JIS text through a table
# of every Shift-JIS double-byte code) with iconv on the same bytes.
# Targets: at least 100 MB/s, and no slower than iconv.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build/convert_bench --write-input "$work/sjis.txt"

build/convert_bench --benchmark_filter=Convert --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/bench.json" 2>/dev/null
ours=$(python3 -c '
import json,sys
d=json.load(open(sys.argv[1]))
for b in d["benchmarks"]:
    if b["name"]=="BM_ConvertShiftJisToUtf8_median": print(b["bytes_per_second"]/1e6)
' "$work/bench.json")

# iconv: best of 5 runs, wall time of the whole command.
best=""
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  iconv -f SHIFT_JIS -t UTF-8 "$work/sjis.txt" >/dev/null
  end=$(date +%s%N)
  t=$((end - start))
  if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
done
size=$(stat -c %s "$work/sjis.txt")
theirs=$(python3 -c "print($size / ($best / 1e9) / 1e6)")
python3 - "$ours" "$theirs" <<'PY'
import sys
ours, theirs = float(sys.argv[1]), float(sys.argv[2])
print(f"fpskit ConvertSequences (Shift-JIS -> UTF-8): {ours:8.1f} MB/s  (target >= 100 MB/s: {'met' if ours >= 100 else 'MISSED'})")
print(f"iconv -f SHIFT_JIS -t UTF-8 (whole command):  {theirs:8.1f} MB/s  (fpskit / iconv = {ours / theirs:.2f}: {'met' if ours >= theirs else 'MISSED'})")
PY

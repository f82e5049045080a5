#!/usr/bin/env bash
# Compares the code table conversion (4 MiB of Shift-JIS text through a table
# of every Shift-JIS double-byte code) with iconv on the same bytes.
# Targets: at least 100 MB/s, and no slower than iconv. Then the whole
# "uncht" process on a 4 MiB chat file through that table (JPCODES.TXT) against
# the whole iconv process on the 4 MiB of text: target <= 1.0 x (best of 5
# runs each, the load average printed beside them; with
# FPSKIT_BASELINE=/path/to/an/older/fpskit the older binary runs beside it).
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

# ---- the whole "uncht" process against the whole iconv process
build/chtx_bench --write-input "$work"
best_of() {  # command...: the best wall time of 5 runs, in nanoseconds
  local best="" start end t
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}
iconv_ns=$(cd "$work" && best_of iconv -f SHIFT_JIS -t UTF-8 sjis.txt)
printf '  iconv -f SHIFT_JIS -t UTF-8, 4 MiB (whole command): %7.1f ms  (load %s)\n' \
  "$(awk -v t="$iconv_ns" 'BEGIN { print t / 1e6 }')" "$(cut -d' ' -f1 /proc/loadavg)"
binaries=("$PWD/build/fpskit")
labels=(new)
if [ -n "${FPSKIT_BASELINE:-}" ]; then binaries+=("$FPSKIT_BASELINE"); labels+=(old); fi
for k in "${!binaries[@]}"; do
  uncht_ns=$(cd "$work" && best_of "${binaries[$k]}" uncht chat.cht utf8)
  awk -v t="$uncht_ns" -v i="$iconv_ns" -v l="${labels[$k]}" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
    printf "  uncht (%s), 4 MiB chat file (whole command):       %7.1f ms  (load %s)  uncht / iconv = %.2f (target <= 1.00: %s)\n",
      l, t / 1e6, load, t / i, (t <= i ? "met" : "MISSED") }'
done

#!/usr/bin/env bash
# Runs the LZSS benchmark and prints, per data set, the encoding speed of the
# library's encoder, of the direct step-by-step encoder, their ratio, and the
# decoding speed. Usage: bench/lzss_compare.sh [build directory] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
repetitions="${2:-3}"
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$build/lzss_bench" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$json"
python3 - "$json" <<'PYTHON'
import json, sys
results = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        results[b["run_name"]] = b["bytes_per_second"] / 1e6
print(f"{'data':<12}{'fast MB/s':>11}{'direct MB/s':>13}{'fast/direct':>13}{'decode MB/s':>13}")
for data in ("Script", "Random", "Repetitive"):
    fast = results.get(f"BM_LzssEncodeFast_{data}")
    direct = results.get(f"BM_LzssEncodeDirect_{data}")
    decode = results.get(f"BM_LzssDecode_{data}")
    if fast is None or direct is None:
        continue
    print(f"{data:<12}{fast:>11.1f}{direct:>13.1f}{fast / direct:>13.2f}{decode or 0:>13.1f}")
members = results.get("BM_LzssDecodeMembers_Script")
if members:
    print(f"script members of 24 KiB decoded one by one: {members:.1f} MB/s")
PYTHON

#!/usr/bin/env bash
# Runs "check" over the tree benchmark's 200 chat, script and SCF files with
# and without LIMITS.TXT (every text measured against every kind of limit) and
# prints what the limits add, against the target of at most 20%. The machine
# may be shared: the fastest repetition counts, and the load average is
# printed beside the figures.
# Usage: bench/compare_check_limits.sh [build directory] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
repetitions="${2:-3}"
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
FPSKIT="$PWD/$build/fpskit" "$build/tree_bench" --benchmark_filter='TreeCheck' \
  --benchmark_repetitions="$repetitions" --benchmark_format=json >"$json" 2>/dev/null
python3 - "$json" "$(nproc)" <<'PYTHON'
import json, sys
ms = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("error_occurred"):
        sys.exit(f"{b['run_name']}: {b.get('error_message')}")
    if b.get("run_type") == "iteration":
        name = b["run_name"].split("/")[0]
        ms[name] = min(ms.get(name, float("inf")), b["real_time"])
print(f"hardware threads: {sys.argv[2]}; load average {open('/proc/loadavg').read().split()[0]}")
plain, limits = ms["TreeCheck"], ms["TreeCheckLimits"]
print(f"check: {plain:6.0f} ms, with LIMITS.TXT {limits:6.0f} ms: +{(limits / plain - 1) * 100:.1f}% (target <= 20%)")
PYTHON

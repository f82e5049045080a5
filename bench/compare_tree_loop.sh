#!/usr/bin/env bash
# Runs the tree benchmark and prints the wall time of "dump" and "insert" over
# a tree of 200 chat, script and SCF files against the single-file words run
# once per file from a shell loop, with the ratio to the target of 0.3 (on 2
# cores). The machine may be shared: the fastest repetition counts, and the
# load average is printed beside the figures.
# Usage: bench/compare_tree_loop.sh [build directory] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
repetitions="${2:-3}"
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
FPSKIT="$PWD/$build/fpskit" "$build/tree_bench" --benchmark_repetitions="$repetitions" --benchmark_format=json \
  >"$json" 2>/dev/null
python3 - "$json" "$(nproc)" <<'PYTHON'
import json, sys
ms = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration":
        name = b["run_name"].split("/")[0]
        ms[name] = min(ms.get(name, float("inf")), b["real_time"])
print(f"hardware threads: {sys.argv[2]}; load average {open('/proc/loadavg').read().split()[0]}")
for word in ("Dump", "Insert"):
    tree, loop = ms["Tree" + word], ms["Loop" + word]
    print(f"{word.lower():<6}: tree {tree:7.0f} ms, shell loop {loop:7.0f} ms: {tree / loop:.2f} x (target <= 0.30)")
PYTHON

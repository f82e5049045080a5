#!/usr/bin/env bash
# Runs the script benchmark and prints the wall time of "tss2" on an 8 MiB
# container (all hardware threads and one) against the reference LZSS
# encoder on the same members, with the ratio to the target of 0.6, and the
# times of "untss" and "tss" on a 4 MiB script (target: well under a second).
# The machine may be shared: the fastest of the repetitions counts, and the
# load average is printed beside the figures.
# Usage: bench/scel_compare.sh [build directory] [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
repetitions="${2:-3}"
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$build/scel_bench" --benchmark_repetitions="$repetitions" --benchmark_format=json >"$json" 2>/dev/null
python3 - "$json" "$(nproc)" <<'PYTHON'
import json, sys
ms, cpu = {}, {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration":
        ms[b["run_name"]] = min(ms.get(b["run_name"], float("inf")), b["real_time"])
        cpu[b["run_name"]] = min(cpu.get(b["run_name"], float("inf")), b["cpu_time"])
reference = ms["ReferenceEncodeMembers/real_time"]
print(f"hardware threads: {sys.argv[2]}; load average {open('/proc/loadavg').read().split()[0]}")
print(f"reference encoder, members one after another: {reference:8.0f} ms")
for name, label in (("Tss2Merge/0/real_time", "all threads"), ("Tss2Merge/1/real_time", "one thread")):
    print(f"tss2, {label:<11}: {ms[name]:8.0f} ms   {ms[name] / reference:.2f} x the reference (target <= 0.60)")
# On a loaded machine wall times wander; the processor time of the one-thread
# runs shows the work itself.
one, ref = cpu["Tss2Merge/1/real_time"], cpu["ReferenceEncodeMembers/real_time"]
print(f"processor time, one thread: tss2 {one:.0f} ms, reference {ref:.0f} ms: {one / ref:.2f} x")
print(f"untss of a 4 MiB script: {ms['Untss/real_time']:6.0f} ms")
print(f"tss of a 4 MiB script:   {ms['Tss/real_time']:6.0f} ms")
PYTHON

#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp, with ASan and UBSan) and runs
# each for a while: scripts/fuzz.sh [seconds per target, default 60]
# [targets...]. Each run starts from the committed seeds in fuzz/corpus/<name>/
# and keeps what it finds in build-fuzz/corpus/<name>/; a crashing input is
# written to build-fuzz/crashes/ and belongs in fuzz/corpus/<name>/ with its
# fix. FUZZ_JOBS targets run side by side (default 1), FUZZ_RUNS caps the
# executions per target (default: no cap).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if ! command -v clang++ >/dev/null; then
  sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq clang
fi
scripts/build.sh fuzz
seconds="${1:-60}"
shift || true
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for target in build-fuzz/*_fuzz; do targets+=("$(basename "$target" _fuzz)"); done
fi
mkdir -p build-fuzz/crashes build-fuzz/logs
# The targets that unpack archives write files for every input: in memory
# when the machine has a memory file system.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

run_target() {
  local name="$1"
  local corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  local status=0
  build-fuzz/"${name}_fuzz" -max_total_time="$seconds" -runs="${FUZZ_RUNS:--1}" -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$name-" \
    "$corpus" "fuzz/corpus/$name" >"build-fuzz/logs/$name.log" 2>&1 || status=$?
  echo "== $name (exit $status)"
  grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "build-fuzz/logs/$name.log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "build-fuzz/logs/$name.log" || true
  grep -E 'ERROR: |SUMMARY: ' "build-fuzz/logs/$name.log" | head -n 3 || true
  return $status
}

failed=0
running=0
for name in "${targets[@]}"; do
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "${FUZZ_JOBS:-1}" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"

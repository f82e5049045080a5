#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp, with ASan and UBSan) and runs
# each for a while: scripts/fuzz.sh [seconds per target, default 60].
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if ! command -v clang++ >/dev/null; then
  sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq clang
fi
scripts/build.sh fuzz
seconds="${1:-60}"
for target in build-fuzz/*_fuzz; do
  echo "== $target ($seconds s)"
  corpus="build-fuzz/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  "$target" -max_total_time="$seconds" -max_len=65536 -close_fd_mask=1 "$corpus" 2>&1 | tail -n 2
done

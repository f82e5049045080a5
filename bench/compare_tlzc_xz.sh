#!/usr/bin/env bash
# Times TLZC compression and decompression of 32 MiB of mixed data with one
# thread and with every hardware thread, and xz's LZMA with the same encoder
# settings on one thread; prints the ratios against the targets.
#
#   bench/compare_tlzc_xz.sh [RUNS]    (default 3 runs; the fastest run counts)
#
# Targets: compression with all threads <= 0.6 x the one-thread time and
# <= 0.5 x xz's; decompression with all threads <= 0.7 x "xz -dc"; the
# container identical for every thread count.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"

scripts/build.sh release >/dev/null
bench=build/tlzc_bench
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$bench" --write-input "$work/input.bin" 32
threads="$(nproc)"
xz_settings="--lzma1=dict=64KiB,lc=3,lp=0,pb=2,mode=normal,nice=32,mf=bt4,depth=32"

# Fastest wall time in seconds of RUNS runs of a command.
best_time() {
  local best="" start end seconds
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@"
    end=$(date +%s%N)
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    if [ -z "$best" ] || awk -v s="$seconds" -v b="$best" 'BEGIN { exit !(s < b) }'; then best="$seconds"; fi
  done
  echo "$best"
}

compress_one=$(best_time "$bench" --compress "$work/input.bin" "$work/one.tlzc" 1)
compress_all=$(best_time "$bench" --compress "$work/input.bin" "$work/all.tlzc" "$threads")
decompress_one=$(best_time "$bench" --decompress "$work/one.tlzc" "$work/one.out" 1)
decompress_all=$(best_time "$bench" --decompress "$work/all.tlzc" "$work/all.out" "$threads")
xz_compress=$(best_time sh -c "xz --format=lzma $xz_settings -T1 -c '$work/input.bin' > '$work/input.lzma'")
xz_decompress=$(best_time sh -c "xz --format=lzma -dc '$work/input.lzma' > '$work/xz.out'")

identical=yes
cmp -s "$work/one.tlzc" "$work/all.tlzc" || identical=no
cmp -s "$work/input.bin" "$work/all.out" || { echo "decompressed data differs from the input"; exit 1; }
cmp -s "$work/input.bin" "$work/xz.out" || { echo "xz round trip differs from the input"; exit 1; }

size_of() { stat -c %s "$1"; }
echo "input 32 MiB mixed data; $threads hardware threads; best of $runs runs (wall seconds)"
printf '  fpskit compress    1 thread : %7s s  -> %d bytes\n' "$compress_one" "$(size_of "$work/one.tlzc")"
printf '  fpskit compress   %2d threads: %7s s\n' "$threads" "$compress_all"
printf '  xz compress        1 thread : %7s s  -> %d bytes\n' "$xz_compress" "$(size_of "$work/input.lzma")"
printf '  fpskit decompress  1 thread : %7s s\n' "$decompress_one"
printf '  fpskit decompress %2d threads: %7s s\n' "$threads" "$decompress_all"
printf '  xz -dc                      : %7s s\n' "$xz_decompress"

check() {  # name value target
  awk -v n="$1" -v v="$2" -v t="$3" 'BEGIN { printf "  %-46s %.2f (target <= %.2f) %s\n", n, v, t, (v <= t ? "met" : "MISSED") }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", a / b }'; }
echo "ratios"
check "compress all threads / compress 1 thread" "$(ratio "$compress_all" "$compress_one")" 0.6
check "compress all threads / xz compress" "$(ratio "$compress_all" "$xz_compress")" 0.5
check "decompress all threads / xz -dc" "$(ratio "$decompress_all" "$xz_decompress")" 0.7
echo "  container identical for 1 and $threads threads: $identical"

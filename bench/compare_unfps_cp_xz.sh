#!/usr/bin/env bash
# Times "unfps" against standard tools on the same bytes:
#   - an archive holding a 32 MiB TLZC member (the TLZC benchmark's mixed
#     data) against "xz -dc" of that data compressed by xz with the same
#     settings: target <= 0.55 x, into a fresh directory and over the
#     directory of the run before;
#   - an archive holding one BIG MiB TLZC member (default 512): its time, and
#     a peak resident set of at most 80 MiB;
#   - an archive of about 1 GiB of plain members (1 KiB to 256 MiB) against
#     "cp" of the archive file: target <= 1.3 x into a fresh directory and
#     over the run before, and a peak resident set of at most 80 MiB.
# Each case runs RUNS times, the standard tool back to back with it; the
# fastest run counts, printed with the load average right after it. With
# FPSKIT_BASELINE=/path/to/an/older/fpskit, the older binary runs beside the
# new one in every case.
#
#   bench/compare_unfps_cp_xz.sh [RUNS] [MIB] [BIG]   (default 3 runs, 1024 MiB, 512 MiB; BIG 0 skips it)
#
# The big files go to a directory under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
mib="${2:-1024}"
big="${3:-512}"

bench_name=unfps
. bench/archive_common.sh

# ---- 32 MiB TLZC member against xz -dc
"$bench" --write-tlzc "$work/tlzc.dat" "$work/member.bin"
xz --format=lzma $xz_settings -T1 -c "$work/member.bin" > "$work/member.lzma"
for _ in $(seq "$runs"); do
  for k in "${!binaries[@]}"; do
    rm -rf "$work/tlzc"
    run "tlzc-fresh-${labels[$k]}" "${binaries[$k]}" unfps "$work/tlzc.dat"
    run "tlzc-again-${labels[$k]}" "${binaries[$k]}" unfps "$work/tlzc.dat"
  done
  run xz-dc sh -c "xz --format=lzma -dc '$work/member.lzma' > '$work/xz.out'"
done
cmp -s "$work/member.bin" "$work/tlzc/tlzc_001.bin" || { echo "the unpacked member differs from its data"; exit 1; }
cmp -s "$work/member.bin" "$work/xz.out" || { echo "the xz round trip differs from the data"; exit 1; }
rm -rf "$work/tlzc" "$work/xz.out" "$work/member.lzma" "$work"/*.bin "$work"/*.dat

# ---- one BIG MiB TLZC member
if [ "$big" -gt 0 ]; then
  "$bench" --write-tlzc "$work/big.dat" "$work/big.bin" "$big"
  for _ in $(seq "$runs"); do
    for k in "${!binaries[@]}"; do
      rm -rf "$work/big"
      run "big-fresh-${labels[$k]}" "${binaries[$k]}" unfps "$work/big.dat"
    done
  done
  cmp -s "$work/big.bin" "$work/big/big_001.bin" || { echo "the unpacked big member differs from its data"; exit 1; }
  rm -rf "$work/big" "$work"/big.*
fi

# ---- about 1 GiB of plain members against cp
"$bench" --write-plain "$work/plain.dat" "$mib"
size=$(stat -c %s "$work/plain.dat")
for _ in $(seq "$runs"); do
  rm -f "$work/copy.dat"
  run cp cp "$work/plain.dat" "$work/copy.dat"
  rm -f "$work/copy.dat"
  for k in "${!binaries[@]}"; do
    rm -rf "$work/plain"
    run "plain-fresh-${labels[$k]}" "${binaries[$k]}" unfps "$work/plain.dat"
    run "plain-again-${labels[$k]}" "${binaries[$k]}" unfps "$work/plain.dat"
  done
done
members=$(ls "$work/plain" | wc -l)
largest=$(ls -S "$work/plain" | head -n 1)
cmp -s <(head -c $((2048 + $(stat -c %s "$work/plain/$largest"))) "$work/plain.dat" | tail -c +2049) "$work/plain/$largest" \
  || { echo "the first member differs from the archive's bytes"; exit 1; }

echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg); best of $runs runs (wall seconds, peak resident set)"
for label in "${labels[@]}"; do
  show "tlzc-fresh-$label" "unfps ($label), 32 MiB TLZC member, fresh directory"
  show "tlzc-again-$label" "unfps ($label), 32 MiB TLZC member, over the last run"
done
show xz-dc "xz --format=lzma -dc"
if [ "$big" -gt 0 ]; then
  for label in "${labels[@]}"; do show "big-fresh-$label" "unfps ($label), $big MiB TLZC member"; done
fi
for label in "${labels[@]}"; do
  show "plain-fresh-$label" "unfps ($label), $members plain members, $((size >> 20)) MiB, fresh"
  show "plain-again-$label" "unfps ($label), the same over the last run"
done
show cp "cp of the archive"
echo "ratios"
for label in "${labels[@]}"; do
  ratio_of "tlzc-fresh-$label" xz-dc 0.55 "unfps ($label) TLZC member / xz -dc, fresh"
  ratio_of "tlzc-again-$label" xz-dc 0.55 "unfps ($label) TLZC member / xz -dc, again"
  if [ "$big" -gt 0 ]; then peak_of "big-fresh-$label" 80 "unfps ($label) $big MiB member peak RSS (MiB)"; fi
  ratio_of "plain-fresh-$label" cp 1.3 "unfps ($label) plain members / cp, fresh"
  ratio_of "plain-again-$label" cp 1.3 "unfps ($label) plain members / cp, again"
  peak_of "plain-fresh-$label" 80 "unfps ($label) plain members peak RSS (MiB)"
done

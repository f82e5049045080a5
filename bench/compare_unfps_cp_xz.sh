#!/usr/bin/env bash
# Times "unfps" against standard tools on the same bytes:
#   - an archive holding a 32 MiB TLZC member (the TLZC benchmark's mixed
#     data) against "xz -dc" of that data compressed by xz with the same
#     settings: target <= 0.7 x;
#   - an archive of about 1 GiB of plain members (1 KiB to 256 MiB) against
#     "cp" of the archive file: target <= 1.3 x, and a peak resident set of
#     at most 80 MiB.
# Each pair runs back to back, RUNS times; the fastest run of each counts.
#
#   bench/compare_unfps_cp_xz.sh [RUNS] [MIB]     (default 3 runs, 1024 MiB)
#
# The big files go to a directory under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
mib="${2:-1024}"

bench_name=unfps
. bench/archive_common.sh

# ---- 32 MiB TLZC member against xz -dc
"$bench" --write-tlzc "$work/tlzc.dat" "$work/member.bin"
xz --format=lzma $xz_settings -T1 -c "$work/member.bin" > "$work/member.lzma"
unfps_tlzc="" xz_dc="" unfps_tlzc_rss=""
for _ in $(seq "$runs"); do
  rm -rf "$work/tlzc"
  read -r wall rss < <(measure "$fpskit" unfps "$work/tlzc.dat")
  unfps_tlzc=$(min "$unfps_tlzc" "$wall"); unfps_tlzc_rss=$(min "$unfps_tlzc_rss" "$rss")
  read -r wall rss < <(measure sh -c "xz --format=lzma -dc '$work/member.lzma' > '$work/xz.out'")
  xz_dc=$(min "$xz_dc" "$wall")
done
cmp -s "$work/member.bin" "$work/tlzc/tlzc_001.bin" || { echo "the unpacked member differs from its data"; exit 1; }
cmp -s "$work/member.bin" "$work/xz.out" || { echo "the xz round trip differs from the data"; exit 1; }
rm -rf "$work/tlzc" "$work/xz.out" "$work/member.lzma"

# ---- about 1 GiB of plain members against cp
"$bench" --write-plain "$work/plain.dat" "$mib"
size=$(stat -c %s "$work/plain.dat")
unfps_plain="" cp_plain="" unfps_rss="" cp_rss=""
for _ in $(seq "$runs"); do
  rm -f "$work/copy.dat"
  read -r wall rss < <(measure cp "$work/plain.dat" "$work/copy.dat")
  cp_plain=$(min "$cp_plain" "$wall"); cp_rss=$(min "$cp_rss" "$rss")
  rm -f "$work/copy.dat"
  rm -rf "$work/plain"
  read -r wall rss < <(measure "$fpskit" unfps "$work/plain.dat")
  unfps_plain=$(min "$unfps_plain" "$wall"); unfps_rss=$(min "$unfps_rss" "$rss")
done
members=$(ls "$work/plain" | wc -l)
largest=$(ls -S "$work/plain" | head -n 1)
cmp -s <(head -c $((2048 + $(stat -c %s "$work/plain/$largest"))) "$work/plain.dat" | tail -c +2049) "$work/plain/$largest" \
  || { echo "the first member differs from the archive's bytes"; exit 1; }

echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg); best of $runs runs (wall seconds, peak resident set)"
printf '  unfps, 32 MiB TLZC member      : %7s s  %6d KiB\n' "$unfps_tlzc" "$unfps_tlzc_rss"
printf '  xz --format=lzma -dc           : %7s s\n' "$xz_dc"
printf '  unfps, %d plain members, %d MiB: %7s s  %6d KiB\n' "$members" $((size >> 20)) "$unfps_plain" "$unfps_rss"
printf '  cp of the archive              : %7s s  %6d KiB\n' "$cp_plain" "$cp_rss"
echo "ratios"
check "unfps TLZC member / xz -dc" "$(ratio "$unfps_tlzc" "$xz_dc")" 0.7
check "unfps plain members / cp" "$(ratio "$unfps_plain" "$cp_plain")" 1.3
check "unfps plain members peak RSS (MiB)" "$(awk -v k="$unfps_rss" 'BEGIN { printf "%.1f", k / 1024 }')" 80
